// One download through Strobix::Http under its real progress dialog, over a
// shown parent window, then the transfer time and the process's peak RSS.
//
//   httpbench URL OUTFILE     prints "ms=<transfer ms> rss_kib=<peak> bytes=<file size>"
//
// Exits 1 when the download failed.

#include "net/http.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QWidget>

#include <cstdio>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: httpbench URL OUTFILE\n");
        return 2;
    }
    QWidget parent;
    parent.resize(480, 480);
    parent.show();

    QFile file(QString::fromLocal8Bit(argv[2]));
    file.remove();
    Strobix::Http http;
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
