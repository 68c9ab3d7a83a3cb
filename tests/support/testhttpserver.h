#ifndef STROBIX_TESTS_TESTHTTPSERVER_H
#define STROBIX_TESTS_TESTHTTPSERVER_H

#include <QByteArray>
#include <QHash>
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
            Normal,         // Content-Length, body, close
            NoContentLength,// body, then close marks its end
            CutShort,       // full Content-Length, cutAfter bytes, close (FIN)
            Reset,          // headers, cutAfter bytes, then RST
            Trickle,        // trickleChunk bytes every trickleIntervalMs
            TrickleWithoutLength, // the same without Content-Length; close ends it
            NeverAnswer     // read the request, stay silent and connected
        } mode = Normal;
        QByteArray location; // sent as Location when not empty
        // Sent deflated, with the deflated length, when the request allows it,
        // as a server with compression switched on does.
        bool compressible = false;
        int cutAfter = 0;
        int trickleChunk = 1024;
        int trickleIntervalMs = 20;
    };

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    using QTcpServer::listen;
    // Listens on 127.0.0.1:port; warns with the reason when it cannot.
    bool listen(quint16 port);

    // path is matched against the request target as sent (e.g.
    // "/firmware/x.bin"), then without its query. Unknown paths get a 404.
    void setReply(const QString &path, const Reply &reply);
    void clearReplies();
    Reply replyFor(const QString &target) const;

    // Connections accepted so far, the dropped ones included.
    int connectionCount() const { return m_connectionCount; }
    // Closes the next count connections as soon as they come in, as a server
    // does with connections that stay idle too long.
    void dropNextConnections(int count) { m_toDrop = count; }

    // Request targets in the order their headers were complete.
    QStringList requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }

    // http://127.0.0.1:<port><path>
    QUrl url(const QString &path) const;

    static QByteArray reasonPhrase(int status);

signals:
    void requestReceived(const QString &path);
    void connectionAccepted();

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    friend class TestHttpConnection;
    void recordRequest(const QString &target);

    QHash<QString, Reply> m_replies;
    QStringList m_requests;
    int m_connectionCount = 0;
    int m_toDrop = 0;
};

#endif
