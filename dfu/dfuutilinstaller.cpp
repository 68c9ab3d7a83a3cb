#include "dfu/dfuutilinstaller.h"

#include <QStringList>

namespace Strobix {

DfuUtilInstaller::DfuUtilInstaller(const QString &imagePath)
    : imagePath(imagePath)
{
}

void DfuUtilInstaller::process()
{
    const QStringList arguments{
        QStringLiteral("-d"), QString::fromLatin1(dfuDeviceId),
        QStringLiteral("-c"), QStringLiteral("1"),
        QStringLiteral("-i"), QStringLiteral("0"),
        QStringLiteral("-a"), QStringLiteral("0"),
        QStringLiteral("-D"), imagePath,
    };
    emit result(execute(arguments));
}

} // namespace Strobix
