// Start-up: the data folder, the guard that ends the program when the image
// file or its signature cannot be written, and the Unix signals.

#include "app/application.h"
#include "app/globals.h"
#include "app/startup.h"
#include "app/unixsignals.h"
#include "dfusefile.h"
#include "fakedfucontrol.h"
#include "modalwatcher.h"
#include "testhttpserver.h"

#include <QtTest>
#include <QNetworkProxyFactory>
#include <QPushButton>

#include <csignal>
#include <future>
#include <pthread.h>
#include <thread>

using namespace Strobix;

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void dataFolder_data();
    void dataFolder();
    void unwritableFileEndsTheProgram_data();
    void unwritableFileEndsTheProgram();
    void downloadsGoThroughTheSystemProxy();
    void childrenGetTheUsersEnvironment();
    void signalBurstDoesNotBlock();

private:
    std::unique_ptr<QTemporaryDir> home;
};

void TestStartup::init()
{
    home.reset(new QTemporaryDir);
    QVERIFY(home->isValid());
    qputenv("XDG_DATA_HOME", home->path().toUtf8());
    setApplicationIdentity();
}

void TestStartup::dataFolder_data()
{
    QTest::addColumn<QString>("present");
    QTest::newRow("first start: nothing there") << "";
    QTest::newRow("later start: both there") << "Orvane kelvio GmbH/strobix Firmware Updater/kelvio";
}

void TestStartup::dataFolder()
{
    QFETCH(QString, present);
    const QString location = home->path() + QStringLiteral("/Orvane kelvio GmbH/strobix Firmware Updater");
    if (!present.isEmpty()) {
        QVERIFY(QDir(home->path()).mkpath(present));
        QFile earlier(home->path() + QLatin1Char('/') + present + QStringLiteral("/earlier.txt"));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
    }
    prepareDataFolder();
    QCOMPARE(Strobix::dataFolder, location + QStringLiteral("/kelvio/"));
    QVERIFY(QFileInfo(Strobix::dataFolder).isDir());
    // Files from earlier runs stay.
    if (!present.isEmpty())
        QVERIFY(QFile::exists(home->path() + QLatin1Char('/') + present + QStringLiteral("/earlier.txt")));
}

static QPushButton *findStartButton()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->inherits("Strobix::UpdateWidget") && w->isVisible())
            return w->findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly).value(0);
    }
    return nullptr;
}

void TestStartup::unwritableFileEndsTheProgram_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QStringList>("requests");
    QTest::newRow("the image") << "SX2100b0.dfu" << "" << QStringList();
    // Any key asks for a signature. Its download starts while the image's reply finishes.
    QTest::newRow("its signature") << "SX2100b0.dfu.minisig" << "RWQ" << QStringList{"/firmware/SX2100b0.dfu"};
}

void TestStartup::unwritableFileEndsTheProgram()
{
    QFETCH(QString, file);
    QFETCH(QString, keys);
    QFETCH(QStringList, requests);
    prepareDataFolder();
    FakeDfuControl fake(QStringLiteral(FAKEDFU_PATH));
    QVERIFY(fake.isValid());
    const QString previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(fake.workDir()));
    fake.setScript(1, FakeDfuControl::upload(QByteArray::fromHex("2100b0ffffffffff")));
    TestHttpServer server;
    QVERIFY(server.listen(STROBIX_TEST_PORT));
    TestHttpServer::Reply image;
    image.body = dfuseFile({{0x08004000, QByteArray(1024, '\x5a')}});
    server.setReply(QStringLiteral("/firmware/SX2100b0.dfu"), image);
    // A directory where the file must go: it cannot be opened for writing, not even by root.
    QVERIFY(QDir().mkpath(Strobix::dataFolder + file));

    ModalWatcher watcher;
    bool mainWindowGoneWhenBoxShown = false;
    connect(&watcher, &ModalWatcher::boxSeen, [&] { mainWindowGoneWhenBoxShown = !findStartButton(); });
    QTimer::singleShot(0, [] {
        if (QPushButton *start = findStartButton())
            start->click();
    });
    const int result = runMainWindow(*static_cast<Application *>(qApp), keys);
    QDir::setCurrent(previousDir);

    QCOMPARE(result, -1);
    QCOMPARE(watcher.boxes.size(), 1);
    QCOMPARE(watcher.boxes.at(0).title, QStringLiteral("strobix Firmware Updater"));
    QCOMPARE(watcher.boxes.at(0).text,
             QString::fromUtf8("Datei kann nicht geschrieben werden! / Cannot write local file!"));
    QCOMPARE(watcher.boxes.at(0).icon, QMessageBox::Critical);
    QVERIFY(mainWindowGoneWhenBoxShown);
    QCOMPARE(server.requests(), requests);
}

// Behind a proxy, as the desktop (or http_proxy) sets it, downloads go
// through it once the program has started. (Qt never sends loopback
// addresses, such as the test server's, through a proxy.)
void TestStartup::downloadsGoThroughTheSystemProxy()
{
    // As Qt starts where it is built without system proxies by default.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    qputenv("http_proxy", "http://proxy.kelvio.example:3128");
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    runMainWindow(*static_cast<Application *>(qApp));
    const QNetworkProxy proxy
        = QNetworkProxyFactory::proxyForQuery(QNetworkProxyQuery(QUrl(QStringLiteral("http://firmware.kelvio.example/"))))
              .value(0);
    qunsetenv("http_proxy");
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    QCOMPARE(proxy.hostName() + QLatin1Char(':') + QString::number(proxy.port()),
             QStringLiteral("proxy.kelvio.example:3128"));
}

// What the user's environment held, before the application object was made.
static QByteArray usersGlIntegration;

// dfu-util and the browser see the user's setting, not the one the updater starts with.
void TestStartup::childrenGetTheUsersEnvironment()
{
    QProcess child;
    child.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"),
                                            QStringLiteral("printf %s \"${QT_XCB_GL_INTEGRATION-unset}\"")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.readAll(), usersGlIntegration);
}

// Signals that come faster than the event loop reads them: the handler must
// not block once the socket is full.
void TestStartup::signalBurstDoesNotBlock()
{
    const int numbers[] = {SIGTERM, SIGHUP, SIGINT};
    struct sigaction saved[3];
    for (int i = 0; i < 3; ++i)
        sigaction(numbers[i], nullptr, &saved[i]);
    const auto restore = qScopeGuard([&] {
        for (int i = 0; i < 3; ++i)
            sigaction(numbers[i], &saved[i], nullptr);
    });
    // Its notifier goes before the loop sees a byte: quit() would end every later event loop.
    const std::unique_ptr<UnixSignals> handler(new UnixSignals);
    auto done = std::make_shared<std::promise<void>>();
    std::thread burst([done] {
        for (int i = 0; i < 100000; ++i)
            pthread_kill(pthread_self(), SIGHUP);
        done->set_value();
    });
    if (done->get_future().wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        burst.detach();
        QFAIL("the signal handler still blocks after 60 s");
    }
    burst.join();
}

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    usersGlIntegration = qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION") ? qgetenv("QT_XCB_GL_INTEGRATION")
                                                                            : QByteArray("unset");
    Application app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
