#include "testhttpconnection.h"

#include <QHash>
#include <QSslSocket>
#include <QTimer>

#include <sys/socket.h>

TestHttpConnection::TestHttpConnection(qintptr socketDescriptor, TestHttpServer *server)
    : QObject(server), server(server),
      socket(server->tlsKey.isNull() ? new QTcpSocket(this) : new QSslSocket(this))
{
    connect(socket, &QTcpSocket::readyRead, this, &TestHttpConnection::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        deleteLater();
    } else if (auto *tls = qobject_cast<QSslSocket *>(socket)) {
        tls->setLocalCertificate(server->tlsCertificate);
        tls->setPrivateKey(server->tlsKey);
        tls->startServerEncryption();
    }
}

TestHttpConnection::~TestHttpConnection()
{
    if (timer)
        timer->stop();
    socket->disconnect(this);
    socket->abort();
}

void TestHttpConnection::onReadyRead()
{
    const QByteArray data = socket->readAll();
    if (answered)
        return; // one request per connection; anything after it is ignored
    buffer += data;
    // The head may arrive in several segments; nothing is answered before
    // the blank line that ends it.
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    answered = true;
    const QString target = QString::fromLatin1(buffer.left(buffer.indexOf("\r\n")).split(' ').value(1));
    server->requestTargets.append(target);
    // Qt asks for "gzip, deflate" unless told otherwise.
    acceptsDeflate = buffer.left(end).toLower().contains("accept-encoding: gzip, deflate");
    answer(target);
}

QByteArray TestHttpConnection::head(const TestHttpServer::Reply &reply, bool withLength) const
{
    static const QHash<int, QByteArray> reasons{
        {200, "OK"}, {301, "Moved Permanently"}, {302, "Found"}, {404, "Not Found"}, {500, "Internal Server Error"}};
    QByteArray h = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasons.value(reply.status, "Status") + "\r\n";
    h += reply.status == 404 ? "Content-Type: text/html\r\n"
                             : "Content-Type: application/octet-stream\r\n";
    if (withLength)
        h += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    if (!reply.location.isEmpty())
        h += "Location: " + reply.location + "\r\n";
    if (reply.compressible && acceptsDeflate)
        h += "Content-Encoding: deflate\r\n";
    h += "Connection: close\r\n\r\n";
    return h;
}

void TestHttpConnection::answer(const QString &target)
{
    TestHttpServer::Reply reply = server->replyFor(target);
    if (reply.compressible && acceptsDeflate)
        reply.body = qCompress(reply.body).mid(4); // zlib's stream without Qt's length prefix
    const QByteArray body = reply.body;
    switch (reply.mode) {
    case TestHttpServer::Reply::NeverAnswer:
        return;
    case TestHttpServer::Reply::Normal:
        socket->write(head(reply, true) + body);
        break;
    case TestHttpServer::Reply::NoContentLength:
        socket->write(head(reply, false) + body);
        break;
    case TestHttpServer::Reply::CutShort:
        socket->write(head(reply, true) + body.left(reply.cutAfter));
        break;
    case TestHttpServer::Reply::Reset:
        socket->write(head(reply, true) + body.left(reply.cutAfter));
        resetWhenFlushed();
        return;
    case TestHttpServer::Reply::Trickle:
        socket->write(head(reply, true));
        pending = body;
        timer = new QTimer(this);
        timer->setInterval(20);
        connect(timer, &QTimer::timeout, this, [this, chunk = qMax(1, reply.trickleChunk)] {
            if (socket->state() != QAbstractSocket::ConnectedState) {
                timer->stop(); // the client gave up; deletion follows
                return;
            }
            socket->write(pending.left(chunk));
            pending.remove(0, chunk);
            trickle();
        });
        trickle();
        return;
    }
    // Closing after the buffered bytes are out marks the end of the body.
    socket->disconnectFromHost();
}

void TestHttpConnection::trickle()
{
    if (!pending.isEmpty()) {
        if (!timer->isActive())
            timer->start();
        return;
    }
    timer->stop();
    socket->disconnectFromHost();
}

void TestHttpConnection::resetWhenFlushed()
{
    // The promised bytes must reach the kernel before the RST, or abort()
    // would drop them with the write buffer.
    socket->flush();
    if (socket->bytesToWrite() == 0) {
        resetNow();
        return;
    }
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        if (socket->bytesToWrite() == 0)
            resetNow();
    });
}

void TestHttpConnection::resetNow()
{
    // Linger 0 makes close() send RST instead of FIN.
    linger noLinger{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                 sizeof noLinger);
    socket->disconnect(this);
    socket->abort();
    deleteLater();
}
