// Checks the test fixtures themselves: a fault here would make product tests
// pass or fail for the wrong reason.
#include "fakedfucontrol.h"
#include "modalwatcher.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QProgressDialog>
#include <QScopedPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#ifndef FAKEDFU_PATH
#error "FAKEDFU_PATH must name the fakedfu binary"
#endif

Q_DECLARE_METATYPE(QProcess::ExitStatus)
Q_DECLARE_METATYPE(TestHttpServer::Reply)
Q_DECLARE_METATYPE(QMessageBox::Icon)
Q_DECLARE_METATYPE(QMessageBox::StandardButtons)
Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

const char program[] = "dfu-util/dfu-util.exe";
const int toolTimeoutMs = 30000;

struct ToolRun {
    QByteArray stdOut;
    QByteArray stdErr;
    QProcess::ExitStatus status = QProcess::NormalExit;
    int code = -1;
};

ToolRun runTool(const QStringList &args, bool merged = true,
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(merged ? QProcess::MergedChannels : QProcess::SeparateChannels);
    process.start(QString::fromLatin1(program), args);
    ToolRun run;
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.stdOut = process.readAllStandardOutput();
    run.stdErr = process.readAllStandardError();
    run.status = process.exitStatus();
    run.code = process.exitCode();
    return run;
}

// What went over the wire, read with a raw socket so FIN and RST differ.
struct Wire {
    QByteArray bytes;
    bool reset = false;
    bool closed = false;
};

} // namespace

class TestFixtures : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void toolOutput_data();
    void toolOutput();
    void toolRunNumbers();
    void toolArguments_data();
    void toolArguments();
    void toolUpload_data();
    void toolUpload();
    void toolWithoutControlDir();
    void toolSignals_data();
    void toolSignals();
    void toolFlood();
    void toolResetForgetsCalls();

    void http_data();
    void http();
    void httpRequestInSegments();
    void httpServerDeletionDropsConnections();

    void messageBoxes_data();
    void messageBoxes();
    void progressDialog();

private:
    void exchange(quint16 port, const QByteArray &request, Wire &wire);

    QScopedPointer<FakeDfuControl> m_control;
    QString m_oldCwd;
};

void TestFixtures::init()
{
    m_control.reset(new FakeDfuControl(QStringLiteral(FAKEDFU_PATH)));
    QVERIFY(m_control->isValid());
    m_oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_control->workDir()));
}

void TestFixtures::cleanup()
{
    QDir::setCurrent(m_oldCwd);
    m_control.reset();
}

void TestFixtures::toolOutput_data()
{
    using C = FakeDfuControl;
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QProcess::ExitStatus>("status");
    QTest::addColumn<int>("code");

    QTest::newRow("plain line") << C::out("hello\n") << QByteArray("hello\n")
                                << QProcess::NormalExit << 0;
    QTest::newRow("NUL byte") << C::out(QByteArray("a\0b", 3)) << QByteArray("a\0b", 3)
                              << QProcess::NormalExit << 0;
    QTest::newRow("lone CR progress") << C::out("10%\r") + C::pauseMs(5) + C::out("20%\r")
                                      << QByteArray("10%\r20%\r") << QProcess::NormalExit << 0;
    QTest::newRow("every byte value")
        << [] { QByteArray all; for (int i = 0; i < 256; ++i) all += char(i); return C::out(all); }()
        << [] { QByteArray all; for (int i = 0; i < 256; ++i) all += char(i); return all; }()
        << QProcess::NormalExit << 0;
    QTest::newRow("leading and trailing blanks") << C::out("  x  ") << QByteArray("  x  ")
                                                 << QProcess::NormalExit << 0;
    QTest::newRow("stderr before stdout") << C::err("E\n") + C::out("O\n") << QByteArray("E\nO\n")
                                          << QProcess::NormalExit << 0;
    QTest::newRow("comments and blank lines") << "# note\n\n" + C::out("x") + "   \n# " + C::out("y")
                                              << QByteArray("x") << QProcess::NormalExit << 0;
    QTest::newRow("CRLF script") << QByteArray("out x\r\nexit 3\r\n") << QByteArray("x")
                                 << QProcess::NormalExit << 3;
    QTest::newRow("exit code stops script") << C::out("a") + C::exitCode(74) + C::out("b")
                                            << QByteArray("a") << QProcess::NormalExit << 74;
    QTest::newRow("crash after output") << C::out("a") + C::crash() << QByteArray("a")
                                        << QProcess::CrashExit << 0;
    QTest::newRow("abort") << C::abortTool() << QByteArray() << QProcess::CrashExit << 0;
    QTest::newRow("empty script") << QByteArray() << QByteArray() << QProcess::NormalExit << 0;
    QTest::newRow("bad escape rejected before output") << C::out("a") + "out \\q\n"
                                                       << QByteArray() << QProcess::NormalExit << 99;
    QTest::newRow("unknown command") << QByteArray("bogus\n") << QByteArray()
                                     << QProcess::NormalExit << 99;
}

void TestFixtures::toolOutput()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, output);
    QFETCH(QProcess::ExitStatus, status);
    QFETCH(int, code);

    m_control->setScript(1, script);
    const ToolRun run = runTool({QStringLiteral("-l")});
    QCOMPARE(run.status, status);
    if (status == QProcess::NormalExit)
        QCOMPARE(run.code, code);
    if (code == 99)
        QVERIFY(run.stdOut.startsWith("fakedfu: bad script for run 1: line "));
    else
        QCOMPARE(run.stdOut, output);
}

void TestFixtures::toolRunNumbers()
{
    m_control->setScript(2, FakeDfuControl::out("second"));
    m_control->setDefaultScript(FakeDfuControl::out("default"));
    QCOMPARE(runTool({}).stdOut, QByteArray("default"));
    QCOMPARE(runTool({}).stdOut, QByteArray("second"));
    QCOMPARE(runTool({}).stdOut, QByteArray("default"));
    QCOMPARE(m_control->calls().size(), 3);

    FakeDfuControl::out("unused"); // builders have no side effects
    m_control->reset();
    QCOMPARE(runTool({}).stdOut, QByteArray()); // no script at all: silent exit 0
}

void TestFixtures::toolArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("jsonLine");

    QTest::newRow("no arguments") << QStringList() << QByteArray("[]\n");
    QTest::newRow("typical upload") << QStringList{"-d", "0483:df11", "-U", "/tmp/a b.bin"}
                                    << QByteArray("[\"-d\",\"0483:df11\",\"-U\",\"/tmp/a b.bin\"]\n");
    QTest::newRow("empty argument") << QStringList{QString(), "x"} << QByteArray("[\"\",\"x\"]\n");
    QTest::newRow("quote and backslash") << QStringList{"a\"b\\c"}
                                         << QByteArray("[\"a\\\"b\\\\c\"]\n");
    QTest::newRow("newline CR tab") << QStringList{"l1\nl2\r\t"}
                                    << QByteArray("[\"l1\\nl2\\r\\t\"]\n");
    QTest::newRow("other control bytes") << QStringList{QString::fromLatin1("\x01\x1f")}
                                         << QByteArray("[\"\\u0001\\u001f\"]\n");
    QTest::newRow("non-ASCII passes through") << QStringList{QString::fromUtf8("Bl\xc3\xbc" "te \xe2\x9a\xa1")}
                                              << QByteArray("[\"Bl\xc3\xbcte \xe2\x9a\xa1\"]\n");
}

void TestFixtures::toolArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, jsonLine);

    QCOMPARE(runTool(args).code, 0);
    QCOMPARE(m_control->callsFileContents(), jsonLine);
    QCOMPARE(m_control->calls(), QList<QStringList>{args});
}

void TestFixtures::toolUpload_data()
{
    using C = FakeDfuControl;
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<bool>("written");

    const QByteArray bytes("\x00\xff\x10 \n", 5);
    QTest::newRow("-U separate") << QStringList{"-U", "dump.bin"} << C::upload(bytes) << bytes << true;
    QTest::newRow("-U joined") << QStringList{"-Udump.bin"} << C::upload(bytes) << bytes << true;
    QTest::newRow("--upload=") << QStringList{"--upload=dump.bin"} << C::upload(bytes) << bytes << true;
    QTest::newRow("hex with blanks") << QStringList{"-U", "dump.bin"} << QByteArray("upload 0A 0b\t0c\n")
                                     << QByteArray("\x0a\x0b\x0c") << true;
    QTest::newRow("empty upload") << QStringList{"-U", "dump.bin"} << C::upload(QByteArray())
                                  << QByteArray() << true;
    QTest::newRow("upload truncates") << QStringList{"-U", "dump.bin"}
                                      << C::upload("long text") + C::upload("ab") << QByteArray("ab") << true;
    QTest::newRow("append and fill") << QStringList{"-U", "dump.bin"}
                                     << C::upload("a") + C::uploadFill(100000, '\xff') + C::uploadAppend("z")
                                     << "a" + QByteArray(100000, '\xff') + "z" << true;
    QTest::newRow("no -U ignored") << QStringList{"-D", "dump.bin"} << C::upload(bytes)
                                   << QByteArray() << false;
}

void TestFixtures::toolUpload()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, contents);
    QFETCH(bool, written);

    m_control->setDefaultScript(script);
    QCOMPARE(runTool(args).code, 0);
    QFile file(QStringLiteral("dump.bin"));
    QCOMPARE(file.exists(), written);
    if (written) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), contents);
    }
}

void TestFixtures::toolWithoutControlDir()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("STROBIX_FAKE_DFU_DIR"));
    const ToolRun run = runTool({}, false, env);
    QCOMPARE(run.status, QProcess::NormalExit);
    QCOMPARE(run.code, 2);
    QVERIFY(run.stdOut.isEmpty());
    QVERIFY(run.stdErr.endsWith('\n'));
    QVERIFY(m_control->callsFileContents().isEmpty());
}

void TestFixtures::toolSignals_data()
{
    using C = FakeDfuControl;
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("useKill");
    QTest::addColumn<QProcess::ExitStatus>("status");
    QTest::addColumn<int>("code");

    QTest::newRow("hang ended by kill") << C::out("ready") + C::hang() << true
                                        << QProcess::CrashExit << 0;
    QTest::newRow("hang ended by terminate") << C::out("ready") + C::hang() << false
                                             << QProcess::CrashExit << 0;
    // Finishing normally proves the SIGTERM sent after "ready" was ignored.
    QTest::newRow("sigterm ignored") << C::ignoreSigterm() + C::out("ready") + C::pauseMs(300)
                                            + C::exitCode(7)
                                     << false << QProcess::NormalExit << 7;
    QTest::newRow("sigterm ignored but kill works") << C::ignoreSigterm() + C::out("ready") + C::hang()
                                                    << true << QProcess::CrashExit << 0;
}

void TestFixtures::toolSignals()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, useKill);
    QFETCH(QProcess::ExitStatus, status);
    QFETCH(int, code);

    m_control->setDefaultScript(script);
    QProcess process;
    process.start(QString::fromLatin1(program), QStringList());
    QByteArray seen;
    while (!seen.contains("ready") && process.waitForReadyRead(toolTimeoutMs))
        seen += process.readAllStandardOutput();
    QCOMPARE(seen, QByteArray("ready"));
    if (useKill)
        process.kill();
    else
        process.terminate();
    QVERIFY(process.waitForFinished(toolTimeoutMs));
    QCOMPARE(process.exitStatus(), status);
    if (status == QProcess::NormalExit)
        QCOMPARE(process.exitCode(), code);
}

void TestFixtures::toolFlood()
{
    const qint64 total = 3 * 1024 * 1024 + 17;
    m_control->setDefaultScript(FakeDfuControl::flood(total, 4093));
    const ToolRun run = runTool({});
    QCOMPARE(run.code, 0);
    QCOMPARE(qint64(run.stdOut.size()), total);
    const QByteArray line("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.\n");
    QCOMPARE(run.stdOut.left(128), line + line);
    QCOMPARE(run.stdOut.count('\n'), int(total / 64));
}

void TestFixtures::toolResetForgetsCalls()
{
    m_control->setScript(1, FakeDfuControl::out("first"));
    QCOMPARE(runTool({"a"}).stdOut, QByteArray("first"));
    m_control->reset();
    QVERIFY(m_control->calls().isEmpty());
    QCOMPARE(runTool({"b"}).stdOut, QByteArray()); // run 1 again, its script gone
    QCOMPARE(m_control->calls(), QList<QStringList>{QStringList{"b"}});
}

void TestFixtures::exchange(quint16 port, const QByteArray &request, Wire &wire)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr); // EINPROGRESS
    qint64 sent = 0;
    // Polled with the event loop running, since the server lives in this thread.
    auto step = [&] {
        if (sent < request.size()) {
            const ssize_t n = ::send(fd, request.constData() + sent, size_t(request.size() - sent),
                                     MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            return false;
        }
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n > 0) {
                wire.bytes.append(buf, int(n));
                continue;
            }
            if (n == 0)
                wire.closed = true;
            else if (errno == ECONNRESET)
                wire.reset = wire.closed = true;
            return wire.closed;
        }
    };
    QTRY_VERIFY_WITH_TIMEOUT(step(), 20000);
    ::close(fd);
}

void TestFixtures::http_data()
{
    QTest::addColumn<TestHttpServer::Reply>("reply");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");     // as QNAM delivers it
    QTest::addColumn<QByteArray>("wireHead"); // expected start of the raw answer
    QTest::addColumn<bool>("rst");

    const QByteArray big = [] {
        QByteArray b(300000, '\0');
        for (int i = 0; i < b.size(); ++i)
            b[i] = char(i * 7);
        return b;
    }();
    TestHttpServer::Reply r;
    r.body = big;
    QTest::newRow("normal 200 binary body")
        << r << "/firmware/a.bin" << QNetworkReply::NoError << 200 << big
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: 300000\r\n") << false;
    QTest::newRow("query ignored for matching")
        << r << "/firmware/a.bin?x=1" << QNetworkReply::NoError << 200 << big
        << QByteArray("HTTP/1.1 200 OK\r\n") << false;

    QTest::newRow("unknown path 404")
        << TestHttpServer::Reply() << "/firmware/missing.bin" << QNetworkReply::ContentNotFoundError
        << 404 << QByteArray("<html><body><h1>404 Not Found</h1></body></html>\n")
        << QByteArray("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n") << false;

    TestHttpServer::Reply error = r;
    error.status = 503;
    error.body = "busy";
    QTest::newRow("server error 503")
        << error << "/firmware/a.bin" << QNetworkReply::ServiceUnavailableError << 503
        << QByteArray("busy") << QByteArray("HTTP/1.1 503 Service Unavailable\r\n") << false;

    TestHttpServer::Reply redirect;
    redirect.status = 302;
    redirect.location = "http://127.0.0.1:1/elsewhere.bin";
    QTest::newRow("redirect with location")
        << redirect << "/firmware/a.bin" << QNetworkReply::NoError << 302 << QByteArray()
        << QByteArray("HTTP/1.1 302 Found\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: 0\r\nLocation: http://127.0.0.1:1/elsewhere.bin\r\n")
        << false;

    TestHttpServer::Reply noLength = r;
    noLength.mode = TestHttpServer::Reply::NoContentLength;
    QTest::newRow("no content length ends by close")
        << noLength << "/firmware/a.bin" << QNetworkReply::NoError << 200 << big
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      "Connection: close\r\n\r\n") << false;

    TestHttpServer::Reply cut = r;
    cut.mode = TestHttpServer::Reply::CutShort;
    cut.cutAfter = 1000;
    QTest::newRow("cut short")
        << cut << "/firmware/a.bin" << QNetworkReply::RemoteHostClosedError << 200 << QByteArray()
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: 300000\r\n") << false;

    TestHttpServer::Reply reset = cut;
    reset.mode = TestHttpServer::Reply::Reset;
    QTest::newRow("reset after some bytes")
        << reset << "/firmware/a.bin" << QNetworkReply::RemoteHostClosedError << 200 << QByteArray()
        << QByteArray("HTTP/1.1 200 OK\r\n") << true;

    TestHttpServer::Reply trickle = r;
    trickle.mode = TestHttpServer::Reply::Trickle;
    trickle.body = big.left(5000);
    trickle.trickleChunk = 1000;
    trickle.trickleIntervalMs = 30;
    QTest::newRow("trickle")
        << trickle << "/firmware/a.bin" << QNetworkReply::NoError << 200 << big.left(5000)
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                      "Content-Length: 5000\r\n") << false;
}

void TestFixtures::http()
{
    QFETCH(TestHttpServer::Reply, reply);
    QFETCH(QString, path);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, wireHead);
    QFETCH(bool, rst);

    TestHttpServer server;
    QVERIFY(server.listen(0));
    if (QTest::currentDataTag() != QLatin1String("unknown path 404"))
        server.setReply(QStringLiteral("/firmware/a.bin"), reply);

    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QElapsedTimer clock;
    clock.start();
    QScopedPointer<QNetworkReply> get(nam.get(QNetworkRequest(server.url(path))));
    QSignalSpy finished(get.data(), &QNetworkReply::finished);
    QVERIFY(finished.wait(20000));
    QCOMPARE(get->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    const QByteArray received = get->readAll();
    if (error == QNetworkReply::NoError || status >= 400) {
        QCOMPARE(get->error(), error);
        QCOMPARE(received, body);
    } else {
        // Qt 5.15 may report NoError for a body cut short when the close is
        // seen before the last read; only the length then shows the loss.
        QVERIFY2(get->error() == error
                     || received.size() < get->header(QNetworkRequest::ContentLengthHeader).toInt(),
                 QByteArray::number(int(get->error())).constData());
        QVERIFY(received.size() <= reply.cutAfter);
    }
    if (!reply.location.isEmpty())
        QCOMPARE(get->rawHeader("Location"), reply.location);
    if (reply.mode == TestHttpServer::Reply::Trickle) {
        // Five chunks cannot arrive before four intervals have passed
        // (minus the slack coarse timers are allowed).
        QVERIFY(clock.elapsed() >= 4 * reply.trickleIntervalMs * 9 / 10);
    }
    // QNAM may resend a request once when a connection closes early.
    const QStringList asked = server.requests();
    QVERIFY(!asked.isEmpty());
    QCOMPARE(asked.count(path), asked.size());

    Wire wire;
    exchange(server.serverPort(), "GET " + path.toLatin1() + " HTTP/1.1\r\nHost: x\r\n\r\n",
             wire);
    if (QTest::currentTestFailed())
        return;
    QVERIFY2(wire.bytes.startsWith(wireHead), wire.bytes.left(300).constData());
    QCOMPARE(wire.reset, rst);
    const int headEnd = wire.bytes.indexOf("\r\n\r\n");
    QVERIFY(headEnd > 0);
    const QByteArray wireBody = wire.bytes.mid(headEnd + 4);
    if (reply.mode == TestHttpServer::Reply::CutShort || reply.mode == TestHttpServer::Reply::Reset)
        QCOMPARE(wireBody, reply.body.left(reply.cutAfter));
    else
        QCOMPARE(wireBody, body);
    // A late QNAM resend may land here too, so only growth is certain.
    QVERIFY(server.requests().size() > asked.size());
    QCOMPARE(server.requests().count(path), server.requests().size());
}

void TestFixtures::httpRequestInSegments()
{
    TestHttpServer server;
    QVERIFY(server.listen(0));
    TestHttpServer::Reply reply;
    reply.body = "payload";
    server.setReply(QStringLiteral("/firmware/x.bin"), reply);
    QSignalSpy requested(&server, &TestHttpServer::requestReceived);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(20000));
    client.write("GET /firm");
    QVERIFY(client.waitForBytesWritten(20000));
    client.write("ware/x.bin HTTP/1.1\r\nHost: x\r\n");
    QVERIFY(client.waitForBytesWritten(20000));
    // An incomplete head must not be answered.
    QVERIFY(!requested.wait(100));
    client.write("\r\n");
    QVERIFY(requested.wait(20000));
    QCOMPARE(requested.at(0).at(0).toString(), QStringLiteral("/firmware/x.bin"));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 20000);
    const QByteArray answer = client.readAll();
    QVERIFY(answer.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(answer.contains("\r\nContent-Length: 7\r\n"));
    QVERIFY(answer.endsWith("\r\n\r\npayload"));
}

void TestFixtures::httpServerDeletionDropsConnections()
{
    auto *server = new TestHttpServer;
    QVERIFY(server->listen(0));
    TestHttpServer::Reply silent;
    silent.mode = TestHttpServer::Reply::NeverAnswer;
    server->setReply(QStringLiteral("/firmware/a.bin"), silent);
    QSignalSpy requested(server, &TestHttpServer::requestReceived);

    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy::NoProxy);
    QScopedPointer<QNetworkReply> get(nam.get(QNetworkRequest(server->url("/firmware/a.bin"))));
    QSignalSpy finished(get.data(), &QNetworkReply::finished);
    QVERIFY(requested.wait(20000));
    QVERIFY(!get->isFinished());

    const quint16 port = server->serverPort();
    delete server;
    QVERIFY(finished.wait(20000));
    QVERIFY(get->error() != QNetworkReply::NoError);

    // The port is free again at once for the next test.
    TestHttpServer again;
    QVERIFY(again.listen(port));
}

void TestFixtures::messageBoxes_data()
{
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<QMessageBox::StandardButtons>("buttons");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("buttonCount");

    QTest::newRow("warning with OK") << QMessageBox::Warning
                                     << QMessageBox::StandardButtons(QMessageBox::Ok)
                                     << QMessageBox::Ok << int(QMessageBox::Ok) << 1;
    QTest::newRow("question without OK takes escape")
        << QMessageBox::Question << (QMessageBox::Yes | QMessageBox::No) << QMessageBox::Ok
        << int(QMessageBox::No) << 2;
    QTest::newRow("question with chosen answer")
        << QMessageBox::Question << (QMessageBox::Yes | QMessageBox::No) << QMessageBox::Yes
        << int(QMessageBox::Yes) << 2;
    QTest::newRow("OK among three buttons")
        << QMessageBox::Critical << (QMessageBox::Ok | QMessageBox::Retry | QMessageBox::Cancel)
        << QMessageBox::Ok << int(QMessageBox::Ok) << 3;
}

void TestFixtures::messageBoxes()
{
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(QMessageBox::StandardButtons, buttons);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(int, result);
    QFETCH(int, buttonCount);

    ModalWatcher watcher;
    watcher.answer = answer;
    QSignalSpy seen(&watcher, &ModalWatcher::boxSeen);
    for (int round = 1; round <= 2; ++round) {
        QMessageBox box(icon, QStringLiteral("Title"), QStringLiteral("Text %1").arg(round), buttons);
        QTimer::singleShot(20000, &box, [&box] { box.done(-1); }); // instead of hanging forever
        QCOMPARE(box.exec(), result);
    }
    QCOMPARE(seen.count(), 2);
    QCOMPARE(watcher.boxes.size(), 2);
    QCOMPARE(watcher.boxes.at(1).title, QStringLiteral("Title"));
    QCOMPARE(watcher.boxes.at(1).text, QStringLiteral("Text 2"));
    QCOMPARE(watcher.boxes.at(1).icon, icon);
    QCOMPARE(watcher.boxes.at(1).buttonCount, buttonCount);
}

void TestFixtures::progressDialog()
{
    ModalWatcher watcher;
    watcher.closeProgressDialogOnce = true;

    QProgressDialog first(QStringLiteral("Installing firmware"), QStringLiteral("Cancel"), 0, 0);
    first.setMinimumDuration(0);
    first.setWindowModality(Qt::ApplicationModal);
    QSignalSpy canceled(&first, &QProgressDialog::canceled);
    first.show();
    QTRY_COMPARE_WITH_TIMEOUT(canceled.count(), 1, 20000);
    QVERIFY(!first.isVisible());
    QCOMPARE(watcher.progressLabels, QStringList{QStringLiteral("Installing firmware")});

    QProgressDialog second(QStringLiteral("Step 1"), QStringLiteral("Cancel"), 0, 0);
    second.setMinimumDuration(0);
    QSignalSpy secondCanceled(&second, &QProgressDialog::canceled);
    second.show();
    QTRY_COMPARE_WITH_TIMEOUT(watcher.progressLabels.size(), 2, 20000);
    second.setLabelText(QStringLiteral("Step 2"));
    QTRY_COMPARE_WITH_TIMEOUT(watcher.progressLabels.size(), 3, 20000);
    QCOMPARE(watcher.progressLabels.at(2), QStringLiteral("Step 2"));
    QVERIFY(second.isVisible()); // only the first dialog is closed
    QCOMPARE(secondCanceled.count(), 0);
    QCOMPARE(watcher.progressDialogsClosed, 1);
}

int main(int argc, char **argv)
{
    // Widget tests need no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TestFixtures test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fixtures.moc"
