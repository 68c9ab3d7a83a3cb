// Whole updates with nothing faked but the unit: the real main window clicked,
// the real dfu-util (through the launcher) talking to the virtual unit, and a
// real nginx serving the images. Each row checks the outcome box, the dialogs,
// the log the tool left, and what the unit's memory holds afterwards.

#include "app/globals.h"
#include "app/startup.h"
#include "dfu/dfuseimage.h"
#include "tools.h"
#include "dfusefile.h"
#include "dialogrecorder.h"
#include "modalwatcher.h"
#include "ui/updatewidget.h"
#include "update/firmwarecatalogue.h"

#include <QtTest>
#include <QProgressDialog>
#include <QPushButton>

using namespace Strobix;

namespace {

const char okText[] = "Firmware Update ok";
const char noDeviceText[] = "Kein kompatibles Gerät gefunden / No compatible device found";
const char downloadText[] = "Kann Imagedatei nicht herunterladen / Cannot download image file";
const char notOkText[] = "Firmware upgrade NOT ok!";
const char signatureText[] = "Signatur der Imagedatei fehlt oder ist ungültig / Image file signature missing or invalid";
const char fullBar[] = "Download\t[=========================] 100%";

const QString sourceDir = QStringLiteral(STROBIX_SOURCE_DIR);
const QString vuTool = QStringLiteral(VU_TOOL);

// What the unit holds after the run: -1 the whole image and nothing else
// changed, 0 exactly what it held before, N > 0 the image's first N bytes
// (elements in order) and the rest of the element broken off erased.
const qint64 whole = -1;
const qint64 spoilt = -2; // not the image, no more said


} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void update_data();
    void update();
    void manyUpdatesLeaveNothingBehind();

private:
    void clickStart(UpdateWidget &window);
    QString nginx(const QString &action);
    QByteArray unitBytes(const QString &state, quint32 address, int size);

    QTemporaryDir home;
    QTemporaryDir work; // images, docroot, the tool's folder, the unit
    std::unique_ptr<ModalWatcher> watcher;
    DialogRecorder dialogs;
};

QString TestEndToEnd::nginx(const QString &action)
{
    const auto result = runTool(QStringLiteral("bash"), {sourceDir + QStringLiteral("/tools/firmware/nginx.sh"), action,
                                                     work.filePath(QStringLiteral("docroot")),
                                                     QString::number(STROBIX_TEST_PORT)});
    return result.exitCode == 0 ? QString() : result.output;
}

void TestEndToEnd::initTestCase()
{
    QVERIFY(home.isValid() && work.isValid());
    // The real tool, whatever the developer's shell points the launcher at.
    qunsetenv("STROBIX_DFU_UTIL");
    qputenv("STROBIX_VU_LIB", VU_LIB_DIR);
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    setApplicationIdentity();
    prepareDataFolder();

    // The updater starts dfu-util/dfu-util.exe relative to the working directory.
    QVERIFY(QDir(work.path()).mkpath(QStringLiteral("tool/dfu-util")));
    QVERIFY(QFile::link(sourceDir + QStringLiteral("/tools/dfu-util-launcher.sh"),
                        work.filePath(QStringLiteral("tool/dfu-util/dfu-util.exe"))));
    const QString failure = buildFirmwareImages(sourceDir + QStringLiteral("/tools/firmware/make-images.sh"),
                                                work.filePath(QStringLiteral("images")),
                                                work.filePath(QStringLiteral("broken")));
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    // The images the maker builds are the catalogue's, row by row.
    QStringList catalogue;
    for (const CatalogueEntry &entry : firmwareCatalogue)
        catalogue << QString::fromLatin1(entry.imageName);
    catalogue.sort();
    QCOMPARE(QDir(work.filePath(QStringLiteral("images"))).entryList(QDir::Files), catalogue);
    QVERIFY(QDir(work.path()).mkpath(QStringLiteral("docroot")));
    // One left behind by a killed earlier run would hold the port.
    nginx(QStringLiteral("stop"));
    const QString started = nginx(QStringLiteral("start"));
    QVERIFY2(started.isEmpty(), qPrintable(started));
    qApp->installEventFilter(&dialogs);
    QVERIFY(QDir::setCurrent(work.filePath(QStringLiteral("tool"))));
}

void TestEndToEnd::cleanupTestCase()
{
    nginx(QStringLiteral("stop"));
}

void TestEndToEnd::init()
{
    // Every row starts from the full set of good images on the server, a fresh unit and an empty data folder.
    QDir docroot(work.filePath(QStringLiteral("docroot")));
    for (const QString &name : QDir(work.filePath(QStringLiteral("images"))).entryList(QDir::Files)) {
        docroot.remove(name);
        QVERIFY(QFile::copy(work.filePath(QStringLiteral("images/") + name), docroot.filePath(name)));
    }
    for (const QString &name : QDir(dataFolder).entryList(QDir::Files))
        QVERIFY(QFile::remove(dataFolder + name));
    watcher.reset(new ModalWatcher);
    dialogs.labels.clear();
    qputenv("STROBIX_VU_FAULT", "none");
    // A silent unit otherwise keeps each request waiting the tool's 5 s.
    qputenv("STROBIX_VU_TIMEOUT_MS", "1000");
}

void TestEndToEnd::clickStart(UpdateWidget &window)
{
    QPushButton *start = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly).first();
    const int boxes = watcher->boxes.size();
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY2(!start->isEnabled(), "Start stays enabled during the run");
    QTRY_VERIFY_WITH_TIMEOUT(watcher->boxes.size() == boxes + 1, 60000);
    QTRY_VERIFY(start->isEnabled());
}

QByteArray TestEndToEnd::unitBytes(const QString &state, quint32 address, int size)
{
    const QString out = work.filePath(QStringLiteral("read.bin"));
    QFile::remove(out);
    const auto read = runTool(vuTool, {QStringLiteral("read"), state, QStringLiteral("0x%1").arg(address, 0, 16),
                                   QString::number(size), out});
    return read.exitCode == 0 ? readFile(out) : QByteArray("<outside the unit>");
}

void TestEndToEnd::update_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("image"); // the name the unit asks for; empty: none
    // a broken set from make-images.sh, "missing", "tampered" (after signing), or empty: the good image
    QTest::addColumn<QString>("served");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("installLabel"); // empty: no installation
    QTest::addColumn<qint64>("memory");
    QTest::addColumn<int>("fullBars"); // full Download bars in the log
    QTest::addColumn<QString>("logHas");

    QTest::newRow("X21 Canon, named by the first area")
        << "x21-canon" << "none" << "SX2100b0.dfu" << "" << okText << "Firmware Update X21 Canon" << whole << 1
        << "Done parsing DfuSe file";
    QTest::newRow("X58 Pentax, named by the second area")
        << "x58-pentax" << "none" << "SX580173.dfu" << "" << okText << "Firmware Update X58 Pentax" << whole << 2
        << "Done parsing DfuSe file";
    QTest::newRow("X33 Fuji, named by the third area")
        << "x33-fuji" << "none" << "SX330196.dfu" << "" << okText << "Firmware Update X33 Fuji" << whole << 2
        << "Done parsing DfuSe file";
    QTest::newRow("no unit attached") << "x21-canon" << "absent" << "" << "" << noDeviceText << "" << qint64(0)
                                      << 0 << "No DFU capable USB device available";
    QTest::newRow("blank unit") << "blank" << "none" << "" << "" << noDeviceText << "" << qint64(0) << 0 << "Upload";
    // A unit that dfu-util sees but cannot use: the first line names the cause, the second what to do.
    QTest::newRow("no access to the unit") << "x21-canon" << "no-access" << "" << ""
                                          << "Blitzgerät gefunden, aber kein Zugriff erlaubt / Flash unit found, but access is denied"
                                          << "" << qint64(0) << 0 << "(LIBUSB_ERROR_ACCESS)";
    QTest::newRow("no driver for the unit") << "x21-canon" << "no-driver" << "" << ""
                                           << "Blitzgerät gefunden, aber ohne passenden USB-Treiber / Flash unit found, "
                                              "but without a suitable USB driver"
                                           << "" << qint64(0) << 0 << "(LIBUSB_ERROR_NOT_SUPPORTED)";
    QTest::newRow("unit in use") << "x21-canon" << "busy" << "" << ""
                                 << "Blitzgerät wird von einem anderen Programm benutzt / Flash unit is in use by another program"
                                 << "" << qint64(0) << 0 << "Cannot claim interface - LIBUSB_ERROR_BUSY";
    QTest::newRow("two units") << "x21-canon" << "two-units" << "" << ""
                               << "Mehr als ein Gerät im Update-Modus angeschlossen / More than one device in update mode connected"
                               << "" << qint64(0) << 0 << "More than one DFU capable USB device found!";
    QTest::newRow("read-protected unit") << "x33-canon" << "read-protected" << "" << "" << noDeviceText << ""
                                         << qint64(0) << 0 << "LIBUSB_ERROR_PIPE";
    // Blank OTP names an image that no server holds.
    QTest::newRow("X21 whose record was wiped") << "x21-wiped" << "none" << "SXffffff.dfu" << "missing" << downloadText
                                                << "" << qint64(0) << 0 << "Upload";
    QTest::newRow("unknown model, no image on the server")
        << "unknown" << "none" << "SX650170.dfu" << "missing" << downloadText << "" << qint64(0) << 0 << "Upload";
    // Refused before dfu-util sees it, so the message names the download.
    QTest::newRow("image with a broken suffix CRC")
        << "x21-canon" << "none" << "SX2100b0.dfu" << "badcrc" << downloadText << "" << qint64(0) << 0 << "Upload";
    QTest::newRow("signing build, image changed after signing")
        << "x21-canon" << "none" << "SX2100b0.dfu" << "tampered" << signatureText << "" << qint64(0) << 0
        << "SX2100b0.dfu not installed, its signature check failed: the signature by key ";
    // 2048-byte blocks; the failing block programs its first half.
    QTest::newRow("programming fails in a middle block")
        << "x21-canon" << "program-fail:3" << "SX2100b0.dfu" << "" << notOkText << "Firmware Update X21 Canon"
        << qint64(2 * 2048 + 1024) << 0 << "Program memory function failed";
    // A full first bar must not pass for a finished installation.
    QTest::newRow("programming fails in the second element")
        << "x58-pentax" << "program-fail:13" << "SX580173.dfu" << "" << notOkText << "Firmware Update X58 Pentax"
        << qint64(23000 + 1024) << 1 << "Program memory function failed";
    QTest::newRow("last element outside the flash")
        << "x21-canon" << "none" << "SX2100b0.dfu" << "unwritable" << notOkText << "Firmware Update X21 Canon"
        << qint64(20000) << 1 << "Last page at 0x1fff00ff is not writeable";
    // The tool printed 100 % for every element, but it failed: a retry is cheap, a false ok is not.
    QTest::newRow("status fails after the last block")
        << "x33-fuji" << "status-fail-after-last" << "SX330196.dfu" << "" << notOkText << "Firmware Update X33 Fuji"
        << whole << 2 << "Error during abort get_status";
    // The sector keeps its old bytes, and neither the unit nor the tool says so: the read-back does.
    QTest::newRow("write-protected sector")
        << "x21-canon" << "write-protected:1" << "SX2100b0.dfu" << "" << notOkText << "Firmware Update X21 Canon"
        << spoilt << 1 << "Download done.";
    QTest::newRow("unit stops answering during the download")
        << "x7" << "stop-answering:2" << "SX0701a0.dfu" << "" << notOkText << "Firmware Update X7"
        << qint64(2 * 2048) << 0 << "Error during download get_status";
    QTest::newRow("unit unplugged during the download")
        << "x58-canon" << "unplug:3" << "SX580170.dfu" << "" << notOkText << "Firmware Update X58 Canon"
        << qint64(3 * 2048) << 0 << "";
}

void TestEndToEnd::update()
{
    QFETCH(QString, model);
    QFETCH(QString, fault);
    QFETCH(QString, image);
    QFETCH(QString, served);
    QFETCH(QString, text);
    QFETCH(QString, installLabel);
    QFETCH(qint64, memory);
    QFETCH(int, fullBars);
    QFETCH(QString, logHas);

    const QString pristine = work.filePath(QStringLiteral("pristine.state"));
    const QString state = work.filePath(QStringLiteral("unit.state"));
    QFile::remove(pristine);
    QFile::remove(state);
    QCOMPARE(runTool(vuTool, {QStringLiteral("init"), pristine, model}).exitCode, 0);
    QVERIFY(QFile::copy(pristine, state));
    qputenv("STROBIX_VU_MODEL", model.toUtf8());
    qputenv("STROBIX_VU_STATE", state.toUtf8());
    qputenv("STROBIX_VU_FAULT", fault.toUtf8());
    const QString servedPath = work.filePath(QStringLiteral("docroot/") + image);
    QString keys = QLatin1String(firmwarePublicKeys);
    if (served == QLatin1String("tampered")) {
        keys = minisignKey(work.path());
        QVERIFY(!minisignSign(work.path(), servedPath).isEmpty());
        QByteArray bytes = readFile(servedPath);
        bytes[400] = char(bytes[400] ^ 1); // in the first element
        QVERIFY(writeFile(servedPath, resealed(bytes)));
    } else if (!served.isEmpty()) {
        QFile::remove(servedPath);
        if (served != QLatin1String("missing"))
            QVERIFY(QFile::copy(work.filePath(QStringLiteral("broken/%1/%2").arg(served, image)), servedPath));
    }
    const QByteArray servedBytes = readFile(servedPath);

    UpdateWidget window(nullptr, keys);
    window.show();
    clickStart(window);
    QCOMPARE(watcher->boxes.size(), 1);
    // The first line names the cause; some texts add a line on what to do.
    QCOMPARE(watcher->boxes.first().text.section(QLatin1Char('\n'), 0, 0), text);

    QStringList labels;
    if (!image.isEmpty())
        labels << QStringLiteral("Herunterladen / Downloading ...");
    if (!keys.isEmpty())
        labels << labels.last(); // the signature's
    if (!installLabel.isEmpty())
        labels << installLabel;
    QCOMPARE(dialogs.labels, labels);
    // The updater keeps the image it installed, byte for byte as served, and no other.
    QCOMPARE(readFile(dataFolder + image), installLabel.isEmpty() ? QByteArray() : servedBytes);
    QVERIFY(!QFile::exists(dataFolder + image + QStringLiteral(".minisig")));

    // The log holds the real tool's output of its last run, with the read-back after an installation.
    const QByteArray log = readFile(dataFolder + QStringLiteral("dfu-util.log"));
    QVERIFY2(log.startsWith("dfu-util 0.11"), log.constData());
    QVERIFY2(log.contains(logHas.toUtf8()), log.constData());
    QCOMPARE(log.count(fullBar), fullBars);

    if (memory == 0) {
        const auto diff = runTool(vuTool, {QStringLiteral("diff"), pristine, state});
        QVERIFY2(diff.exitCode == 0, diff.output.toLocal8Bit().constData());
        return;
    }
    const auto compare = runTool(vuTool, {QStringLiteral("compare"), state, servedPath, pristine});
    QVERIFY2((compare.exitCode == 0) == (memory == whole), compare.output.toLocal8Bit().constData());
    if (memory == whole || memory == spoilt)
        return;
    // The elements up to the break hold the image, the one broken off reads
    // erased from there on (one value, as the model erases), and the elements
    // never reached are as they were.
    DfuseImage elements;
    QCOMPARE(DfuseImage::read(servedBytes, &elements), QString());
    qint64 before = 0;
    for (const DfuseImage::Element &e : elements.elements) {
        const int written = int(qBound(qint64(0), memory - before, qint64(e.data.size())));
        const QByteArray held = unitBytes(state, e.address, e.data.size());
        const QByteArray rest = held.mid(written);
        if (before >= memory && before > 0) {
            QCOMPARE(held, unitBytes(pristine, e.address, e.data.size()));
        } else {
            QCOMPARE(held.left(written), e.data.left(written));
            QVERIFY(rest.isEmpty() || rest == QByteArray(rest.size(), rest.at(0)));
        }
        before += e.data.size();
    }
}

// Many updates in one process, successes and failures mixed: threads, open
// files and child processes stay flat.
void TestEndToEnd::manyUpdatesLeaveNothingBehind()
{
    const auto count = [](const QString &folder) {
        return QDir(folder).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    };
    const QString threads = QStringLiteral("/proc/self/task");
    const QString files = QStringLiteral("/proc/self/fd");
    const QStringList faults{"none", "absent", "program-fail:3", "none"};
    qputenv("STROBIX_VU_MODEL", "x21-canon");
    qputenv("STROBIX_VU_STATE", work.filePath(QStringLiteral("soak.state")).toUtf8());
    UpdateWidget window(nullptr);
    window.show();
    int threadsBefore = 0;
    int filesBefore = 0;
    for (int i = 0; i < 24; ++i) {
        // The first rounds load what Qt keeps for good.
        if (i == 4) {
            threadsBefore = count(threads);
            filesBefore = count(files);
        }
        qputenv("STROBIX_VU_FAULT", faults.at(i % faults.size()).toUtf8());
        clickStart(window);
    }
    QTRY_VERIFY(count(threads) <= threadsBefore && count(files) <= filesBefore);
    const QString self = QString::number(QCoreApplication::applicationPid());
    QTRY_COMPARE(runTool(QStringLiteral("pgrep"), {QStringLiteral("-P"), self}).exitCode, 1);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
