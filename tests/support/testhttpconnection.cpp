#include "testhttpconnection.h"

#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

TestHttpConnection::TestHttpConnection(qintptr socketDescriptor, TestHttpServer *server)
    : QObject(server), m_server(server), m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::readyRead, this, &TestHttpConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    if (!m_socket->setSocketDescriptor(socketDescriptor))
        deleteLater();
}

TestHttpConnection::~TestHttpConnection()
{
    if (m_timer)
        m_timer->stop();
    m_socket->disconnect(this);
    m_socket->abort();
}

void TestHttpConnection::onReadyRead()
{
    const QByteArray data = m_socket->readAll();
    if (m_answered)
        return; // one request per connection; anything after it is ignored
    m_buffer += data;
    // The head may arrive in several segments; nothing is answered before
    // the blank line that ends it.
    const int end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    m_answered = true;
    const QList<QByteArray> requestLine = m_buffer.left(m_buffer.indexOf("\r\n")).split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/")) {
        TestHttpServer::Reply bad;
        bad.status = 400;
        m_socket->write(head(bad, true));
        m_socket->disconnectFromHost();
        return;
    }
    const QString target = QString::fromLatin1(requestLine.at(1));
    m_server->recordRequest(target);
    const QByteArray lowerHead = m_buffer.left(end).toLower();
    const int encoding = lowerHead.indexOf("\r\naccept-encoding:");
    m_acceptsDeflate = encoding >= 0
        && lowerHead.mid(encoding, lowerHead.indexOf("\r\n", encoding + 2) - encoding).contains("deflate");
    answer(target, requestLine.at(0) == "HEAD");
}

QByteArray TestHttpConnection::head(const TestHttpServer::Reply &reply, bool withLength) const
{
    QByteArray h = "HTTP/1.1 " + QByteArray::number(reply.status) + ' '
                   + TestHttpServer::reasonPhrase(reply.status) + "\r\n";
    h += reply.status == 404 ? "Content-Type: text/html\r\n"
                             : "Content-Type: application/octet-stream\r\n";
    if (withLength)
        h += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
    if (!reply.location.isEmpty())
        h += "Location: " + reply.location + "\r\n";
    if (reply.compressible && m_acceptsDeflate)
        h += "Content-Encoding: deflate\r\n";
    h += "Connection: close\r\n\r\n";
    return h;
}

void TestHttpConnection::answer(const QString &target, bool headOnly)
{
    TestHttpServer::Reply reply = m_server->replyFor(target);
    if (reply.compressible && m_acceptsDeflate)
        reply.body = qCompress(reply.body).mid(4); // zlib's stream without Qt's length prefix
    const QByteArray body = headOnly ? QByteArray() : reply.body;
    switch (reply.mode) {
    case TestHttpServer::Reply::NeverAnswer:
        return;
    case TestHttpServer::Reply::Normal:
        m_socket->write(head(reply, true) + body);
        break;
    case TestHttpServer::Reply::NoContentLength:
        m_socket->write(head(reply, false) + body);
        break;
    case TestHttpServer::Reply::CutShort:
        m_socket->write(head(reply, true) + body.left(reply.cutAfter));
        break;
    case TestHttpServer::Reply::Reset:
        m_socket->write(head(reply, true) + body.left(reply.cutAfter));
        resetWhenFlushed();
        return;
    case TestHttpServer::Reply::Trickle:
    case TestHttpServer::Reply::TrickleWithoutLength:
        m_socket->write(head(reply, reply.mode == TestHttpServer::Reply::Trickle));
        m_pending = body;
        m_timer = new QTimer(this);
        m_timer->setInterval(qMax(0, reply.trickleIntervalMs));
        connect(m_timer, &QTimer::timeout, this, [this, chunk = qMax(1, reply.trickleChunk)] {
            if (m_socket->state() != QAbstractSocket::ConnectedState) {
                m_timer->stop(); // the client gave up; deletion follows
                return;
            }
            m_socket->write(m_pending.left(chunk));
            m_pending.remove(0, chunk);
            trickle();
        });
        trickle();
        return;
    }
    // Closing after the buffered bytes are out marks the end of the body.
    m_socket->disconnectFromHost();
}

void TestHttpConnection::trickle()
{
    if (!m_pending.isEmpty()) {
        if (!m_timer->isActive())
            m_timer->start();
        return;
    }
    m_timer->stop();
    m_socket->disconnectFromHost();
}

void TestHttpConnection::resetWhenFlushed()
{
    // The promised bytes must reach the kernel before the RST, or abort()
    // would drop them with the write buffer.
    m_socket->flush();
    if (m_socket->bytesToWrite() == 0) {
        resetNow();
        return;
    }
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_socket->bytesToWrite() == 0)
            resetNow();
    });
}

void TestHttpConnection::resetNow()
{
    // Linger 0 makes close() send RST instead of FIN.
    linger noLinger{1, 0};
    ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                 sizeof noLinger);
    m_socket->disconnect(this);
    m_socket->abort();
    deleteLater();
}
