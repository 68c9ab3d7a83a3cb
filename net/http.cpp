#include "net/http.h"

#include "ui/progressdialogs.h"
#include "update/failuretexts.h"

#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProgressDialog>
#include <QUrl>

namespace Strobix {

namespace {
// Enough to keep the transfer flowing, small next to the image.
const qint64 readBufferSize = 256 * 1024;
// The largest unit holds 1 MiB. A server that sends gigabytes would fill the disk.
const qint64 largestImage = 16 * 1024 * 1024;
// As long as dfu-util may stay silent: a stalled server ends the download.
const int silenceTimeoutMs = 30000;
} // namespace

Http::Http()
{
}

Http::~Http()
{
    cleanup();
}

void Http::abandon()
{
    if (!reply)
        return;
    reply->disconnect(this);
    reply->abort();
    file->close();
    file->remove();
    if (progressDialog)
        progressDialog->hide();
    cleanup();
}

void Http::download(const QString &url, QFile *file, QWidget *parent)
{
    cleanup();
    this->file = file;
    writeFailed = false;
    tooLarge = false;
    bytesWritten = 0;
    if (!file->open(QIODevice::WriteOnly))
        throw QString::fromUtf8(writeFailureText);

    if (!manager)
        manager = new QNetworkAccessManager(this);
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    // The image as stored: Content-Length is then the image's own length, which
    // transferSucceeded() checks. Qt would ask for gzip and unpack it, and a
    // compressed body cut short would pass for a whole image.
    request.setRawHeader("Accept-Encoding", "identity");
    request.setTransferTimeout(silenceTimeoutMs);
    reply = manager->get(request);
    // Bounds what Qt holds ahead of httpReadyRead(), which drains it each time;
    // unbounded, Qt would take in the whole image.
    reply->setReadBufferSize(readBufferSize);
    connect(reply, SIGNAL(finished()), this, SLOT(httpFinished()));
    connect(reply, SIGNAL(readyRead()), this, SLOT(httpReadyRead()));
    connect(reply, SIGNAL(downloadProgress(qint64,qint64)),
            this, SLOT(httpDownloadProgress(qint64,qint64)));

    progressDialog = new QProgressDialog(QString::fromUtf8("Herunterladen / Downloading ..."),
                                         QString(), 0, 100, parent);
    progressDialog->setWindowModality(Qt::WindowModal);
    progressDialog->setValue(0);
    showProgressDialogNow(progressDialog);
    connect(progressDialog, SIGNAL(canceled()), this, SLOT(canceled()));
    // Escape rejects the dialog without canceled(); it must not hide a running download.
    connect(progressDialog, SIGNAL(rejected()), this, SLOT(canceled()));
}

void Http::httpReadyRead()
{
    // Written as it arrives, so the image is never held whole in memory.
    if (!reply || writeFailed)
        return;
    const QByteArray data = reply->readAll();
    bytesWritten += data.size();
    if (bytesWritten > largestImage
        || reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() > largestImage) {
        tooLarge = true;
        reply->abort();
        return;
    }
    if (file->write(data) != data.size() || file->error() != QFileDevice::NoError) {
        writeFailed = true;
        reply->abort();
    }
}

void Http::httpDownloadProgress(qint64 bytesReceived, qint64 bytesTotal)
{
    // A window-modal dialog processes events in setValue(), so the download
    // may have ended inside an earlier call.
    if (!progressDialog)
        return;
    progressDialog->setMaximum(int(bytesTotal));
    // Every setValue() runs the event loop and repaints; the dialog shows
    // only the percentage, so values that leave it unchanged are skipped.
    if (bytesTotal > 0 && bytesReceived < bytesTotal && progressDialog->value() >= 0) {
        const auto shown = [&](qint64 value) { return int(value * 100.0 / bytesTotal); };
        if (shown(bytesReceived) == shown(progressDialog->value()))
            return;
    }
    progressDialog->setValue(int(bytesReceived));
}

void Http::canceled()
{
    if (reply)
        reply->abort();
}

bool Http::transferSucceeded() const
{
    if (writeFailed || tooLarge || reply->error() != QNetworkReply::NoError)
        return false;
    // Qt does not follow redirects here and reports them without an error:
    // a redirect page or any other non-2xx answer is not an image.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return false;
    // Qt may report a connection closed before the announced length as a
    // success. Qt unpacks nothing here (see download()), so the lengths compare.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    return !length.isValid() || length.toLongLong() == bytesWritten;
}

void Http::httpFinished()
{
    if (file->exists()) {
        // Buffered bytes that do not fit on the disk show up only here.
        if (!file->flush())
            writeFailed = true;
        file->close();
        if (!transferSucceeded())
            file->remove();
    } else {
        // Removed behind our back: nothing to keep, but the handle must go.
        file->close();
    }
    progressDialog->hide();
    cleanup();
    emit finished();
}

void Http::cleanup()
{
    if (progressDialog) {
        progressDialog->deleteLater();
        progressDialog = nullptr;
    }
    if (reply) {
        // The next download may start inside its finished(): a late signal of
        // this reply must not act on that one.
        reply->disconnect(this);
        reply->deleteLater();
        reply = nullptr;
    }
    file = nullptr;
}

} // namespace Strobix
