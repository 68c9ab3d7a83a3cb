#include "testhttpserver.h"

#include "testhttpconnection.h"

#include <QHostAddress>
#include <QTcpSocket>

TestHttpServer::TestHttpServer(QObject *parent) : QTcpServer(parent)
{
}

TestHttpServer::~TestHttpServer()
{
    close();
    // Explicitly, so connections go while the server part is still whole.
    qDeleteAll(findChildren<TestHttpConnection *>(QString(), Qt::FindDirectChildrenOnly));
}

bool TestHttpServer::listen(quint16 port)
{
    // QTcpServer sets SO_REUSEADDR on Unix, so the next test can take the
    // same port while old connections sit in TIME_WAIT.
    if (QTcpServer::listen(QHostAddress::LocalHost, port))
        return true;
    qWarning("TestHttpServer: cannot listen on port %u: %s", unsigned(port),
             qPrintable(errorString()));
    return false;
}

void TestHttpServer::setReply(const QString &path, const Reply &reply)
{
    m_replies.insert(path, reply);
}

void TestHttpServer::clearReplies()
{
    m_replies.clear();
}

TestHttpServer::Reply TestHttpServer::replyFor(const QString &target) const
{
    auto it = m_replies.constFind(target);
    if (it == m_replies.constEnd())
        it = m_replies.constFind(target.section(QLatin1Char('?'), 0, 0));
    if (it != m_replies.constEnd())
        return *it;
    Reply notFound;
    notFound.status = 404;
    notFound.body = "<html><body><h1>404 Not Found</h1></body></html>\n";
    return notFound;
}

QUrl TestHttpServer::url(const QString &path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
}

QByteArray TestHttpServer::reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 410: return "Gone";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

void TestHttpServer::incomingConnection(qintptr socketDescriptor)
{
    ++m_connectionCount;
    if (m_toDrop > 0) {
        --m_toDrop;
        QTcpSocket socket;
        socket.setSocketDescriptor(socketDescriptor);
        socket.close();
    } else {
        new TestHttpConnection(socketDescriptor, this);
    }
    emit connectionAccepted();
}

void TestHttpServer::recordRequest(const QString &target)
{
    m_requests.append(target);
    emit requestReceived(target);
}
