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
    // Exit code 0 too: dfu-util can show a full bar for one element and then
    // fail on the next one before it prints another figure.
    int exitCode = -1;
    const bool ran = execute(arguments, &exitCode);
    emit result(ran && exitCode == 0);
}

} // namespace Strobix
