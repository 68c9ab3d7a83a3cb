// Whole updates with nothing faked but the unit: the real main window clicked,
// the real dfu-util (through the launcher) talking to the virtual unit, and a
// real nginx serving the images. Each row checks the outcome box, the dialogs,
// the log the tool left, and what the unit's memory holds afterwards.

#include "app/globals.h"
#include "app/startup.h"
#include "firmwareimages.h"
#include "modalwatcher.h"
#include "ui/updatewidget.h"

#include <QtEndian>
#include <QtTest>
#include <QProgressDialog>
#include <QPushButton>

#include <algorithm>
#include <memory>

using namespace Strobix;

namespace {

const char okText[] = "Firmware Update ok";
const char noDeviceText[] = "Kein kompatibles Gerät gefunden / No compatible device found";
const char downloadText[] = "Kann Imagedatei nicht herunterladen / Cannot download image file";
const char notOkText[] = "Firmware upgrade NOT ok!";
const char downloadLabel[] = "Herunterladen / Downloading ...";
const char fullBar[] = "Download\t[=========================] 100%";

const QString sourceDir = QStringLiteral(STROBIX_SOURCE_DIR);
const QString vuTool = QStringLiteral(VU_TOOL);
const QString vuLibDir = QStringLiteral(VU_LIB_DIR);
const int toolLimitMs = 120000; // a bound on hangs, not a speed target

// What the unit's memory must hold after the run.
enum class Memory {
    Whole,     // every element of the image, and nothing else changed
    Unchanged, // exactly as before the run
    Partial,   // the image's first `inPlace` bytes (elements in order), then erased
};

// How the server offers the image the unit asks for.
enum class Served { Normal, Missing, BadCrc, BadVid, Unwritable };

struct ToolRun {
    int exitCode = -1;
    QByteArray output;
};

ToolRun runTool(const QString &program, const QStringList &arguments,
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ToolRun run;
    if (!process.waitForStarted(toolLimitMs))
        return run;
    if (!process.waitForFinished(toolLimitMs)) {
        process.kill();
        process.waitForFinished(toolLimitMs);
    }
    run.output = process.readAll();
    if (process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    return run;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Element {
    quint32 address = 0;
    QByteArray data;
};

// The elements of a DfuSe file, read independently of the unit's own parser.
QVector<Element> dfuseElements(const QByteArray &file)
{
    QVector<Element> elements;
    const auto u32 = [&](int at) { return qFromLittleEndian<quint32>(file.constData() + at); };
    if (file.size() < 11 + 16 || !file.startsWith("DfuSe"))
        return elements;
    const int targets = quint8(file[10]);
    int at = 11;
    for (int t = 0; t < targets; ++t) {
        if (file.size() < at + 274 || file.mid(at, 6) != "Target")
            return {};
        const quint32 count = u32(at + 270);
        at += 274;
        for (quint32 e = 0; e < count; ++e) {
            if (file.size() < at + 8)
                return {};
            Element element;
            element.address = u32(at);
            const int size = int(u32(at + 4));
            element.data = file.mid(at + 8, size);
            if (element.data.size() != size)
                return {};
            elements << element;
            at += 8 + size;
        }
    }
    return elements;
}

// Records the label of every progress dialog when it is shown, however briefly.
class DialogRecorder : public QObject
{
public:
    QStringList labels;
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *dialog = qobject_cast<QProgressDialog *>(object))
                labels << dialog->labelText();
        }
        return false;
    }
};

// Runs nginx.sh; stop() also runs when the test object goes, whatever failed before.
class NginxGuard
{
public:
    ~NginxGuard() { stop(); }

    ToolRun start(const QString &docroot, const QString &runDir, int port)
    {
        m_docroot = docroot;
        m_runDir = runDir;
        m_port = port;
        // One left behind by a killed earlier run would hold the port.
        call(QStringLiteral("stop"));
        const ToolRun run = call(QStringLiteral("start"));
        m_started = run.exitCode == 0;
        return run;
    }

    void stop()
    {
        if (m_started)
            call(QStringLiteral("stop"));
        m_started = false;
    }

private:
    ToolRun call(const QString &action)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("STROBIX_NGINX_RUN"), m_runDir);
        return runTool(QStringLiteral("bash"),
                       {sourceDir + QStringLiteral("/tools/firmware/nginx.sh"), action, m_docroot,
                        QString::number(m_port)},
                       env);
    }

    QString m_docroot;
    QString m_runDir;
    int m_port = 0;
    bool m_started = false;
};

QString visibleTopLevels()
{
    QStringList names;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible())
            names << QString::fromLatin1(w->metaObject()->className());
    }
    return names.join(QLatin1Char(','));
}

} // namespace

Q_DECLARE_METATYPE(Memory)
Q_DECLARE_METATYPE(Served)

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();
    void update_data();
    void update();
    void soak();

private:
    QPushButton *startButton(UpdateWidget &window);
    void serve(const QString &name, Served how);
    void checkPartial(const QString &state, const QString &pristine, const QVector<Element> &elements,
                      qint64 inPlace);

    QTemporaryDir home;
    QTemporaryDir work; // images, docroot, the tool's folder
    std::unique_ptr<QTemporaryDir> unitDir;
    QString images;
    QString broken;
    QString docroot;
    QString previousDir;
    std::unique_ptr<ModalWatcher> watcher;
    DialogRecorder dialogs;
    NginxGuard nginx; // after `work`, so that nginx stops before its folders go
};

void TestEndToEnd::initTestCase()
{
    QVERIFY2(QFileInfo(QStringLiteral("/usr/bin/dfu-util")).isExecutable(),
             "dfu-util is not installed (package dfu-util)");
    QVERIFY2(QFileInfo(QStringLiteral("/usr/sbin/nginx")).isExecutable(), "nginx is not installed");
    QVERIFY2(QFileInfo::exists(vuLibDir + QStringLiteral("/libusb-1.0.so.0")), VU_LIB_DIR);
    QVERIFY2(QFileInfo(vuTool).isExecutable(), VU_TOOL);
    QVERIFY(home.isValid());
    QVERIFY(work.isValid());

    // The real tool, whatever the developer's shell points the launcher at.
    qunsetenv("STROBIX_DFU_UTIL");
    qunsetenv("LD_LIBRARY_PATH");
    qputenv("STROBIX_VU_LIB", vuLibDir.toUtf8());
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    setApplicationIdentity();
    prepareDataFolder();
    QVERIFY(QDir(dataFolder).exists());

    // The updater starts dfu-util/dfu-util.exe relative to the working directory.
    QVERIFY(QDir(work.path()).mkpath(QStringLiteral("tool/dfu-util")));
    QVERIFY(QFile::link(sourceDir + QStringLiteral("/tools/dfu-util-launcher.sh"),
                        work.filePath(QStringLiteral("tool/dfu-util/dfu-util.exe"))));

    images = work.filePath(QStringLiteral("images"));
    broken = work.filePath(QStringLiteral("broken"));
    docroot = work.filePath(QStringLiteral("docroot"));
    const QString failure = buildFirmwareImages(sourceDir + QStringLiteral("/tools/firmware/make-images.sh"),
                                                images, broken);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(QDir(images).entryList({QStringLiteral("SX*.dfu")}).size(), 17);
    QVERIFY(QDir().mkpath(docroot));

    const ToolRun started = nginx.start(docroot, QStringLiteral(NGINX_RUN_DIR), STROBIX_TEST_PORT);
    QVERIFY2(started.exitCode == 0, started.output.constData());

    qApp->installEventFilter(&dialogs);
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.filePath(QStringLiteral("tool"))));
}

void TestEndToEnd::cleanupTestCase()
{
    QDir::setCurrent(previousDir);
    qApp->removeEventFilter(&dialogs);
    nginx.stop();
}

void TestEndToEnd::init()
{
    // Every row starts from the full set of good images on the server.
    QDir served(docroot);
    for (const QString &name : served.entryList(QDir::Files))
        QVERIFY(served.remove(name));
    for (const QString &name : QDir(images).entryList(QDir::Files))
        QVERIFY(QFile::copy(images + QLatin1Char('/') + name, docroot + QLatin1Char('/') + name));
    for (const QString &name : QDir(dataFolder).entryList(QDir::Files))
        QVERIFY(QFile::remove(dataFolder + name));
    unitDir.reset(new QTemporaryDir);
    QVERIFY(unitDir->isValid());
    watcher.reset(new ModalWatcher);
    dialogs.labels.clear();
}

void TestEndToEnd::cleanup()
{
    watcher.reset();
    unitDir.reset();
    qunsetenv("STROBIX_VU_FAULT");
    qunsetenv("STROBIX_VU_TIMEOUT_MS");
    // Every dialog of a run is gone once the run has ended.
    QTRY_COMPARE(visibleTopLevels(), QString());
}

QPushButton *TestEndToEnd::startButton(UpdateWidget &window)
{
    const auto buttons = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    return buttons.isEmpty() ? nullptr : buttons.first();
}

void TestEndToEnd::serve(const QString &name, Served how)
{
    const QString target = docroot + QLatin1Char('/') + name;
    switch (how) {
    case Served::Normal:
        return;
    case Served::Missing:
        QVERIFY(QFile::remove(target));
        return;
    case Served::BadCrc:
    case Served::BadVid:
    case Served::Unwritable: {
        const char *set = how == Served::BadCrc ? "/badcrc/" : how == Served::BadVid ? "/badvid/" : "/unwritable/";
        QVERIFY(QFile::remove(target));
        QVERIFY(QFile::copy(broken + QLatin1String(set) + name, target));
        return;
    }
    }
}

// The unit holds the image's first inPlace bytes; the element broken off reads
// erased from there on, and the elements never reached are as they were.
void TestEndToEnd::checkPartial(const QString &state, const QString &pristine,
                                const QVector<Element> &elements, qint64 inPlace)
{
    qint64 before = 0;
    for (const Element &e : elements) {
        const QString address = QStringLiteral("0x%1").arg(e.address, 8, 16, QLatin1Char('0'));
        const QString length = QString::number(e.data.size());
        const QString now = unitDir->filePath(QStringLiteral("now.bin"));
        const QString was = unitDir->filePath(QStringLiteral("was.bin"));
        QFile::remove(now);
        QFile::remove(was);
        const bool inUnit = runTool(vuTool, {QStringLiteral("read"), state, address, length, now}).exitCode == 0;
        QCOMPARE(runTool(vuTool, {QStringLiteral("read"), pristine, address, length, was}).exitCode == 0, inUnit);
        const qint64 written = qBound(qint64(0), inPlace - before, qint64(e.data.size()));
        const bool reached = before == 0 || before < inPlace;
        before += e.data.size();
        // An element outside the unit's memory, never written.
        if (!inUnit) {
            QVERIFY(!reached);
            continue;
        }
        const QByteArray held = readFile(now);
        QCOMPARE(held.size(), e.data.size());
        if (!reached) {
            QVERIFY2(held == readFile(was), qPrintable(QStringLiteral("element at %1 was changed").arg(address)));
        } else {
            QVERIFY2(held.left(int(written)) == e.data.left(int(written)),
                     qPrintable(QStringLiteral("element at %1 lacks its first %2 bytes").arg(address).arg(written)));
            QVERIFY2(held.mid(int(written)) == QByteArray(e.data.size() - int(written), '\xff'),
                     qPrintable(QStringLiteral("element at %1 holds more than %2 bytes").arg(address).arg(written)));
        }
    }
}

void TestEndToEnd::update_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("image"); // the name the unit asks for; empty: none
    QTest::addColumn<Served>("served");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("installLabel"); // empty: no installation
    QTest::addColumn<Memory>("memory");
    QTest::addColumn<qint64>("inPlace");
    QTest::addColumn<int>("fullBars"); // full Download bars in the log
    QTest::addColumn<QStringList>("logHas");

    const QStringList done{"Download done.", "Done parsing DfuSe file"};

    QTest::newRow("X21 Canon, named by the first area")
        << "x21-canon" << "none" << "SX2100b0.dfu" << Served::Normal << okText
        << "Firmware Update X21 Canon" << Memory::Whole << qint64(0) << 1 << done;
    QTest::newRow("X58 Pentax, named by the second area")
        << "x58-pentax" << "none" << "SX580173.dfu" << Served::Normal << okText
        << "Firmware Update X58 Pentax" << Memory::Whole << qint64(0) << 2 << done;
    QTest::newRow("X33 Fuji, named by the third area")
        << "x33-fuji" << "none" << "SX330196.dfu" << Served::Normal << okText
        << "Firmware Update X33 Fuji" << Memory::Whole << qint64(0) << 2 << done;
    QTest::newRow("X7, named by the third area")
        << "x7" << "none" << "SX0701a0.dfu" << Served::Normal << okText
        << "Firmware Update X7" << Memory::Whole << qint64(0) << 1 << done;

    QTest::newRow("no unit attached")
        << "x21-canon" << "absent" << "" << Served::Normal << noDeviceText << "" << Memory::Unchanged
        << qint64(0) << 0 << QStringList{"No DFU capable USB device available"};
    QTest::newRow("blank unit")
        << "blank" << "none" << "" << Served::Normal << noDeviceText << "" << Memory::Unchanged << qint64(0)
        << 0 << QStringList{"Upload"};
    QTest::newRow("unknown model, no image on the server")
        << "unknown" << "none" << "SX650170.dfu" << Served::Normal << downloadText << "" << Memory::Unchanged
        << qint64(0) << 0 << QStringList{};
    QTest::newRow("catalogue image missing on the server")
        << "x33-canon" << "none" << "SX330190.dfu" << Served::Missing << downloadText << ""
        << Memory::Unchanged << qint64(0) << 0 << QStringList{};

    // 2048-byte blocks; the failing block programs its first half.
    QTest::newRow("programming fails in a middle block")
        << "x21-canon" << "program-fail:3" << "SX2100b0.dfu" << Served::Normal << notOkText
        << "Firmware Update X21 Canon" << Memory::Partial << qint64(2 * 2048 + 1024) << 0
        << QStringList{" failed!", "Program memory function failed"};
    QTest::newRow("programming fails in the first block")
        << "x21-canon" << "program-fail:1" << "SX2100b0.dfu" << Served::Normal << notOkText
        << "Firmware Update X21 Canon" << Memory::Partial << qint64(1024) << 0
        << QStringList{" failed!", "Program memory function failed"};
    // 20000 bytes: nine full blocks, then 1568 bytes of which half go in.
    QTest::newRow("programming fails in the last block")
        << "x21-canon" << "program-fail:10" << "SX2100b0.dfu" << Served::Normal << notOkText
        << "Firmware Update X21 Canon" << Memory::Partial << qint64(9 * 2048 + 784) << 0
        << QStringList{" failed!", "Program memory function failed"};
    // A full first bar must not pass for a finished installation.
    QTest::newRow("programming fails in the second element")
        << "x58-pentax" << "program-fail:13" << "SX580173.dfu" << Served::Normal << notOkText
        << "Firmware Update X58 Pentax" << Memory::Partial << qint64(23000 + 1024) << 1
        << QStringList{" failed!", "Program memory function failed"};
    // Refused before dfu-util sees them, so the message names the download.
    QTest::newRow("image with a broken suffix CRC")
        << "x21-canon" << "none" << "SX2100b0.dfu" << Served::BadCrc << downloadText << ""
        << Memory::Unchanged << qint64(0) << 0 << QStringList{"Upload"};
    QTest::newRow("image for another VID:PID")
        << "x33-fuji" << "none" << "SX330196.dfu" << Served::BadVid << downloadText << ""
        << Memory::Unchanged << qint64(0) << 0 << QStringList{"Upload"};
    // The tool printed 100 % for every element, but it failed: a retry is cheap, a false ok is not.
    QTest::newRow("status fails after the last block")
        << "x33-fuji" << "status-fail-after-last" << "SX330196.dfu" << Served::Normal << notOkText
        << "Firmware Update X33 Fuji" << Memory::Whole << qint64(0) << 2
        << QStringList{"Done parsing DfuSe file", "Error during abort get_status"};
    // The first element's bars reach 100 %, then the tool refuses the second one.
    QTest::newRow("last element outside the flash")
        << "x21-canon" << "none" << "SX2100b0.dfu" << Served::Unwritable << notOkText
        << "Firmware Update X21 Canon" << Memory::Partial << qint64(20000) << 1
        << QStringList{"Last page at 0x1fff00ff is not writeable"};
    QTest::newRow("unit stops answering during the download")
        << "x7" << "stop-answering:2" << "SX0701a0.dfu" << Served::Normal << notOkText
        << "Firmware Update X7" << Memory::Partial << qint64(2 * 2048) << 0
        << QStringList{"Error during download get_status"};
    QTest::newRow("unit unplugged during the download")
        << "x58-canon" << "unplug:3" << "SX580170.dfu" << Served::Normal << notOkText
        << "Firmware Update X58 Canon" << Memory::Partial << qint64(3 * 2048) << 0 << QStringList{};
}

void TestEndToEnd::update()
{
    QFETCH(QString, model);
    QFETCH(QString, fault);
    QFETCH(QString, image);
    QFETCH(Served, served);
    QFETCH(QString, text);
    QFETCH(QString, installLabel);
    QFETCH(Memory, memory);
    QFETCH(qint64, inPlace);
    QFETCH(int, fullBars);
    QFETCH(QStringList, logHas);

    const QString pristine = unitDir->filePath(QStringLiteral("pristine.state"));
    const QString state = unitDir->filePath(QStringLiteral("unit.state"));
    const ToolRun init = runTool(vuTool, {QStringLiteral("init"), pristine, model});
    QVERIFY2(init.exitCode == 0, init.output.constData());
    QVERIFY(QFile::copy(pristine, state));
    qputenv("STROBIX_VU_MODEL", model.toUtf8());
    qputenv("STROBIX_VU_STATE", state.toUtf8());
    qputenv("STROBIX_VU_FAULT", fault.toUtf8());
    // A silent unit otherwise keeps each request waiting the tool's 5 s.
    if (fault.startsWith(QLatin1String("stop-answering")))
        qputenv("STROBIX_VU_TIMEOUT_MS", "1000");
    if (!image.isEmpty())
        serve(image, served);
    const QString servedPath = docroot + QLatin1Char('/') + image;
    const QByteArray servedBytes = image.isEmpty() ? QByteArray() : readFile(servedPath);

    UpdateWidget window(nullptr);
    window.show();
    QPushButton *start = startButton(window);
    QVERIFY(start);
    QTest::mouseClick(start, Qt::LeftButton);
    QVERIFY2(!start->isEnabled(), "Start stays enabled during the run");
    QTRY_VERIFY_WITH_TIMEOUT(!watcher->boxes.isEmpty(), 60000);
    // The box is answered; then only the main window remains.
    QTRY_COMPARE(visibleTopLevels(), QStringLiteral("Strobix::UpdateWidget"));
    QCOMPARE(watcher->boxes.size(), 1);
    const ModalWatcher::Box box = watcher->boxes.first();
    QCOMPARE(box.title, QStringLiteral("strobix Firmware Updater"));
    QCOMPARE(box.buttonCount, 1);
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, text == QLatin1String(okText) ? QMessageBox::Information : QMessageBox::Critical);
    QVERIFY(start->isEnabled());

    QStringList labels;
    if (!image.isEmpty())
        labels << downloadLabel;
    if (!installLabel.isEmpty())
        labels << installLabel;
    QCOMPARE(dialogs.labels, labels);

    // The updater keeps the image it installed, byte for byte as served.
    if (!installLabel.isEmpty())
        QVERIFY(readFile(dataFolder + image) == servedBytes);
    else if (!image.isEmpty())
        QVERIFY(!QFile::exists(dataFolder + image));

    // The log holds the real tool's output of its last run alone.
    const QByteArray log = readFile(dataFolder + QStringLiteral("dfu-util.log"));
    QVERIFY2(log.startsWith("dfu-util 0.11") && log.count("dfu-util 0.11") == 1, log.constData());
    for (const QString &expected : logHas)
        QVERIFY2(log.contains(expected.toUtf8()), qPrintable(expected + QStringLiteral("\n---\n") + log));
    QCOMPARE(log.count(fullBar), fullBars);
    if (installLabel.isEmpty())
        QVERIFY2(!log.contains("Download"), log.constData());

    const ToolRun diff = runTool(vuTool, {QStringLiteral("diff"), pristine, state});
    switch (memory) {
    case Memory::Unchanged:
        QVERIFY2(diff.exitCode == 0, diff.output.constData());
        break;
    case Memory::Whole: {
        const ToolRun compare = runTool(vuTool, {QStringLiteral("compare"), state, servedPath, pristine});
        QVERIFY2(compare.exitCode == 0, compare.output.constData());
        break;
    }
    case Memory::Partial: {
        const ToolRun compare = runTool(vuTool, {QStringLiteral("compare"), state, servedPath, pristine});
        QVERIFY2(compare.exitCode == 1 && compare.output.contains("MISMATCH"), compare.output.constData());
        QVERIFY2(diff.exitCode == 1, diff.output.constData());
        const QVector<Element> elements = dfuseElements(servedBytes);
        QVERIFY(!elements.isEmpty());
        checkPartial(state, pristine, elements, inPlace);
        break;
    }
    }
}

namespace {

struct Footprint {
    qint64 rssKiB = 0;
    int threads = 0;
    int fds = 0;
    int children = 0;
};

qint64 statusField(const QByteArray &status, const QByteArray &name)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

Footprint footprint()
{
    Footprint f;
    const QByteArray status = readFile(QStringLiteral("/proc/self/status"));
    f.rssKiB = statusField(status, "VmRSS");
    f.threads = int(statusField(status, "Threads"));
    f.fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        // The parent's pid is the second field after the command's closing bracket.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self)
            ++f.children;
    }
    return f;
}

} // namespace

// Many updates in a row in one process, successes and failures mixed: memory,
// threads, open files and child processes stay flat.
void TestEndToEnd::soak()
{
    const int updates = qEnvironmentVariableIntValue("STROBIX_SOAK_UPDATES") > 0
                            ? qEnvironmentVariableIntValue("STROBIX_SOAK_UPDATES") : 200;
    const int warmUp = qMin(20, updates / 2);
    const QStringList models{"x21-canon", "x58-pentax", "x33-fuji", "x7"};
    UpdateWidget window(nullptr);
    window.show();
    QPushButton *start = startButton(window);
    Footprint before;
    int successes = 0;
    for (int i = 0; i < updates; ++i) {
        if (i == warmUp) {
            QTRY_COMPARE(footprint().children, 0);
            before = footprint();
        }
        QString model = models.at(i % models.size());
        QString fault = QStringLiteral("none");
        QString expected = QString::fromUtf8(okText);
        if (i % 10 == 3) {
            fault = QStringLiteral("absent");
            expected = QString::fromUtf8(noDeviceText);
        } else if (i % 10 == 7) {
            fault = QStringLiteral("program-fail:3");
            expected = QString::fromUtf8(notOkText);
        } else if (i % 10 == 9) {
            model = QStringLiteral("unknown");
            expected = QString::fromUtf8(downloadText);
        }
        qputenv("STROBIX_VU_MODEL", model.toUtf8());
        qputenv("STROBIX_VU_STATE", unitDir->filePath(model + QStringLiteral(".state")).toUtf8());
        qputenv("STROBIX_VU_FAULT", fault.toUtf8());
        const int boxes = watcher->boxes.size();
        QTest::mouseClick(start, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(watcher->boxes.size() == boxes + 1, 60000);
        QTRY_VERIFY(start->isEnabled());
        QVERIFY2(watcher->boxes.last().text == expected,
                 qPrintable(QStringLiteral("update %1 (%2, %3): %4").arg(i).arg(model, fault,
                                                                           watcher->boxes.last().text)));
        successes += expected == QLatin1String(okText);
    }
    // Threads and the tool's processes of the last run wind down on their own.
    QTRY_VERIFY(footprint().threads <= before.threads && footprint().children == 0);
    QTRY_VERIFY(footprint().fds <= before.fds);
    const Footprint after = footprint();
    qInfo("%d updates (%d ok): RSS %lld -> %lld KiB, threads %d -> %d, fds %d -> %d, children %d",
          updates, successes, before.rssKiB, after.rssKiB, before.threads, after.threads, before.fds,
          after.fds, after.children);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory back on purpose; its leak checker stands in for the bound.
#else
    // The bound leaves room for the allocator's own caches, not for a leak per update.
    QVERIFY2(after.rssKiB - before.rssKiB < 8 * 1024, "memory grew");
#endif
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
