// Strobix::DfuUtil::execute forwarding a tool that prints a lot in small
// writes, as the updater runs it: in a worker thread, its logOutput queued to
// the updater's own progress reader in the main thread. "endless" has the tool
// print one line that never ends.
//
//   toolbench FLOODTOOL SIZE WRITE [endless]
//     prints "ms=<run ms> rss_kib=<peak> chars=<text received> log=<log bytes>"
//
// The time runs from the thread's start until the receiver has taken the last chunk.

#include "app/globals.h"
#include "dfu/dfuutil.h"
#include "update/firmwareupdater.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <sys/resource.h>

namespace {

class Flood : public Strobix::DfuUtil
{
    Q_OBJECT
public:
    QStringList arguments;
signals:
    void done(bool ok);
public slots:
    void process() override { emit done(execute(arguments)); }
};

class Receiver : public QObject
{
    Q_OBJECT
public:
    qint64 chars = 0;
    int lastPercent = -1;
public slots:
    void log(const QString &text) { chars += text.size(); }
    void progress(int percent) { lastPercent = percent; }
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: toolbench FLOODTOOL SIZE WRITE [endless]\n");
        return 2;
    }
    QTemporaryDir dir;
    if (!dir.isValid() || !QDir(dir.path()).mkpath(QStringLiteral("dfu-util"))
        || !QFile::link(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath(),
                        dir.filePath(QString::fromLatin1(Strobix::DfuUtil::programPath)))) {
        std::fprintf(stderr, "toolbench: cannot set up %s\n", qPrintable(dir.path()));
        return 2;
    }
    Strobix::dataFolder = dir.path() + QLatin1Char('/');
    QDir::setCurrent(dir.path());

    auto *worker = new Flood;
    for (int i = 2; i < argc; ++i)
        worker->arguments << QString::fromLocal8Bit(argv[i]);
    QThread thread;
    worker->moveToThread(&thread);
    Receiver receiver;
    Strobix::FirmwareUpdater updater;
    QElapsedTimer timer;
    double ms = -1;
    bool ok = false;
    QObject::connect(&thread, &QThread::started, worker, &Flood::process);
    QObject::connect(worker, &Strobix::DfuUtil::logOutput, &receiver, &Receiver::log);
    // As the updater connects its workers.
    QObject::connect(worker, SIGNAL(logOutput(QString)), &updater, SLOT(log(QString)));
    QObject::connect(&updater, &Strobix::FirmwareUpdater::fortschritt, &receiver, &Receiver::progress);
    // Queued behind every logOutput, so it arrives once the receiver has all.
    QObject::connect(worker, &Flood::done, &app, [&](bool result) {
        ms = timer.nsecsElapsed() / 1e6;
        ok = result;
        thread.quit();
        app.quit();
    });
    timer.start();
    thread.start();
    app.exec();
    thread.wait();
    delete worker;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const qint64 logSize = QFileInfo(Strobix::dataFolder + QString::fromLatin1(Strobix::DfuUtil::logFileName)).size();
    std::printf("ms=%.3f rss_kib=%ld chars=%lld log=%lld percent=%d\n", ms, usage.ru_maxrss,
                static_cast<long long>(receiver.chars), static_cast<long long>(logSize), receiver.lastPercent);
    return ok ? 0 : 1;
}

#include "toolbench.moc"
