// The image download against the in-process test server.

#include "net/http.h"
#include "testhttpserver.h"

#include <QtTest>
#include <QNetworkReply>
#include <QProgressDialog>
#include <QSslConfiguration>


using namespace Strobix;
using Reply = TestHttpServer::Reply;
Q_DECLARE_METATYPE(Reply)

static Reply makeReply(int status, const QByteArray &body)
{
    Reply reply;
    reply.status = status;
    reply.body = body;
    return reply;
}

class TestHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void transfer_data();
    void transfer();
    void closingTheDialogAborts_data();
    void closingTheDialogAborts();
    void unwritableFileThrowsBeforeAnyRequest();
    void abandonedDownloadLeavesNoFile();
    void lateSignalOfTheReplyBefore();
    void tls();

private:
    QString url(const QString &name) const;
    // Runs one download; returns how often finished() came.
    // -1: a dialog was left behind; -2: the file was open or the dialog visible at finished().
    int download(QFile &file);

    QTemporaryDir dir;
    QTemporaryDir certificates;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QWidget> window;
    Http http;
};

void TestHttp::initTestCase()
{
    // A scratch trust store: the test CA is the only authority Qt trusts here.
    QCOMPARE(QProcess::execute(QStringLiteral("bash"), {QStringLiteral(STROBIX_SOURCE_DIR "/tools/test-certs.sh"),
                                                        certificates.path()}), 0);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(certificates.filePath(QStringLiteral("ca.pem"))));
    QSslConfiguration::setDefaultConfiguration(tls);
}

void TestHttp::init()
{
    server.reset(new TestHttpServer);
    QVERIFY(server->listen());
    window.reset(new QWidget);
    window->show();
}

void TestHttp::cleanup()
{
    window.reset();
    server.reset();
}

QString TestHttp::url(const QString &name) const
{
    return server->url(QStringLiteral("/firmware/") + name).toString();
}

int TestHttp::download(QFile &file)
{
    QSignalSpy finished(&http, &Http::finished);
    bool tidyAtEnd = false;
    QMetaObject::Connection probe = connect(&http, &Http::finished, this, [&] {
        const auto dialogs = window->findChildren<QProgressDialog *>();
        tidyAtEnd = !file.isOpen() && std::none_of(dialogs.cbegin(), dialogs.cend(),
                                                   [](QProgressDialog *d) { return d->isVisible(); });
    });
    http.download(url(QFileInfo(file.fileName()).fileName()), &file, window.get());
    finished.wait(60000);
    disconnect(probe);
    // Let the reply and the dialog go, then make sure nothing else arrives.
    if (!QTest::qWaitFor([&] { return window->findChildren<QProgressDialog *>().isEmpty(); }))
        return -1;
    return tidyAtEnd ? finished.count() : -2;
}

void TestHttp::transfer_data()
{
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<bool>("kept");

    Reply image;
    image.body = QByteArray(300000, 'x');
    QTest::newRow("200 with length") << image << true;
    Reply noLength = image;
    noLength.mode = Reply::NoContentLength;
    QTest::newRow("no Content-Length") << noLength << true;
    QTest::newRow("empty 200 leaves an empty file") << Reply() << true;
    QTest::newRow("404 with an error page") << makeReply(404, "<html>no</html>") << false;
    Reply moved = makeReply(301, "<html>moved</html>");
    moved.location = "/firmware/other.dfu";
    QTest::newRow("301 is not followed and not kept") << moved << false;
    Reply cut = image;
    cut.mode = Reply::CutShort;
    cut.cutAfter = 5000;
    QTest::newRow("body cut short") << cut << false;
    Reply reset = cut;
    reset.mode = Reply::Reset;
    QTest::newRow("reset mid-body") << reset << false;
    Reply compressed = cut;
    compressed.compressible = true;
    for (int i = 0; i < compressed.body.size(); ++i)
        compressed.body[i] = char(QRandomGenerator::global()->bounded(256));
    QTest::newRow("a server that compresses, cut short") << compressed << false;
    Reply huge;
    huge.body = QByteArray(16 * 1024 * 1024 + 1, 'h');
    huge.mode = Reply::Trickle;
    huge.trickleChunk = 64 * 1024;
    QTest::newRow("announced length over 16 MiB") << huge << false;
    huge.mode = Reply::NoContentLength;
    QTest::newRow("no length, bytes pass 16 MiB") << huge << false;
    // Takes the whole 30 s that the download waits for a byte.
    Reply stalled;
    stalled.mode = Reply::NeverAnswer;
    QTest::newRow("server stalls") << stalled << false;
}

void TestHttp::transfer()
{
    QFETCH(Reply, reply);
    QFETCH(bool, kept);

    const QString path = dir.filePath(QStringLiteral("SX2100b0.dfu"));
    {
        // A file of the same name from before is emptied when the download starts.
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(500000, 'o'));
    }
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), reply);
    QFile file(path);
    QCOMPARE(download(file), 1);
    QCOMPARE(QFile::exists(path), kept);
    if (kept) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), reply.body);
    }
    // Qt may send the request once more after a connection reset.
    QCOMPARE(server->requests().value(0), QStringLiteral("/firmware/SX2100b0.dfu"));
}

void TestHttp::closingTheDialogAborts_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("close button") << false;
    QTest::newRow("Escape") << true;
}

void TestHttp::closingTheDialogAborts()
{
    QFETCH(bool, escape);
    Reply slow;
    slow.body = QByteArray(1024 * 1024, 's');
    slow.mode = Reply::Trickle;
    slow.trickleChunk = 256;
    server->setReply(QStringLiteral("/firmware/SX330196.dfu"), slow);
    // Close the dialog as the user would once the first bytes are in.
    QTimer closer;
    connect(&closer, &QTimer::timeout, [&] {
        QProgressDialog *dialog = window->findChild<QProgressDialog *>();
        if (dialog && dialog->isVisible() && dialog->value() > 0) {
            if (escape)
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                dialog->close();
            closer.stop();
        }
    });
    closer.start(5);
    QFile file(dir.filePath(QStringLiteral("SX330196.dfu")));
    QCOMPARE(download(file), 1);
    QVERIFY(!closer.isActive());
    QVERIFY(!file.exists());
}

void TestHttp::unwritableFileThrowsBeforeAnyRequest()
{
    const QString path = dir.filePath(QStringLiteral("SX0701a0.dfu"));
    QVERIFY(QDir().mkpath(path));
    QFile file(path);
    QSignalSpy finished(&http, &Http::finished);
    QString thrown;
    try {
        http.download(url(QStringLiteral("SX0701a0.dfu")), &file, window.get());
    } catch (const QString &text) {
        thrown = text;
    }
    QCOMPARE(thrown, QString::fromUtf8("Datei kann nicht geschrieben werden! / Cannot write local file!"));
    QVERIFY(window->findChildren<QProgressDialog *>().isEmpty());
    QCoreApplication::processEvents();
    QVERIFY(server->requests().isEmpty());
    QCOMPARE(finished.count(), 0);
    QVERIFY(QFileInfo(path).isDir());
}

// The window closed during the download: a partial file must not stay
// behind looking like an image.
void TestHttp::abandonedDownloadLeavesNoFile()
{
    Reply slow;
    slow.body = QByteArray(1024 * 1024, 's');
    slow.mode = Reply::Trickle;
    slow.trickleChunk = 256;
    server->setReply(QStringLiteral("/firmware/SX330196.dfu"), slow);
    QFile file(dir.filePath(QStringLiteral("SX330196.dfu")));
    QSignalSpy finished(&http, &Http::finished);
    http.download(url(QStringLiteral("SX330196.dfu")), &file, window.get());
    QTRY_VERIFY(file.size() > 0);
    http.abandon();
    QVERIFY(!file.exists());
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 0);
}

// The signature's download starts inside the image's finished(): a late
// signal of the image's reply must not act on it.
void TestHttp::lateSignalOfTheReplyBefore()
{
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), makeReply(200, "image"));
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu.minisig"), makeReply(200, "signature"));
    QFile image(dir.filePath(QStringLiteral("SX2100b0.dfu")));
    QFile signature(dir.filePath(QStringLiteral("SX2100b0.dfu.minisig")));
    QSignalSpy finished(&http, &Http::finished);
    QMetaObject::Connection next;
    next = connect(&http, &Http::finished, this, [&] {
        disconnect(next);
        QNetworkReply *before = http.findChild<QNetworkReply *>();
        http.download(url(QFileInfo(signature).fileName()), &signature, window.get());
        emit before->finished();
    });
    http.download(url(QFileInfo(image).fileName()), &image, window.get());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
    QVERIFY(signature.open(QIODevice::ReadOnly));
    QCOMPARE(signature.readAll(), QByteArray("signature"));
}

// Over HTTPS with a certificate from the trusted CA; that Qt refuses others
// is Qt's own matter.
void TestHttp::tls()
{
    QFile key(certificates.filePath(QStringLiteral("good.key")));
    QVERIFY(key.open(QIODevice::ReadOnly));
    server->useTls(QSslCertificate::fromPath(certificates.filePath(QStringLiteral("good.pem"))).value(0),
                   QSslKey(&key, QSsl::Rsa));
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), makeReply(200, "over TLS"));
    QFile file(dir.filePath(QStringLiteral("SX2100b0.dfu")));
    QCOMPARE(download(file), 1);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("over TLS"));
}

QTEST_MAIN(TestHttp)
#include "tst_http.moc"
