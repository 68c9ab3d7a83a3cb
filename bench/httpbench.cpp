// One download through Strobix::Http under its real progress dialog, over the
// shown main window, then the transfer time and the process's peak RSS. As in
// the updater, Http::prepare() comes first, for as long as the quickest
// identification takes; the time runs from download() to finished().
//
//   httpbench URL OUTFILE     prints "ms=<transfer ms> rss_kib=<peak> bytes=<file size>"
//
// Exits 1 when the download failed.

#include "net/http.h"
#include "ui/updatewidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <sys/resource.h>

namespace {
const int quickestIdentificationMs = 10;
} // namespace

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: httpbench URL OUTFILE\n");
        return 2;
    }
    Strobix::UpdateWidget parent(nullptr);
    parent.show();

    QFile file(QString::fromLocal8Bit(argv[2]));
    file.remove();
    Strobix::Http http;
    http.prepare(QUrl(QString::fromLocal8Bit(argv[1])));
    {
        // One identification read on the virtual unit takes about this long.
        QEventLoop identification;
        QTimer::singleShot(quickestIdentificationMs, &identification, &QEventLoop::quit);
        identification.exec();
    }
    QElapsedTimer timer;
    double ms = -1;
    QObject::connect(&http, &Strobix::Http::finished, [&] {
        ms = timer.nsecsElapsed() / 1e6;
        app.quit();
    });
    timer.start();
    http.download(QString::fromLocal8Bit(argv[1]), &file, &parent);
    app.exec();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const qint64 size = QFile(file.fileName()).size();
    std::printf("ms=%.3f rss_kib=%ld bytes=%lld\n", ms, usage.ru_maxrss,
                static_cast<long long>(size));
    return file.exists() ? 0 : 1;
}
