// The real dfu-util against the virtual unit: what the updater will see, and what
// a real bootloader would answer.

#include "fakedfucontrol.h"
#include "profiles.h"
#include "tools.h"

#include <QtTest>

using namespace vu;

namespace {

const QString dfuUtil = QStringLiteral("/usr/bin/dfu-util");

// The environment with none of ours, so that the developer's own settings do not leak in.
QProcessEnvironment unitEnvironment(const QString &state = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &key : env.keys()) {
        if (key.startsWith("STROBIX_") || key == "LD_LIBRARY_PATH")
            env.remove(key);
    }
    if (!state.isEmpty()) {
        env.insert("LD_LIBRARY_PATH", VU_LIB_DIR);
        env.insert("STROBIX_VU_STATE", state);
    }
    return env;
}

} // namespace

class TestVirtualUnitWithDfuUtil : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void unitOnTheBus_data();
    void unitOnTheBus();
    void requests_data();
    void requests();

private:
    QString newState(const QString &model);
    QString newPath();
    ToolRun vuTool(const QStringList &args) { return runTool(VU_TOOL, args, unitEnvironment()); }

    QTemporaryDir dir;
    QString images;
    int files = 0;
};

void TestVirtualUnitWithDfuUtil::initTestCase()
{
    QVERIFY2(QFileInfo(dfuUtil).isExecutable(), "dfu-util is not installed (package dfu-util)");
    QVERIFY(QFileInfo::exists(VU_LIB_DIR "/libusb-1.0.so.0"));
    QVERIFY(QFileInfo(VU_TOOL).isExecutable());
    QVERIFY(dir.isValid());
    images = dir.filePath("images");
    const ToolRun made = runTool("bash", {VU_TOOLS_DIR "/firmware/make-images.sh", images}, unitEnvironment());
    QVERIFY2(made.exitCode == 0, qPrintable(made.output));
}

QString TestVirtualUnitWithDfuUtil::newState(const QString &model)
{
    const QString path = newPath();
    return vuTool({"init", path, model}).exitCode == 0 ? path : QString();
}

QString TestVirtualUnitWithDfuUtil::newPath()
{
    // dfu-util refuses to overwrite a dump, so each file gets a new name.
    return dir.filePath(QString("file-%1").arg(++files));
}

void TestVirtualUnitWithDfuUtil::unitOnTheBus_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("dumps"); // per area: the dump's first bytes in hex, or "refused"

    // X21 has blank OTP at alt 2, as every F4 part; L0/L1 flash erases to 00.
    QTest::newRow("x21") << "x21-canon" << "2100b001 ffffffffffff refused";
    QTest::newRow("x21 with its record wiped") << "x21-wiped" << "ffffffff ffffffffffff refused";
    QTest::newRow("x33") << "x33-fuji" << "00000000 refused 33019601";
    QTest::newRow("x58") << "x58-pentax" << "ffffffff 5801000000007300 refused";
    QTest::newRow("x7") << "x7" << "00000000 refused 0701a001";
    QTest::newRow("blank") << "blank" << "00000000 refused 00000000";
    QTest::newRow("unknown model") << "unknown" << "ffffffff 6501000000007000 refused";
}

void TestVirtualUnitWithDfuUtil::unitOnTheBus()
{
    QFETCH(QString, model);
    QFETCH(QString, dumps);
    const QProcessEnvironment env = unitEnvironment(newState(model));
    const ToolRun list = runTool(dfuUtil, {"-l"}, env);
    QCOMPARE(list.exitCode, 0);
    const auto alts = findProfile(model.toStdString())->altSettings();
    QCOMPARE(list.output.count("Found DFU: [0483:df11]"), int(alts.size()));
    for (size_t i = 0; i < alts.size(); ++i) {
        const QString line = QString("alt=%1, name=\"%2\"").arg(i).arg(QString::fromStdString(alts[i].name));
        QVERIFY2(list.output.contains(line), qPrintable(line));
    }
    const QStringList expected = dumps.split(' ');
    for (int area = 1; area <= 3; ++area) {
        const QString dump = newPath();
        const ToolRun r = runTool(dfuUtil, FakeDfuControl::identificationCall(area, dump), env);
        const QString where = QString("area %1: %2").arg(area).arg(r.output);
        if (expected[area - 1] == "refused") {
            QVERIFY2(r.exitCode == 64 && r.output.contains("is not readable"), qPrintable(where));
            continue;
        }
        QVERIFY2(r.exitCode == 0, qPrintable(where));
        const QByteArray bytes = QByteArray::fromHex(expected[area - 1].toLatin1());
        QCOMPARE(readFile(dump).left(bytes.size()).toHex(), bytes.toHex());
    }
}

void TestVirtualUnitWithDfuUtil::requests_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("env");
    QTest::addColumn<QStringList>("args"); // @dump: a new file; @image:NAME; @bytes:HEX, a file of them
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    // unchanged; image:NAME (in place, nothing else changed); spoilt:NAME[@ADDR] (not in place,
    // first wrong at ADDR); ADDR:HEX (memory); dump:ADDR:LEN (the memory); dump:HEX
    QTest::addColumn<QString>("memory");

    const QStringList install{"-d", "0483:df11", "-c", "1", "-i", "0", "-a", "0", "-D"};
    const QStringList flash{"-d", "0483:df11", "-a", "0"};
    const QString fault = QStringLiteral("STROBIX_VU_FAULT=");
    QTest::newRow("upload longer than the transfer size")
        << "x21-canon" << "" << flash + QStringList{"-t", "4096", "-s", "0x08000000:4096", "-U", "@dump"} << 74
        << "LIBUSB_ERROR_PIPE" << "unchanged";
    QTest::newRow("download longer than the transfer size")
        << "x21-canon" << "" << flash + QStringList{"-t", "4096", "-D", "@image:SX2100b0.dfu"} << 74
        << "Error during download" << "";
    QTest::newRow("upload addressed by its own length")
        << "x21-canon" << "" << flash + QStringList{"-t", "1024", "-s", "0x08000000:8192", "-U", "@dump"} << 0
        << "Upload done." << "dump:0x08000000:8192";
    QTest::newRow("leave after a download") << "x21-canon" << "" << flash + QStringList{"-s", ":leave", "-D", "@image:SX2100b0.dfu"}
                                            << 0 << "Submitting leave request" << "image:SX2100b0.dfu";
    QTest::newRow("read-protected: no erase") << "x33-canon" << fault + "read-protected"
                                              << install + QStringList{"@image:SX330190.dfu"} << 74
                                              << "ERASE_PAGE not correctly executed" << "unchanged";
    QTest::newRow("factory option bytes, F4 class")
        << "x58-canon" << "" << QStringList{"-a", "1", "-s", "0x1FFFC000:16", "-U", "@dump"} << 0 << "Upload done."
        << "dump:ecaa1355ffffffffff0f00f0ffffffff";
    QTest::newRow("factory option bytes, L0/L1 class")
        << "x7" << "" << QStringList{"-a", "1", "-s", "0x1FF80000:12", "-U", "@dump"} << 0 << "Upload done."
        << "dump:aa0055ff780087ff0000ffff";
    QTest::newRow("option bytes written: the unit resets")
        << "x21-canon" << "" << QStringList{"-a", "1", "-s", "0x1FFFC000", "-D", "@bytes:ecaa1355ffffffffff0e01f1"} << 74
        << "Error during download get_status" << "0x1FFFC000:ecaa1355ffffffffff0e01f1";
    // OTP is not erasable: dfu-util only programs, and a cell can only lose bits.
    QTest::newRow("download into programmed OTP")
        << "x58-canon" << "" << QStringList{"-a", "2", "-s", "0x1FFF7800", "-D", "@bytes:5a5a5a5a5a5a5a5a"} << 0
        << "Download done." << "0x1FFF7800:5800000000005000";
    QTest::newRow("datasheet poll times, F4 class")
        << "x21-canon" << "STROBIX_VU_TIMING=datasheet" << QStringList{"-v", "-v", "-a", "0", "-D", "@image:SX2100b0.dfu"}
        << 0 << "Poll timeout 250 ms" << "image:SX2100b0.dfu";
    QTest::newRow("datasheet poll times, L0/L1 class")
        << "x7" << "STROBIX_VU_TIMING=datasheet" << QStringList{"-v", "-v", "-a", "0", "-D", "@image:SX0701a0.dfu"}
        << 0 << "Poll timeout 4 ms" << "image:SX0701a0.dfu";
}

void TestVirtualUnitWithDfuUtil::requests()
{
    QFETCH(QString, model);
    QFETCH(QString, env);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QString, memory);
    const QString pristine = newState(model);
    const QString state = newPath();
    QVERIFY(QFile::copy(pristine, state));
    QProcessEnvironment environment = unitEnvironment(state);
    environment.insert("STROBIX_VU_TIMEOUT_MS", "1000"); // a silent unit otherwise keeps each request 5 s
    if (!env.isEmpty())
        environment.insert(env.section('=', 0, 0), env.section('=', 1));
    const QString dump = newPath();
    for (QString &arg : args) {
        if (arg == "@dump")
            arg = dump;
        else if (arg.startsWith("@image:"))
            arg = images + "/" + arg.mid(7);
        else if (arg.startsWith("@bytes:")) {
            const QByteArray bytes = QByteArray::fromHex(arg.mid(7).toLatin1());
            arg = newPath();
            QFile file(arg);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
    }
    const ToolRun r = runTool(dfuUtil, args, environment);
    QVERIFY2(r.exitCode == exitCode && r.output.contains(says), qPrintable(r.output));

    const QString what = memory.section(':', 0, 0);
    const QString value = memory.section(':', 1);
    const QString held = newPath();
    if (what == "unchanged") {
        QVERIFY(readFile(state) == readFile(pristine));
    } else if (what == "image" || what == "spoilt") {
        const ToolRun compare = vuTool({"compare", state, images + "/" + value.section('@', 0, 0), pristine});
        QVERIFY2(compare.exitCode == (what == "image" ? 0 : 1), qPrintable(compare.output));
        const QString at = value.section('@', 1).toLower();
        QVERIFY2(at.isEmpty() || compare.output.contains("differs first at " + at), qPrintable(compare.output));
    } else if (what == "dump" && value.startsWith("0x")) {
        QCOMPARE(vuTool({"read", state, value.section(':', 0, 0), value.section(':', 1), held}).exitCode, 0);
        QVERIFY(readFile(dump) == readFile(held));
    } else if (what == "dump") {
        QCOMPARE(readFile(dump).toHex(), value.toLatin1());
    } else if (!memory.isEmpty()) {
        QCOMPARE(vuTool({"read", state, what, QString::number(value.size() / 2), held}).exitCode, 0);
        QCOMPARE(readFile(held).toHex(), value.toLatin1());
    }
}

QTEST_GUILESS_MAIN(TestVirtualUnitWithDfuUtil)
#include "tst_vu_dfuutil.moc"
