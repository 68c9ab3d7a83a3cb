// An updater without a window for tools/ci/lock-race.sh. It prints "waiting",
// blocks in opening the FIFO named by its argument until the script opens it
// for writing, so that two of them start an update on one data folder at the
// same moment, and prints the run's outcome.
#include "app/startup.h"
#include "update/firmwareupdater.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    Strobix::setApplicationIdentity();
    Strobix::prepareDataFolder();
    Strobix::FirmwareUpdater updater;
    QObject::connect(&updater, &Strobix::FirmwareUpdater::finished, [&](bool ok) {
        std::puts(ok ? "ok" : updater.errorText.toUtf8().constData());
        app.quit();
    });
    std::puts("waiting");
    std::fflush(stdout);
    QFile go(QString::fromLocal8Bit(argv[1]));
    if (!go.open(QIODevice::ReadOnly))
        return 2;
    updater.startUpdate(nullptr);
    return app.exec();
}
