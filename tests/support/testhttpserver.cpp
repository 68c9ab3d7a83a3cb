#include "testhttpserver.h"

#include "testhttpconnection.h"

#include <QHostAddress>

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
    qWarning("TestHttpServer: cannot listen on port %u: %s", unsigned(port), qPrintable(errorString()));
    return false;
}

TestHttpServer::Reply TestHttpServer::replyFor(const QString &target) const
{
    if (replies.contains(target))
        return replies.value(target);
    Reply notFound;
    notFound.status = 404;
    notFound.body = "<html><body><h1>404 Not Found</h1></body></html>\n";
    return notFound;
}

QUrl TestHttpServer::url(const QString &path) const
{
    if (!tlsKey.isNull()) // the name the test certificates are made out for
        return QUrl(QStringLiteral("https://localhost:%1%2").arg(serverPort()).arg(path));
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(serverPort()).arg(path));
}

void TestHttpServer::incomingConnection(qintptr socketDescriptor)
{
    new TestHttpConnection(socketDescriptor, this);
}
