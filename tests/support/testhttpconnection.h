#ifndef STROBIX_TESTS_TESTHTTPCONNECTION_H
#define STROBIX_TESTS_TESTHTTPCONNECTION_H

#include "testhttpserver.h"

#include <QByteArray>
#include <QObject>

class QTcpSocket;
class QTimer;

// One accepted connection of TestHttpServer: reads a request head, answers it
// as the matching Reply says, and deletes itself once the peer is gone.
class TestHttpConnection : public QObject
{
    Q_OBJECT
public:
    TestHttpConnection(qintptr socketDescriptor, TestHttpServer *server);
    ~TestHttpConnection() override;

private:
    void onReadyRead();
    void answer(const QString &target);
    QByteArray head(const TestHttpServer::Reply &reply, bool withLength) const;
    void resetWhenFlushed();
    void resetNow();
    void trickle();

    TestHttpServer *server;
    QTcpSocket *socket;
    QTimer *timer = nullptr;
    QByteArray buffer;
    QByteArray pending; // body bytes still to trickle
    bool answered = false;
    bool acceptsDeflate = false;
};

#endif
