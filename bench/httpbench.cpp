// One download through Strobix::Http under its real progress dialog, over the
// shown main window, then the transfer time and the process's peak RSS. The
// time runs from download() to finished().
//
//   httpbench [--qt-dialog | --qt-alone] URL OUTFILE
//       prints "ms=<transfer ms> rss_kib=<peak> bytes=<file size>"
//
// --qt-dialog: the same download with Qt's network manager under the same
// progress dialog, shown at once and fed from every downloadProgress as Qt
// sends it, as Qt's HTTP example does, and nothing of ours: the floor for a
// download that shows its progress.
// --qt-alone: the same without the dialog.
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
#include <QProgressDialog>
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

// Http's read buffer and writes; with a parent, Http's dialog over it.
double downloadWithQt(const QUrl &url, QFile *file, QWidget *dialogParent)
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
    QProgressDialog *dialog = nullptr;
    if (dialogParent) {
        dialog = new QProgressDialog(QString::fromUtf8("Herunterladen / Downloading ..."), QString(), 0, 100,
                                     dialogParent);
        dialog->setWindowModality(Qt::WindowModal);
        dialog->setValue(0);
        dialog->show();
        QObject::connect(reply, &QNetworkReply::downloadProgress, [dialog](qint64 received, qint64 total) {
            dialog->setMaximum(int(total));
            dialog->setValue(int(received));
        });
    }
    QObject::connect(reply, &QNetworkReply::finished, [&] {
        if (dialog)
            dialog->hide();
        loop.quit();
    });
    loop.exec();
    file->close();
    const double ms = timer.nsecsElapsed() / 1e6;
    delete dialog;
    delete reply;
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    QApplication app(argc, argv);
    const bool qtAlone = argc == 4 && std::strcmp(argv[1], "--qt-alone") == 0;
    const bool qtDialog = argc == 4 && std::strcmp(argv[1], "--qt-dialog") == 0;
    if (argc != 3 && !qtAlone && !qtDialog) {
        std::fprintf(stderr, "usage: httpbench [--qt-dialog | --qt-alone] URL OUTFILE\n");
        return 2;
    }
    const QUrl url(QString::fromLocal8Bit(argv[argc - 2]));
    QFile file(QString::fromLocal8Bit(argv[argc - 1]));
    file.remove();
    Strobix::UpdateWidget parent(nullptr);
    parent.show();

    const double ms = argc == 3 ? downloadWithHttp(url, &file, &parent)
                                : downloadWithQt(url, &file, qtDialog ? &parent : nullptr);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const qint64 size = QFile(file.fileName()).size();
    std::printf("ms=%.3f rss_kib=%ld bytes=%lld\n", ms, usage.ru_maxrss,
                static_cast<long long>(size));
    return file.exists() ? 0 : 1;
}
