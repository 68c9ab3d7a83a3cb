#ifndef STROBIX_HTTP_H
#define STROBIX_HTTP_H

#include <QNetworkAccessManager>
#include <QObject>

class QFile;
class QNetworkReply;
class QProgressDialog;
class QWidget;

namespace Strobix {

// Streams one image file from the firmware server into a local file under a
// window-modal progress dialog. After finished() the file is closed, and it
// exists if and only if the transfer succeeded.
class Http : public QObject
{
    Q_OBJECT

public:
    Http();
    ~Http() override;

    // Starts the download and returns at once. Throws writeFailureText as a
    // QString when the file cannot be opened for writing.
    void download(const QString &url, QFile *file, QWidget *parent);

    // Ends a running download without finished(), for an owner that goes away:
    // a partial file must not stay behind looking like an image.
    void abandon();

    // Whether the last download failed because the file could not take the
    // bytes (a full disk): a local problem, not the network's.
    bool localWriteFailed() const { return writeFailed; }

signals:
    void finished();

private slots:
    void httpReadyRead();
    void httpFinished();
    void httpDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void canceled();

private:
    void cleanup();
    bool transferSucceeded() const;

    // Made on demand: making one loads Qt's network plugins, which would
    // delay the main window's first frame.
    QNetworkAccessManager *manager = nullptr;
    QNetworkReply *reply = nullptr;
    QFile *file = nullptr;
    QProgressDialog *progressDialog = nullptr;
    // Set when the file could not take the bytes (a full disk): the transfer is aborted.
    bool writeFailed = false;
    // Set when the body passes the largest image: the transfer is aborted.
    bool tooLarge = false;
    qint64 bytesWritten = 0;
};

} // namespace Strobix

#endif
