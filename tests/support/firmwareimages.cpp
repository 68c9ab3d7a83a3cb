#include "firmwareimages.h"

#include <QProcess>

QString buildFirmwareImages(const QString &script, const QString &images, const QString &broken)
{
    const int limitMs = 120000; // a bound on hangs, not a speed target
    QProcess made;
    QProcess madeBroken;
    for (QProcess *p : {&made, &madeBroken})
        p->setProcessChannelMode(QProcess::MergedChannels);
    made.start(QStringLiteral("bash"), {script, images});
    madeBroken.start(QStringLiteral("bash"), {script, QStringLiteral("--broken"), broken});
    for (QProcess *p : {&made, &madeBroken}) {
        if (!p->waitForFinished(limitMs) || p->exitStatus() != QProcess::NormalExit || p->exitCode() != 0)
            return QStringLiteral("make-images.sh failed: ") + QString::fromLocal8Bit(p->readAll());
    }
    return QString();
}
