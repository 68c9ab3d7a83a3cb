// Whole updates in-process: the real main window clicked, the fake tool, the
// test server, and the outcome box read and confirmed.

#include "app/globals.h"
#include "app/startup.h"
#include "dfusefile.h"
#include "fakedfucontrol.h"
#include "modalwatcher.h"
#include "testhttpserver.h"
#include "ui/updatewidget.h"

#include <QtTest>
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

QByteArray anImage(int size = 200 * 1024)
{
    return dfuseFile({{0x08004000, QByteArray(size, '\x5a')}});
}

// Records the label of every progress dialog when it is shown, however briefly,
// and whether a hidden one still has a timer running that would show it again.
class DialogRecorder : public QObject
{
public:
    QStringList labels;
    int armedWhenHidden = 0;
    bool eventFilter(QObject *object, QEvent *event) override
    {
        auto *dialog = qobject_cast<QProgressDialog *>(object);
        if (dialog && event->type() == QEvent::Show)
            labels << dialog->labelText();
        if (dialog && event->type() == QEvent::Hide) {
            const auto timers = dialog->findChildren<QTimer *>();
            armedWhenHidden += int(std::count_if(timers.cbegin(), timers.cend(),
                                                 [](QTimer *t) { return t->isActive(); }));
        }
        return false;
    }
};

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
    void serverRefusesTheConnection();
    void closingTheInstallDialogOnlyHidesIt();
    void closingTheDownloadDialogCancels_data();
    void closingTheDownloadDialogCancels();
    void fullDiskDuringDownload();
    void secondUpdaterOnTheSameDataFolder();
    void dataFolderTakesNoFile();
    void closingTheWindow_data();
    void closingTheWindow();

private:
    struct Outcome {
        QString text;
        QMessageBox::Icon icon;
    };
    Outcome runOnce(UpdateWidget &window);
    QPushButton *startButton(UpdateWidget &window);
    QStringList area(int n) const;
    QStringList install(const QString &name) const;

    QTemporaryDir home;
    std::unique_ptr<Fake> fake;
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<ModalWatcher> watcher;
    DialogRecorder dialogs;
    QString previousDir;
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
    QTRY_VERIFY(std::none_of(QApplication::topLevelWidgets().cbegin(), QApplication::topLevelWidgets().cend(),
                             [](QWidget *w) { return w->isVisible(); }));
}

QStringList TestWorkflow::area(int n) const
{
    const QString dump = dataFolder + QStringLiteral("strobix.otp");
    switch (n) {
    case 1:
        return {"-d", "0483:df11", "-i", "0", "-a", "0", "-s", "0x0800F800:8", "-U", dump};
    case 2:
        return {"-d", "0483:df11", "-i", "0", "-a", "2", "-s", "0x1FFF7800", "-U", dump};
    default:
        return {"-d", "0483:df11", "-c", "1", "-i", "0", "-a", "2", "-s", "0x08080080:8", "-U", dump};
    }
}

QStringList TestWorkflow::install(const QString &name) const
{
    return {"-d", "0483:df11", "-c", "1", "-i", "0", "-a", "0", "-D", dataFolder + name};
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
    const QByteArray x21 = Fake::upload(QByteArray::fromHex("2100b0ffffffffff"));
    const QByteArray x21unknown = Fake::upload(QByteArray::fromHex("2100b3ffffffffff"));
    const QByteArray x33 = Fake::upload(QByteArray::fromHex("330196ffffffffff"));
    const QByteArray x58 = Fake::upload(QByteArray::fromHex("5801000073") + QByteArray(251, 0));
    Reply image;
    image.body = anImage();
    Reply notFound;
    notFound.status = 404;
    notFound.body = "<html>not here</html>";
    Reply serverError = notFound;
    serverError.status = 500;
    Reply moved;
    moved.status = 301;
    moved.location = "/firmware/elsewhere.dfu";
    moved.body = "<html>moved</html>";
    Reply found = moved;
    found.status = 302;
    Reply cutShort = image;
    cutShort.mode = Reply::CutShort;
    cutShort.cutAfter = 1000;
    Reply reset = cutShort;
    reset.mode = Reply::Reset;
    Reply noLength = image;
    noLength.mode = Reply::NoContentLength;
    Reply portal;
    portal.body = "<html><body><form action=\"/login\">Please log in</form></body></html>";
    const QString dl = QStringLiteral("Herunterladen / Downloading ...");

    QTest::newRow("X21 Canon, success")
        << QList<QByteArray>{x21, installOutput(100)} << "SX2100b0.dfu" << image << okText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("X58 Pentax from the second area")
        << QList<QByteArray>{none, x58, installOutput(100)} << "SX580173.dfu" << image << okText
        << QStringList{dl, "Firmware Update X58 Pentax"} << 2 << true;
    QTest::newRow("X33 Fuji from the third area")
        << QList<QByteArray>{none, none, x33, installOutput(100)} << "SX330196.dfu" << image << okText
        << QStringList{dl, "Firmware Update X33 Fuji"} << 3 << true;
    QTest::newRow("name outside the catalogue installs with the plain text")
        << QList<QByteArray>{x21unknown, installOutput(100)} << "SX2100b3.dfu" << image << okText
        << QStringList{dl, "Firmware Update"} << 1 << true;
    QTest::newRow("tool missing")
        << QList<QByteArray>{} << "" << image << notFoundText << QStringList{} << 0 << false;
    QTest::newRow("tool crashes while identifying")
        << QList<QByteArray>{none, Fake::crash()} << "" << image << notFoundText << QStringList{} << 2 << false;
    QTest::newRow("no unit")
        << QList<QByteArray>{none, none, none} << "" << image << noDeviceText << QStringList{} << 3 << false;
    QTest::newRow("404") << QList<QByteArray>{x21} << "SX2100b0.dfu" << notFound << downloadText
                         << QStringList{dl} << 1 << false;
    QTest::newRow("500") << QList<QByteArray>{x21} << "SX2100b0.dfu" << serverError << downloadText
                         << QStringList{dl} << 1 << false;
    QTest::newRow("301 is no image") << QList<QByteArray>{x21} << "SX2100b0.dfu" << moved << downloadText
                                     << QStringList{dl} << 1 << false;
    QTest::newRow("302 is no image") << QList<QByteArray>{x21} << "SX2100b0.dfu" << found << downloadText
                                     << QStringList{dl} << 1 << false;
    QTest::newRow("body cut short") << QList<QByteArray>{x21} << "SX2100b0.dfu" << cutShort << downloadText
                                    << QStringList{dl} << 1 << false;
    QTest::newRow("connection reset") << QList<QByteArray>{x21} << "SX2100b0.dfu" << reset << downloadText
                                      << QStringList{dl} << 1 << false;
    QTest::newRow("no Content-Length")
        << QList<QByteArray>{x21, installOutput(100)} << "SX2100b0.dfu" << noLength << okText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("a captive portal's login page is no image")
        << QList<QByteArray>{x21} << "SX2100b0.dfu" << portal << downloadText << QStringList{dl} << 1 << false;
    QTest::newRow("last progress 99")
        << QList<QByteArray>{x21, installOutput(99)} << "SX2100b0.dfu" << image << notOkText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("no progress at all")
        << QList<QByteArray>{x21, Fake::out("dfu-util 0.11\nOpening DFU capable USB device...\n")} << "SX2100b0.dfu"
        << image << notOkText << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("installer crashes after 100")
        << QList<QByteArray>{x21, installOutput(100) + Fake::crash()} << "SX2100b0.dfu" << image << notOkText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("installer aborts after 100")
        << QList<QByteArray>{x21, installOutput(100) + Fake::abortTool()} << "SX2100b0.dfu" << image << notOkText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("installer crashes before any output")
        << QList<QByteArray>{x21, Fake::crash()} << "SX2100b0.dfu" << image << notOkText
        << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("tool aborts in the third identification run")
        << QList<QByteArray>{none, none, Fake::abortTool()} << "" << image << notFoundText << QStringList{}
        << 3 << false;
    QTest::newRow("megabytes of install output, then 100")
        << QList<QByteArray>{x21, Fake::flood(4 * 1024 * 1024, 4096) + installOutput(100)} << "SX2100b0.dfu"
        << image << okText << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("100 then NUL then junk is cut at the NUL")
        << QList<QByteArray>{x21, installOutput(100) + Fake::out(QByteArray("\0 12%", 5))} << "SX2100b0.dfu"
        << image << okText << QStringList{dl, "Firmware Update X21 Canon"} << 1 << true;
    QTest::newRow("tool aborts in the first identification run")
        << QList<QByteArray>{Fake::abortTool()} << "" << image << notFoundText << QStringList{} << 1 << false;
    QTest::newRow("tool aborts in the second identification run")
        << QList<QByteArray>{none, Fake::abortTool()} << "" << image << notFoundText << QStringList{} << 2 << false;
    QTest::newRow("tool crashes in the third identification run")
        << QList<QByteArray>{none, none, Fake::crash()} << "" << image << notFoundText << QStringList{} << 3 << false;
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
        calls << area(n);
    const bool installed = dialogLabels.size() == 2;
    if (installed)
        calls << install(served);
    QCOMPARE(fake->calls(), calls);
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
    const QByteArray x21 = Fake::upload(QByteArray::fromHex("2100b0ffffffffff"));
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
    fake->setScript(6, x21);

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

void TestWorkflow::serverRefusesTheConnection()
{
    fake->setScript(1, Fake::upload(QByteArray::fromHex("2100b0ffffffffff")));
    server.reset(); // nothing listens on the firmware port now
    UpdateWidget window(nullptr);
    window.show();
    QCOMPARE(runOnce(window).text, QString::fromUtf8(downloadText));
    QVERIFY(!QFile::exists(dataFolder + QStringLiteral("SX2100b0.dfu")));
    QCOMPARE(fake->calls().size(), 1);
}

// The installation goes on when its dialog is closed; the verdict still uses the
// last percentage, and further progress does not bring the dialog back.
void TestWorkflow::closingTheInstallDialogOnlyHidesIt()
{
    fake->setScript(1, Fake::upload(QByteArray::fromHex("2100b0ffffffffff")));
    fake->setScript(2, installOutput(100) + Fake::pauseMs(800) + Fake::out("\nDownload done.\n"));
    Reply image;
    image.body = anImage(5);
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), image);
    QTimer closer;
    int closed = 0;
    connect(&closer, &QTimer::timeout, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *dialog = qobject_cast<QProgressDialog *>(w);
            if (!closed && dialog && dialog->isVisible()
                && dialog->labelText() == QLatin1String("Firmware Update X21 Canon") && dialog->value() == 100) {
                ++closed;
                QMetaObject::invokeMethod(dialog, "close", Qt::QueuedConnection);
            }
        }
    });
    closer.start(5);

    UpdateWidget window(nullptr);
    window.show();
    QCOMPARE(runOnce(window).text, QString::fromUtf8(okText));
    QCOMPARE(closed, 1);
    QCOMPARE(dialogs.labels, QStringList({"Herunterladen / Downloading ...", "Firmware Update X21 Canon"}));
}

void TestWorkflow::closingTheDownloadDialogCancels_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("while bytes trickle in") << int(Reply::Trickle);
    QTest::newRow("server accepts and never answers") << int(Reply::NeverAnswer);
}

void TestWorkflow::closingTheDownloadDialogCancels()
{
    QFETCH(int, mode);
    fake->setScript(1, Fake::upload(QByteArray::fromHex("2100b0ffffffffff")));
    Reply slow;
    slow.body = QByteArray(1024 * 1024, 's');
    slow.mode = Reply::Mode(mode);
    slow.trickleChunk = 512;
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), slow);
    watcher->closeProgressDialogOnce = true;

    UpdateWidget window(nullptr);
    window.show();
    QCOMPARE(runOnce(window).text, QString::fromUtf8(downloadText));
    QCOMPARE(watcher->progressDialogsClosed, 1);
    QVERIFY(!QFile::exists(dataFolder + QStringLiteral("SX2100b0.dfu")));
    // No installer was started.
    QCOMPARE(fake->calls().size(), 1);
}

void TestWorkflow::fullDiskDuringDownload()
{
    fake->setScript(1, Fake::upload(QByteArray::fromHex("2100b0ffffffffff")));
    Reply image;
    image.body = QByteArray(4 * 1024 * 1024, 'i');
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), image);

    struct rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 256 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);

    UpdateWidget window(nullptr);
    window.show();
    const QString text = runOnce(window).text;
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QCOMPARE(text, QString::fromUtf8(downloadText));
    QVERIFY(!QFile::exists(dataFolder + QStringLiteral("SX2100b0.dfu")));
    QCOMPARE(fake->calls().size(), 1);
}

// Two updaters on one data folder would read each other's dump and write each
// other's image: the second one stops at once and touches nothing.
void TestWorkflow::secondUpdaterOnTheSameDataFolder()
{
    fake->setScript(1, Fake::pauseMs(1500) + Fake::upload(QByteArray::fromHex("2100b0ffffffffff")));
    fake->setScript(2, installOutput(100));
    Reply image;
    image.body = anImage();
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), image);

    UpdateWidget first(nullptr);
    UpdateWidget second(nullptr);
    first.show();
    second.show();
    QTest::mouseClick(startButton(first), Qt::LeftButton);
    QTRY_COMPARE(fake->calls().size(), 1);
    QCOMPARE(runOnce(second).text, QString::fromUtf8("Eine andere Aktualisierung läuft bereits / Another update is already running"));
    QCOMPARE(fake->calls().size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(watcher->boxes.size(), 2, 30000);
    QCOMPARE(watcher->boxes.last().text, QString::fromUtf8(okText));
    QCOMPARE(server->requests(), QStringList{"/firmware/SX2100b0.dfu"});
    // The lock goes with the run.
    QCOMPARE(runOnce(second).text, QString::fromUtf8(noDeviceText));
}

// A file where the data folder should be, as a read-only or missing folder:
// the run says so instead of blaming the cable, and the program goes on.
void TestWorkflow::dataFolderTakesNoFile()
{
    const QString folder = dataFolder;
    QFile blocker(home.filePath(QStringLiteral("not a folder")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    dataFolder = blocker.fileName() + QLatin1Char('/');
    UpdateWidget window(nullptr);
    window.show();
    const QString text = runOnce(window).text;
    dataFolder = folder;
    QCOMPARE(text, QString::fromUtf8(writeText));
    QVERIFY(fake->calls().isEmpty());
    QVERIFY(server->requests().isEmpty());
}

void TestWorkflow::closingTheWindow_data()
{
    QTest::addColumn<QString>("phase");
    QTest::newRow("while identifying") << "identifying";
    QTest::newRow("while downloading") << "downloading";
    QTest::newRow("while installing") << "installing";
}

// The window goes while a run is under way: a running dfu-util is let finish
// (never killed half-way through writing the unit) and a partial image is removed.
void TestWorkflow::closingTheWindow()
{
    QFETCH(QString, phase);
    const QByteArray x21 = Fake::upload(QByteArray::fromHex("2100b0ffffffffff"));
    const QByteArray slowEnd = Fake::out("\rDownload\t[==    ]  30%") + Fake::pauseMs(1500)
                               + Fake::out("\rDownload\t[======] 100%\nDownload done.\n");
    fake->setScript(1, phase == QLatin1String("identifying") ? slowEnd + x21 : x21);
    fake->setScript(2, slowEnd);
    Reply image;
    image.body = anImage(512 * 1024);
    if (phase == QLatin1String("downloading")) {
        image.mode = Reply::Trickle;
        image.trickleChunk = 1024;
    }
    server->setReply(QStringLiteral("/firmware/SX2100b0.dfu"), image);
    const QString imagePath = dataFolder + QStringLiteral("SX2100b0.dfu");

    auto *window = new UpdateWidget(nullptr);
    window->show();
    QTest::mouseClick(startButton(*window), Qt::LeftButton);
    if (phase == QLatin1String("identifying"))
        QTRY_COMPARE(fake->calls().size(), 1);
    else if (phase == QLatin1String("downloading"))
        QTRY_VERIFY(QFileInfo(imagePath).size() > 0);
    else
        QTRY_COMPARE(dialogs.labels.size(), 2);
    delete window;

    QFile log(dataFolder + QStringLiteral("dfu-util.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray logged = log.readAll();
    if (phase == QLatin1String("downloading")) {
        QVERIFY(!QFile::exists(imagePath));
    } else {
        // The tool ran to its end before the window was gone.
        QVERIFY2(logged.endsWith("Download done.\n"), logged.constData());
    }
    QCOMPARE(watcher->boxes.size(), 0);
}

QTEST_MAIN(TestWorkflow)
#include "tst_workflow.moc"
