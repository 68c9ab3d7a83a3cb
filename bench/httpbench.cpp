// One download through Strobix::Http under its real progress dialog, over the
// shown main window, then the transfer time and the process's peak RSS. The
// time runs from download() to finished().
//
//   httpbench [--qt-alone] URL OUTFILE
//       prints "ms=<transfer ms> rss_kib=<peak> bytes=<file size>"
//
// --qt-alone: the same download with Qt's network manager and nothing of ours
// (no dialog, no checks): the floor for any download built on it.
//
// Exits 1 when the download failed.

#include "net/http.h"
#include "ui/updatewidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

#include <cstdio>
#include <cstring>
#include <sys/resource.h>

namespace {

double downloadWithHttp(const QUrl &url, QFile *file, QWidget *parent)
{
    Strobix::Http http;
    QEventLoop loop;
    QObject::connect(&http, &Strobix::Http::finished, &loop, &QEventLoop::quit);
    QElapsedTimer timer;
    timer.start();
    http.download(url.toString(), file, parent);
    loop.exec();
    return timer.nsecsElapsed() / 1e6;
}

// Http's read buffer and writes, nothing else.
double downloadWithQtAlone(const QUrl &url, QFile *file)
{
    QEventLoop loop;
    QElapsedTimer timer;
    timer.start();
    // Made at the first download, as Http makes its own.
    QNetworkAccessManager manager;
    file->open(QIODevice::WriteOnly);
    QNetworkReply *reply = manager.get(QNetworkRequest(url));
    reply->setReadBufferSize(256 * 1024);
    QObject::connect(reply, &QNetworkReply::readyRead, [&] { file->write(reply->readAll()); });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    file->close();
    const double ms = timer.nsecsElapsed() / 1e6;
    delete reply;
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    QApplication app(argc, argv);
    const bool qtAlone = argc == 4 && std::strcmp(argv[1], "--qt-alone") == 0;
    if (argc != 3 && !qtAlone) {
        std::fprintf(stderr, "usage: httpbench [--qt-alone] URL OUTFILE\n");
        return 2;
    }
    const QUrl url(QString::fromLocal8Bit(argv[argc - 2]));
    QFile file(QString::fromLocal8Bit(argv[argc - 1]));
    file.remove();
    Strobix::UpdateWidget parent(nullptr);
    parent.show();

    const double ms = qtAlone ? downloadWithQtAlone(url, &file) : downloadWithHttp(url, &file, &parent);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const qint64 size = QFile(file.fileName()).size();
    std::printf("ms=%.3f rss_kib=%ld bytes=%lld\n", ms, usage.ru_maxrss,
                static_cast<long long>(size));
    return file.exists() ? 0 : 1;
}
