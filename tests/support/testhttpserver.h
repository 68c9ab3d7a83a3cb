#ifndef STROBIX_TESTS_TESTHTTPSERVER_H
#define STROBIX_TESTS_TESTHTTPSERVER_H

#include <QByteArray>
#include <QHash>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

// In-process HTTP/1.1 server for tests: event driven, one connection per
// request (every answer carries "Connection: close"). Deleting the server
// drops all its connections.
class TestHttpServer : public QTcpServer
{
    Q_OBJECT
public:
    struct Reply {
        int status = 200;
        QByteArray body;
        enum Mode {
            Normal,          // Content-Length, body, close
            NoContentLength, // body, then close marks its end
            CutShort,        // full Content-Length, cutAfter bytes, close (FIN)
            Reset,           // headers, cutAfter bytes, then RST
            Trickle,         // trickleChunk bytes every 20 ms
            NeverAnswer      // read the request, stay silent and connected
        } mode = Normal;
        QByteArray location; // sent as Location when not empty
        // Sent deflated, with the deflated length, when the request allows it,
        // as a server with compression switched on does.
        bool compressible = false;
        int cutAfter = 0;
        int trickleChunk = 1024;
    };

    ~TestHttpServer() override;

    // Listens on 127.0.0.1:port (0: any free port); warns with the reason when it cannot.
    bool listen(quint16 port = 0);

    // path is the request target as sent (e.g. "/firmware/x.bin"); unknown paths get a 404.
    void setReply(const QString &path, const Reply &reply) { replies.insert(path, reply); }
    Reply replyFor(const QString &target) const;

    // Answers over TLS with this certificate from the next connection on.
    void useTls(const QSslCertificate &certificate, const QSslKey &key)
    {
        tlsCertificate = certificate;
        tlsKey = key;
    }

    // Request targets in the order their headers were complete.
    QStringList requests() const { return requestTargets; }

    // http://127.0.0.1:<port><path>, over TLS https://localhost:<port><path>
    QUrl url(const QString &path) const;

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    friend class TestHttpConnection;

    QHash<QString, Reply> replies;
    QStringList requestTargets;
    QSslCertificate tlsCertificate;
    QSslKey tlsKey;
};

#endif
