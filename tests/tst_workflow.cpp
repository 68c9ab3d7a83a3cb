// Whole updates in-process: the real main window clicked, the fake tool, the
// test server, and the outcome box read and confirmed.

#include "app/globals.h"
#include "app/startup.h"
#include "dfu/dfuutilinstaller.h"
#include "dfusefile.h"
#include "fakedfucontrol.h"
#include "dialogrecorder.h"
#include "modalwatcher.h"
#include "testhttpserver.h"
#include "tools.h"
#include "ui/updatewidget.h"

#include <QtTest>
#include <QLockFile>
#include <QProgressDialog>
#include <QPushButton>

#include <csignal>
#include <sys/resource.h>


using namespace Strobix;
using Fake = FakeDfuControl;
using Reply = TestHttpServer::Reply;
Q_DECLARE_METATYPE(Reply)

namespace {

const char okText[] = "Firmware Update ok";
const char notFoundText[] = "dfu-util nicht gefunden / not found";
const char noDeviceText[] = "Kein kompatibles Gerät gefunden / No compatible device found";
const char downloadText[] = "Kann Imagedatei nicht herunterladen / Cannot download image file";
const char notOkText[] = "Firmware upgrade NOT ok!";
const char writeText[] = "Datei kann nicht geschrieben werden! / Cannot write local file!";
const char runningText[] = "Eine andere Aktualisierung läuft bereits / Another update is already running";
const QString lockName = QLatin1String(FirmwareUpdater::lockFileName);
const QString readBackName = QLatin1String(DfuUtilInstaller::readBackFileName);
const char signatureText[] = "Signatur der Imagedatei fehlt oder ist ungültig / Image file signature missing or invalid";

QByteArray anImage(int size = 200 * 1024)
{
    return dfuseFile({{0x08004000, QByteArray(size, '\x5a')}});
}

const QByteArray x21 = Fake::upload(QByteArray::fromHex("2100b0ffffffffff"));

// The unit reading back what anImage(size) wrote, then naming itself as before.
QList<QByteArray> readBack(int size = 200 * 1024, const QByteArray &identity = x21)
{
    return {Fake::upload(QByteArray(size, '\x5a')), identity};
}


QByteArray installOutput(int lastPercent)
{
    // As the real tool: an erase bar to 100 %, then the download bar from 0 %.
    QByteArray script = Fake::out("dfu-util 0.11\n\nOpening DFU capable USB device...\n")
                        + Fake::out("\rErase   \t[                         ]   0%            0 bytes")
                        + Fake::out("\rErase   \t[=========================] 100%        51200 bytes\n");
    for (int p = 0; p <= lastPercent; p += 25) {
        script += Fake::out(QStringLiteral("\rDownload\t[%1] %2%        %3 bytes")
                                .arg(QString(p / 4, QLatin1Char('=')), -25)
                                .arg(p, 3).arg(p * 100).toLatin1());
    }
    if (lastPercent % 25)
        script += Fake::out(QStringLiteral("\rDownload\t[======] %1%").arg(lastPercent, 3).toLatin1());
    return script;
}

} // namespace

class TestWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void update_data();
    void update();
    void twoRunsInARow();
    void closingADialog_data();
    void closingADialog();
    void dataFolderProblems_data();
    void dataFolderProblems();
    void signedImage_data();
    void signedImage();
    void destroyedUpdaterDeletesItsThread();

private:
    struct Outcome {
        QString text;
        QMessageBox::Icon icon;
    };
    Outcome runOnce(UpdateWidget &window);
    QPushButton *startButton(UpdateWidget &window);

    QTemporaryDir home;
    std::unique_ptr<Fake> fake;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<ModalWatcher> watcher;
    DialogRecorder dialogs;
    QString previousDir;
    QString signingKey;
};

void TestWorkflow::initTestCase()
{
    QVERIFY(home.isValid());
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    setApplicationIdentity();
    prepareDataFolder();
    QVERIFY(dataFolder.contains(QLatin1Char(' ')));
    QVERIFY(QDir(dataFolder).exists());
    qApp->installEventFilter(&dialogs);
}

void TestWorkflow::init()
{
    fake.reset(new Fake(QStringLiteral(FAKEDFU_PATH)));
    QVERIFY(fake->isValid());
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(fake->workDir()));
    server.reset(new TestHttpServer);
    QVERIFY(server->listen(STROBIX_TEST_PORT));
    watcher.reset(new ModalWatcher);
    dialogs.labels.clear();
    dialogs.armedWhenHidden = 0;
    for (const QString &name : QDir(dataFolder).entryList(QDir::Files))
        QFile::remove(dataFolder + name);
}

void TestWorkflow::cleanup()
{
    watcher.reset();
    server.reset();
    QDir::setCurrent(previousDir);
    fake.reset();
    // Every dialog of a run is gone once the run has ended.
    QTRY_VERIFY([] {
        const QWidgetList all = QApplication::topLevelWidgets();
        return std::none_of(all.cbegin(), all.cend(), [](QWidget *w) { return w->isVisible(); });
    }());
}

QPushButton *TestWorkflow::startButton(UpdateWidget &window)
{
    const auto buttons = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    return buttons.isEmpty() ? nullptr : buttons.first();
}

TestWorkflow::Outcome TestWorkflow::runOnce(UpdateWidget &window)
{
    const int before = watcher->boxes.size();
    QPushButton *start = startButton(window);
    QTest::mouseClick(start, Qt::LeftButton);
    // Start stays disabled until the run has ended.
    if (start->isEnabled())
        return {QStringLiteral("<Start still enabled>"), QMessageBox::NoIcon};
    if (!QTest::qWaitFor([&] { return watcher->boxes.size() > before; }, 60000))
        return {QStringLiteral("<no box>"), QMessageBox::NoIcon};
    const ModalWatcher::Box box = watcher->boxes.last();
    if (box.title != QLatin1String("strobix Firmware Updater") || box.buttonCount != 1)
        return {QStringLiteral("<bad box: %1, %2 buttons>").arg(box.title).arg(box.buttonCount),
                QMessageBox::NoIcon};
    if (!start->isEnabled())
        return {QStringLiteral("<Start disabled after the run>"), QMessageBox::NoIcon};
    return {box.text, box.icon};
}

void TestWorkflow::update_data()
{
    QTest::addColumn<QList<QByteArray>>("scripts");
    QTest::addColumn<QString>("served");
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("dialogLabels");
    QTest::addColumn<int>("identificationRuns");
    QTest::addColumn<bool>("imageKept");

    const QByteArray none = Fake::err("dfu-util: No DFU capable USB device available\n") + Fake::exitCode(74);
    const QByteArray x21unknown = Fake::upload(QByteArray::fromHex("2100b3ffffffffff"));
    Reply image;
    image.body = anImage();
    Reply notFound;
    notFound.status = 404;
    notFound.body = "<html>not here</html>";
    Reply otherDevice;
    otherDevice.body = dfuseFile({{0x08004000, QByteArray(1024, '\x5a')}}, 0x0483, 0xdf12);
    const QString dl = QStringLiteral("Herunterladen / Downloading ...");

    QTest::newRow("X21 Canon, success")
        << QList<QByteArray>{x21, installOutput(100)} + readBack() << "SX2100b0.dfu" << image << okText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("name outside the catalogue installs with the plain text")
        << QList<QByteArray>{x21unknown, installOutput(100)} + readBack(200 * 1024, x21unknown) << "SX2100b3.dfu"
        << image << okText
        << QStringList{dl, "Firmware Update"} << 1 << true;
    QTest::newRow("tool missing")
        << QList<QByteArray>{} << "" << image << notFoundText << QStringList{} << 0 << false;
    QTest::newRow("no unit")
        << QList<QByteArray>{none, none, none} << "" << image << noDeviceText << QStringList{} << 3 << false;
    QTest::newRow("404") << QList<QByteArray>{x21} << "SX2100b0.dfu" << notFound << downloadText
                         << QStringList{dl} << 1 << false;
    QTest::newRow("an image for another device is no image")
        << QList<QByteArray>{x21} << "SX2100b0.dfu" << otherDevice << downloadText << QStringList{dl} << 1 << false;
    QTest::newRow("last progress 99")
        << QList<QByteArray>{x21, installOutput(99)} + readBack() << "SX2100b0.dfu" << image << notOkText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    // As dfu-util.exe writes it: a character at a time.
    QByteArray byCharacter;
    for (const char c : QByteArray("\rDownload\t[=========================] 100%        51200 bytes\n"))
        byCharacter += Fake::out(QByteArray(1, c)) + Fake::pauseMs(1);
    QTest::newRow("the last figure arrives in pieces")
        << QList<QByteArray>{x21, installOutput(75) + byCharacter} + readBack() << "SX2100b0.dfu" << image << okText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("exit 74 after 100 is not ok")
        << QList<QByteArray>{x21, installOutput(100) + Fake::err("dfu-util: Error during abort get_status\n")
                                      + Fake::exitCode(74)}
        << "SX2100b0.dfu" << image << notOkText << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
}

void TestWorkflow::update()
{
    QFETCH(QList<QByteArray>, scripts);
    QFETCH(QString, served);
    QFETCH(Reply, reply);
    QFETCH(QString, text);
    QFETCH(QStringList, dialogLabels);
    QFETCH(int, identificationRuns);
    QFETCH(bool, imageKept);

    if (scripts.isEmpty())
        QVERIFY(QFile::remove(fake->toolPath()));
    for (int i = 0; i < scripts.size(); ++i)
        fake->setScript(i + 1, scripts.at(i));
    if (!served.isEmpty())
        server->setReply(QStringLiteral("/firmware/") + served, reply);

    UpdateWidget window(nullptr);
    window.show();
    const Outcome outcome = runOnce(window);
    QCOMPARE(outcome.text, text);
    QCOMPARE(outcome.icon, text == QLatin1String(okText) ? QMessageBox::Information : QMessageBox::Critical);
    QCOMPARE(dialogs.labels, dialogLabels);
    QCOMPARE(dialogs.armedWhenHidden, 0);

    QList<QStringList> calls;
    for (int n = 1; n <= identificationRuns; ++n)
        calls << Fake::identificationCall(n, dataFolder + QStringLiteral("strobix.otp"));
    const bool installed = dialogLabels.size() == 2;
    if (installed)
        calls << Fake::installCall(dataFolder + served);
    if (scripts.size() == identificationRuns + 3) {
        calls << Fake::readBackCall(QStringLiteral("0x08004000:%1").arg(200 * 1024), dataFolder + readBackName)
              << Fake::identificationCall(1, dataFolder + QStringLiteral("strobix.otp"));
    }
    QCOMPARE(fake->calls(), calls);
    // The run gives up the lock, however it ended, as another updater would see it.
    QLockFile next(dataFolder + lockName);
    QVERIFY(next.tryLock(0));
    QCOMPARE(server->requests(), served.isEmpty() ? QStringList() : QStringList{"/firmware/" + served});

    const QString imagePath = dataFolder + served;
    QCOMPARE(!served.isEmpty() && QFile::exists(imagePath), imageKept);
    if (imageKept) {
        QFile file(imagePath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), reply.body);
    }
    QVERIFY(!QFile::exists(dataFolder + QStringLiteral("strobix.otp")) || text == QLatin1String(notFoundText));
    if (installed && text == QLatin1String(okText)) {
        // The log holds the installation's output, not the identification's.
        QFile log(dataFolder + QStringLiteral("dfu-util.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("\rDownload\t["));
    }
}

void TestWorkflow::twoRunsInARow()
{
    const QByteArray none = Fake::exitCode(74);
    Reply image;
    image.body = anImage(9);
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), image);
    {
        // An image of the same name from an earlier run is downloaded anew.
        QFile old(dataFolder + QStringLiteral("SX2100b0.dfu"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(100000, 'o'));
    }
    fake->setScript(1, none);
    fake->setScript(2, none);
    fake->setScript(3, none);
    fake->setScript(4, x21);
    fake->setScript(5, installOutput(100));
    fake->setScript(6, readBack(9).at(0));
    fake->setScript(7, x21);
    fake->setScript(8, x21);

    UpdateWidget window(nullptr);
    window.show();
    QCOMPARE(runOnce(window).text, QString::fromUtf8(noDeviceText));
    QCOMPARE(runOnce(window).text, QString::fromUtf8(okText));
    QFile image1(dataFolder + QStringLiteral("SX2100b0.dfu"));
    QVERIFY(image1.open(QIODevice::ReadOnly));
    QCOMPARE(image1.readAll(), image.body);

    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), [] { Reply r; r.status = 404; r.body = "gone"; return r; }());
    QCOMPARE(runOnce(window).text, QString::fromUtf8(downloadText));
    QVERIFY(!QFile::exists(dataFolder + QStringLiteral("SX2100b0.dfu")));
    QCOMPARE(watcher->boxes.size(), 3);
}

void TestWorkflow::closingADialog_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("at");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("runs");
    QTest::newRow("the download dialog cancels") << "Herunterladen / Downloading ..." << 0 << downloadText << 1;
    // The installation goes on; the verdict still reads the last percentage,
    // and further output does not bring the dialog back.
    QTest::newRow("the install dialog only hides") << "Firmware Update X21 Canon" << 100 << okText << 2;
}

void TestWorkflow::closingADialog()
{
    QFETCH(QString, label);
    QFETCH(int, at);
    QFETCH(QString, text);
    QFETCH(int, runs);
    fake->setScript(1, Fake::upload(QByteArray::fromHex("2100b0ffffffffff")));
    // The bar's end and its line end in one write, as the real tool prints them:
    // the dialog is closed after the last figure, while the tool waits.
    fake->setScript(2, installOutput(75)
                           + Fake::out("\rDownload\t[=========================] 100%        10000 bytes\nDownload done.\n")
                           + Fake::hold("closed") + Fake::out("Done parsing DfuSe file\n"));
    fake->setScript(3, readBack(512 * 1024).at(0));
    fake->setScript(4, x21);
    Reply slow;
    slow.body = anImage(512 * 1024);
    slow.mode = Reply::Trickle;
    slow.trickleChunk = 64 * 1024;
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), slow);
    watcher->closeLabel = label;
    watcher->closeAt = at;
    connect(watcher.get(), &ModalWatcher::progressDialogClosed, [this] { fake->release(QStringLiteral("closed")); });

    UpdateWidget window(nullptr);
    window.show();
    QCOMPARE(runOnce(window).text, text);
    QCOMPARE(watcher->progressDialogsClosed, 1);
    QCOMPARE(QFile::exists(dataFolder + QStringLiteral("SX2100b0.dfu")), runs == 2);
    QCOMPARE(fake->calls().size(), runs + 2 * (runs == 2));
}

void TestWorkflow::dataFolderProblems_data()
{
    QTest::addColumn<QString>("problem");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("toolRuns");
    // As a read-only or missing folder.
    QTest::newRow("a file where the data folder should be") << "folder is a file" << writeText << 0;
    // As a dump that a virus scanner holds.
    QTest::newRow("a folder where the dump should be") << "strobix.otp/" << writeText << 0;
    // A good write would read as NOT ok: the folder must be freed, before the unit is written.
    QTest::newRow("a folder where the read-back goes") << readBackName + "/" << writeText << 0;
    QTest::newRow("a folder where the lock goes") << lockName + "/" << writeText << 0;
    // What a power cut soon after Start can leave.
    QTest::newRow("an empty lock") << "empty lock" << noDeviceText << 3;
    // What a starting updater's lock is for an instant.
    QTest::newRow("an empty lock made just now") << "new empty lock" << runningText << 0;
    QTest::newRow("a lock from another computer") << "foreign lock" << noDeviceText << 3;
    QTest::newRow("a lock that another updater holds") << "held lock" << runningText << 0;
    // As a leftover lock in a read-only folder, which root would take over.
    QTest::newRow("a lock not taken in a folder that takes no file") << "held lock, strobix.probe/" << writeText << 0;
    // A local problem, not the network's: the help for a failed download would mislead.
    QTest::newRow("the disk fills during the download") << "full disk" << writeText << 1;
}

// The run says what is wrong with the folder instead of blaming the cable or
// the network, and the program goes on.
void TestWorkflow::dataFolderProblems()
{
    QFETCH(QString, problem);
    QFETCH(QString, text);
    QFETCH(int, toolRuns);
    const QString folder = dataFolder;
    const QString lockPath = dataFolder + lockName;
    QLockFile owner(lockPath);
    QFile blocker(home.filePath(QStringLiteral("not a folder")));
    QFile lock(lockPath);
    if (problem == QLatin1String("folder is a file")) {
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        dataFolder = blocker.fileName() + QLatin1Char('/');
    } else if (problem.startsWith(QLatin1String("held lock"))) {
        QVERIFY(owner.tryLock(0));
        problem = problem.section(QLatin1String(", "), 1);
        QVERIFY(problem.isEmpty() || QDir().mkpath(dataFolder + problem));
    } else if (problem.endsWith(QLatin1Char('/'))) {
        QVERIFY(QDir().mkpath(dataFolder + problem));
    } else if (problem != QLatin1String("full disk")) {
        QVERIFY(lock.open(QIODevice::WriteOnly));
        if (problem == QLatin1String("foreign lock"))
            lock.write("4242\nstrobix-updater\nanother-computer.example\n");
        if (problem == QLatin1String("empty lock"))
            QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
        lock.close();
    }
    fake->setDefaultScript(Fake::exitCode(74));
    if (problem == QLatin1String("full disk"))
        fake->setScript(1, x21);
    Reply image;
    image.body = anImage();
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), image);

    FirmwareUpdater updater;
    QSignalSpy finished(&updater, &FirmwareUpdater::finished);
    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 100 * 1000;
    if (problem == QLatin1String("full disk"))
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    updater.startUpdate(nullptr);
    const bool ended = finished.wait(60000);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    dataFolder = folder;
    if (problem.endsWith(QLatin1Char('/')))
        QDir(dataFolder + problem).removeRecursively();
    QVERIFY(ended);
    QCOMPARE(updater.errorText, text);
    QCOMPARE(fake->calls().size(), toolRuns);
    QVERIFY(!QFile::exists(dataFolder + QStringLiteral("SX2100b0.dfu")));
    // A lock that belongs to a running updater stays.
    QVERIFY(!owner.isLocked() || QFile::exists(lockPath));
}

void TestWorkflow::signedImage_data()
{
    QTest::addColumn<QByteArray>("served");
    QTest::addColumn<QByteArray>("signature"); // empty: none on the server
    QTest::addColumn<QString>("text");
    signingKey = minisignKey(home.path());
    QVERIFY(writeFile(home.filePath(QStringLiteral("SX2100b0.dfu")), anImage()));
    const QByteArray signature = minisignSign(home.path(), home.filePath(QStringLiteral("SX2100b0.dfu")));
    QByteArray tampered = anImage();
    tampered[1000] = 'X'; // still a sound DfuSe image: only the signature can tell
    QTest::newRow("signed image") << anImage() << signature << okText;
    QTest::newRow("no signature on the server") << anImage() << QByteArray() << signatureText;
    QTest::newRow("tampered image") << resealed(tampered) << signature << signatureText;
}

void TestWorkflow::signedImage()
{
    QFETCH(QByteArray, served);
    QFETCH(QByteArray, signature);
    QFETCH(QString, text);
    fake->setScript(1, x21);
    fake->setScript(2, installOutput(100));
    fake->setScript(3, readBack().at(0));
    fake->setScript(4, readBack().at(1));
    Reply reply;
    reply.body = served;
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), reply);
    reply.body = signature;
    if (!signature.isEmpty())
        server->setReply(QStringLiteral("/firmware/SX2100b0.dfu.minisig"), reply);

    UpdateWidget window(nullptr, signingKey);
    window.show();
    QCOMPARE(runOnce(window).text, text);
    QCOMPARE(server->requests(), (QStringList{"/firmware/SX2100b0.dfu", "/firmware/SX2100b0.dfu.minisig"}));
    const bool ok = text == QLatin1String(okText);
    QCOMPARE(fake->calls().size(), ok ? 4 : 1);
    const QStringList kept{"SX2100b0.dfu", "SX2100b0.dfu.minisig", "dfu-util.log"};
    QCOMPARE(QDir(dataFolder).entryList(QDir::Files, QDir::Name), ok ? kept : QStringList{kept.last()});
}

namespace {
// Sees a thread's deferred deletion come through the event loop.
struct ThreadDeletionSpy : QObject
{
    bool seen = false;
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        seen = seen || (event->type() == QEvent::DeferredDelete && receiver->inherits("QThread"));
        return false;
    }
};
} // namespace

// The program's end: no event loop runs after the window has gone, so the
// updater must delete the thread it waited for itself.
void TestWorkflow::destroyedUpdaterDeletesItsThread()
{
    fake->setDefaultScript(Fake::exitCode(74));
    std::unique_ptr<FirmwareUpdater> updater(new FirmwareUpdater);
    updater->startUpdate(nullptr);
    updater.reset();
    QCOMPARE(fake->calls().size(), 3);
    ThreadDeletionSpy spy;
    qApp->installEventFilter(&spy);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    qApp->removeEventFilter(&spy);
    QVERIFY(!spy.seen);
}

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
