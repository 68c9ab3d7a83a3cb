// The real dfu-util against the virtual unit: what the updater will see.

#include "dfuseimage.h"
#include "memorycheck.h"
#include "profiles.h"
#include "statefile.h"

#include <QtTest>

using namespace vu;

namespace {

const QString kDfuUtil = QStringLiteral("/usr/bin/dfu-util");
const QString kLauncher = QStringLiteral(VU_TOOLS_DIR "/dfu-util-launcher.sh");
const QString kMakeImages = QStringLiteral(VU_TOOLS_DIR "/firmware/make-images.sh");
const QString kFullBar = QStringLiteral("[=========================] 100%");
const int kRunLimitMs = 120000; // a bound on hangs, not a speed target

struct Run {
    bool finished = false;
    int exitCode = -1;
    QString output;
};

Run run(const QString &program, const QStringList &args, const QProcessEnvironment &env,
        const QString &workDir = QString())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(program, args);
    Run result;
    if (!process.waitForStarted(kRunLimitMs))
        return result;
    result.finished = process.waitForFinished(kRunLimitMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(kRunLimitMs);
    }
    result.output = QString::fromLocal8Bit(process.readAll());
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

// The environment with none of ours, so that the developer's own settings do not leak in.
QProcessEnvironment cleanEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &key : env.keys()) {
        if (key.startsWith("STROBIX_") || key == "LD_LIBRARY_PATH")
            env.remove(key);
    }
    return env;
}

QProcessEnvironment unitEnvironment(const QString &state, const QString &fault = QString())
{
    QProcessEnvironment env = cleanEnvironment();
    env.insert("LD_LIBRARY_PATH", VU_LIB_DIR);
    env.insert("STROBIX_VU_STATE", state);
    if (!fault.isEmpty())
        env.insert("STROBIX_VU_FAULT", fault);
    return env;
}

// The three identification reads, exactly as the updater asks for them.
QStringList identificationArgs(int area, const QString &dump)
{
    switch (area) {
    case 1: return {"-d", "0483:df11", "-i", "0", "-a", "0", "-s", "0x0800F800:8", "-U", dump};
    case 2: return {"-d", "0483:df11", "-i", "0", "-a", "2", "-s", "0x1FFF7800", "-U", dump};
    default: return {"-d", "0483:df11", "-c", "1", "-i", "0", "-a", "2", "-s", "0x08080080:8", "-U", dump};
    }
}

QStringList installArgs(const QString &image)
{
    return {"-d", "0483:df11", "-c", "1", "-i", "0", "-a", "0", "-D", image};
}

// The updater's rules for naming the image from one area's dump; empty rejects it.
QString imageFromDump(int area, const QByteArray &d)
{
    const auto name = [](char a, char b, char c) {
        return QString::asprintf("SX%02x%02x%02x.dfu", uchar(a), uchar(b), uchar(c));
    };
    if (area == 1 && d.size() >= 3 && uchar(d[0]) == 0x21 && d[2] != 0)
        return name(d[0], d[1], d[2]);
    if (area == 2 && d.size() >= 256) {
        for (int i = 2; i < 256; ++i) {
            if (d[i] != 0)
                return name(d[0], d[1], d[i]);
        }
    }
    if (area == 3 && d.size() >= 3 && (uchar(d[0]) == 0x07 || uchar(d[0]) == 0x33) && d[2] != 0)
        return name(d[0], d[1], d[2]);
    return QString();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the last Download bar drawn ended full.
bool lastDownloadBarFull(const QString &output)
{
    const int at = output.lastIndexOf("Download\t");
    if (at < 0)
        return false;
    QString bar = output.mid(at);
    bar = bar.left(bar.indexOf(QRegularExpression("[\r\n]")));
    return bar.contains(kFullBar);
}

// How many bytes of the image, element after element, the unit holds before the first difference.
qint64 bytesInPlace(const UnitMemory &memory, const DfuseImage &image)
{
    qint64 count = 0;
    for (const DfuseElement &e : image.elements) {
        const uint8_t *cells = memory.raw(e.alt, e.address);
        for (size_t i = 0; i < e.data.size(); ++i, ++count) {
            if (cells[i] != e.data[i])
                return count;
        }
    }
    return count;
}

qint64 imageSize(const DfuseImage &image)
{
    qint64 size = 0;
    for (const DfuseElement &e : image.elements)
        size += qint64(e.data.size());
    return size;
}

QString problems(const ImageCheck &check)
{
    QStringList lines;
    for (const std::string &p : check.problems)
        lines << QString::fromStdString(p);
    return lines.join('\n');
}

struct Row {
    const char *model;
    const char *outcomes; // per area: N names the image, R refused by dfu-util, X dump rejected
    const char *image;
};

const Row kRows[] = {
    {"x21-canon", "NRR", "SX2100b0.dfu"},   {"x21-nikon", "NRR", "SX2100b1.dfu"},
    {"x21-olympus", "NRR", "SX2100b2.dfu"}, {"x21-sony", "NRR", "SX2100b4.dfu"},
    {"x21-fuji", "NRR", "SX2100b6.dfu"},    {"x33-canon", "XRN", "SX330190.dfu"},
    {"x33-nikon", "XRN", "SX330191.dfu"},   {"x33-olympus", "XRN", "SX330192.dfu"},
    {"x33-pentax", "XRN", "SX330193.dfu"},  {"x33-sony", "XRN", "SX330194.dfu"},
    {"x33-fuji", "XRN", "SX330196.dfu"},    {"x58-canon", "XNR", "SX580170.dfu"},
    {"x58-nikon", "XNR", "SX580171.dfu"},   {"x58-olympus", "XNR", "SX580172.dfu"},
    {"x58-pentax", "XNR", "SX580173.dfu"},  {"x58-sony", "XNR", "SX580174.dfu"},
    {"x7", "XRN", "SX0701a0.dfu"},          {"blank", "XRX", ""},
    {"unknown", "XNR", "SX650170.dfu"},
};

bool inCatalogue(const Row &row)
{
    return row.image[0] && QString(row.model) != "unknown";
}

} // namespace

class TestVirtualUnitWithDfuUtil : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void listShowsTheUnit_data();
    void listShowsTheUnit();
    void identification_data();
    void identification();
    void absentUnit_data();
    void absentUnit();
    void installWritesExactlyTheImage_data();
    void installWritesExactlyTheImage();
    void faults_data();
    void faults();
    void nextRunFindsTheUnitIdle();
    void brokenImagesChangeNothing_data();
    void brokenImagesChangeNothing();
    void launcherPassesArguments_data();
    void launcherPassesArguments();
    void launcherReachesTheVirtualUnit();
    void vuToolReportsAnInstallation();

private:
    QString newState(const QString &model);
    QString copyOf(const QString &state);
    QString dumpPath();
    int answeringArea(const QString &outcomes) const { return outcomes.indexOf('N') + 1; }

    QTemporaryDir m_dir;
    QString m_images;
    QString m_broken;
    int m_files = 0;
};

void TestVirtualUnitWithDfuUtil::initTestCase()
{
    QVERIFY2(QFileInfo(kDfuUtil).isExecutable(), "dfu-util is not installed (package dfu-util)");
    QVERIFY(QFileInfo::exists(VU_LIB_DIR "/libusb-1.0.so.0"));
    QVERIFY(m_dir.isValid());
    m_images = m_dir.filePath("images");
    m_broken = m_dir.filePath("broken");
    const Run images = run("bash", {kMakeImages, m_images}, cleanEnvironment());
    QVERIFY2(images.exitCode == 0, qPrintable(images.output));
    const Run broken = run("bash", {kMakeImages, "--broken", m_broken}, cleanEnvironment());
    QVERIFY2(broken.exitCode == 0, qPrintable(broken.output));
    QCOMPARE(QDir(m_images).entryList({"SX*.dfu"}).size(), 17);
}

QString TestVirtualUnitWithDfuUtil::newState(const QString &model)
{
    const QString path = m_dir.filePath(QString("state-%1").arg(++m_files));
    StateFile::create(path.toStdString(), model.toStdString());
    return path;
}

QString TestVirtualUnitWithDfuUtil::copyOf(const QString &state)
{
    const QString path = m_dir.filePath(QString("state-%1").arg(++m_files));
    QFile::copy(state, path);
    return path;
}

QString TestVirtualUnitWithDfuUtil::dumpPath()
{
    // dfu-util refuses to overwrite a dump, so each read gets a new name.
    return m_dir.filePath(QString("dump-%1.bin").arg(++m_files));
}

void TestVirtualUnitWithDfuUtil::listShowsTheUnit_data()
{
    QTest::addColumn<QString>("model");
    QTest::newRow("x21") << "x21-canon";
    QTest::newRow("x33") << "x33-canon";
    QTest::newRow("x58") << "x58-canon";
    QTest::newRow("x7") << "x7";
}

void TestVirtualUnitWithDfuUtil::listShowsTheUnit()
{
    QFETCH(QString, model);
    const Run r = run(kDfuUtil, {"-l"}, unitEnvironment(newState(model)));
    QCOMPARE(r.exitCode, 0);
    const auto alts = findProfile(model.toStdString())->altSettings();
    QCOMPARE(r.output.count("Found DFU: [0483:df11]"), int(alts.size()));
    for (size_t i = 0; i < alts.size(); ++i) {
        const QString line = QString("alt=%1, name=\"%2\"").arg(i).arg(QString::fromStdString(alts[i].name));
        QVERIFY2(r.output.contains(line), qPrintable(line));
    }
}

void TestVirtualUnitWithDfuUtil::identification_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("outcomes");
    QTest::addColumn<QString>("image");
    for (const Row &row : kRows)
        QTest::newRow(row.model) << row.model << row.outcomes << row.image;
}

void TestVirtualUnitWithDfuUtil::identification()
{
    QFETCH(QString, model);
    QFETCH(QString, outcomes);
    QFETCH(QString, image);
    const QProcessEnvironment env = unitEnvironment(newState(model));
    for (int area = 1; area <= 3; ++area) {
        const QString dump = dumpPath();
        const Run r = run(kDfuUtil, identificationArgs(area, dump), env);
        const QString named = imageFromDump(area, readFile(dump));
        const QString where = QString("area %1: %2").arg(area).arg(r.output);
        switch (outcomes[area - 1].toLatin1()) {
        case 'N':
            QVERIFY2(r.exitCode == 0, qPrintable(where));
            QCOMPARE(named, image);
            break;
        case 'R':
            QVERIFY2(r.exitCode == 64 && r.output.contains("is not readable"), qPrintable(where));
            QCOMPARE(QFileInfo(dump).size(), 0);
            break;
        default:
            QVERIFY2(r.exitCode == 0, qPrintable(where));
            QVERIFY2(named.isEmpty(), qPrintable(named));
        }
    }
}

void TestVirtualUnitWithDfuUtil::absentUnit_data()
{
    QTest::addColumn<bool>("install");
    QTest::newRow("identification") << false;
    QTest::newRow("installation") << true;
}

void TestVirtualUnitWithDfuUtil::absentUnit()
{
    QFETCH(bool, install);
    const QString state = newState("x21-canon");
    const QStringList args = install ? installArgs(m_images + "/SX2100b0.dfu")
                                                   : identificationArgs(1, dumpPath());
    const Run r = run(kDfuUtil, args, unitEnvironment(state, "absent"));
    QCOMPARE(r.exitCode, 74);
    QVERIFY2(r.output.contains("No DFU capable USB device available"), qPrintable(r.output));
}

void TestVirtualUnitWithDfuUtil::installWritesExactlyTheImage_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("outcomes");
    QTest::addColumn<QString>("image");
    for (const Row &row : kRows) {
        if (inCatalogue(row))
            QTest::newRow(row.model) << row.model << row.outcomes << row.image;
    }
}

void TestVirtualUnitWithDfuUtil::installWritesExactlyTheImage()
{
    QFETCH(QString, model);
    QFETCH(QString, outcomes);
    QFETCH(QString, image);
    const QString pristine = newState(model);
    const QString state = copyOf(pristine);
    const Run r = run(kDfuUtil, installArgs(m_images + "/" + image), unitEnvironment(state));
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));

    const DfuseImage dfu = DfuseImage::load((m_images + "/" + image).toStdString());
    QCOMPARE(r.output.count("Download\t" + kFullBar), int(dfu.elements.size()));
    const auto unit = StateFile::openExisting(state.toStdString());
    const auto before = StateFile::openExisting(pristine.toStdString());
    const ImageCheck check = checkImage(unit->memory(), dfu, &before->memory());
    QVERIFY2(check.ok(), qPrintable(problems(check)));

    // The image left the identity alone: the unit still asks for the same image.
    const int area = answeringArea(outcomes);
    const QString dump = dumpPath();
    QCOMPARE(run(kDfuUtil, identificationArgs(area, dump), unitEnvironment(state)).exitCode, 0);
    QCOMPARE(imageFromDump(area, readFile(dump)), image);
}

void TestVirtualUnitWithDfuUtil::faults_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("barFull");
    QTest::addColumn<qint64>("inPlace"); // -1: the whole image

    QTest::newRow("first block fails") << "x21-canon" << "SX2100b0.dfu" << "program-fail:1" << false << qint64(1024);
    QTest::newRow("third block fails") << "x21-canon" << "SX2100b0.dfu" << "program-fail:3" << false << qint64(2 * 2048 + 1024);
    QTest::newRow("block of the second element fails") << "x58-canon" << "SX580170.dfu" << "program-fail:11"
                                                        << false << qint64(20480 + 1024);
    QTest::newRow("status fails after the last block") << "x33-fuji" << "SX330196.dfu" << "status-fail-after-last"
                                                       << true << qint64(-1);
    QTest::newRow("silent from the first erase") << "x21-nikon" << "SX2100b1.dfu" << "stop-answering" << false << qint64(0);
    QTest::newRow("silent after two blocks") << "x7" << "SX0701a0.dfu" << "stop-answering:2" << false << qint64(4096);
    QTest::newRow("unplugged after three blocks") << "x58-sony" << "SX580174.dfu" << "unplug:3" << false << qint64(6144);
}

void TestVirtualUnitWithDfuUtil::faults()
{
    QFETCH(QString, model);
    QFETCH(QString, image);
    QFETCH(QString, fault);
    QFETCH(bool, barFull);
    QFETCH(qint64, inPlace);
    const QString state = newState(model);
    const Run r = run(kDfuUtil, installArgs(m_images + "/" + image), unitEnvironment(state, fault));
    QVERIFY2(r.finished, "dfu-util hangs");
    QVERIFY2(r.exitCode == 74, qPrintable(r.output));
    QCOMPARE(lastDownloadBarFull(r.output), barFull);

    const DfuseImage dfu = DfuseImage::load((m_images + "/" + image).toStdString());
    const auto unit = StateFile::openExisting(state.toStdString());
    QCOMPARE(bytesInPlace(unit->memory(), dfu), inPlace < 0 ? imageSize(dfu) : inPlace);
}

void TestVirtualUnitWithDfuUtil::nextRunFindsTheUnitIdle()
{
    const QString image = m_images + "/SX330190.dfu";
    const QString state = newState("x33-canon");
    QCOMPARE(run(kDfuUtil, installArgs(image), unitEnvironment(state, "program-fail:2")).exitCode, 74);

    const Run again = run(kDfuUtil, installArgs(image), unitEnvironment(state));
    QVERIFY2(again.exitCode == 0, qPrintable(again.output));
    QVERIFY(again.output.contains("DFU state(2) = dfuIDLE"));
    const auto unit = StateFile::openExisting(state.toStdString());
    QVERIFY(checkImage(unit->memory(), DfuseImage::load(image.toStdString()), nullptr).ok());
}

void TestVirtualUnitWithDfuUtil::brokenImagesChangeNothing_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("suffix CRC wrong") << "badcrc/SX2100b0.dfu" << 64 << "Only DfuSe file version 1.1a is supported";
    QTest::newRow("built for another device") << "badvid/SX2100b0.dfu" << 64 << "does not match device";
}

void TestVirtualUnitWithDfuUtil::brokenImagesChangeNothing()
{
    QFETCH(QString, image);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString pristine = newState("x21-canon");
    const QString state = copyOf(pristine);
    const Run r = run(kDfuUtil, installArgs(m_broken + "/" + image), unitEnvironment(state));
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.output.contains(message), qPrintable(r.output));
    QCOMPARE(readFile(state), readFile(pristine));
}

void TestVirtualUnitWithDfuUtil::launcherPassesArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("vuLib");
    QTest::newRow("blanks and wildcards") << QStringList{"-U", "my dump.bin", "*", "", "$HOME", "a\"b"} << QString();
    QTest::newRow("with the virtual unit") << QStringList{"-D", "/tmp/some dir/SX2100b0.dfu"} << QString(VU_LIB_DIR);
}

void TestVirtualUnitWithDfuUtil::launcherPassesArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, vuLib);
    // A stand-in for dfu-util that shows what it was given.
    const QString echo = m_dir.filePath("echo-args.sh");
    QFile script(echo);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\nprintf 'LD=%s\\n' \"$LD_LIBRARY_PATH\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);

    QProcessEnvironment env = cleanEnvironment();
    env.insert("STROBIX_DFU_UTIL", echo);
    if (!vuLib.isEmpty())
        env.insert("STROBIX_VU_LIB", vuLib);
    const Run r = run(kLauncher, args, env);
    QCOMPARE(r.exitCode, 0);
    QString expected;
    for (const QString &a : args)
        expected += "[" + a + "]\n";
    expected += "LD=" + vuLib + "\n";
    QCOMPARE(r.output, expected);
}

void TestVirtualUnitWithDfuUtil::launcherReachesTheVirtualUnit()
{
    // Laid out as beside the updater, in a folder with blanks in its name.
    const QString work = m_dir.filePath("updater work dir");
    QVERIFY(QDir().mkpath(work + "/dfu-util"));
    QVERIFY(QFile::link(kLauncher, work + "/dfu-util/dfu-util.exe"));
    QProcessEnvironment env = cleanEnvironment();
    env.insert("STROBIX_VU_LIB", VU_LIB_DIR);
    env.insert("STROBIX_VU_STATE", newState("x7"));
    const Run r = run(work + "/dfu-util/dfu-util.exe", identificationArgs(3, "dump file.bin"), env, work);
    QVERIFY2(r.exitCode == 0, qPrintable(r.output));
    QCOMPARE(imageFromDump(3, readFile(work + "/dump file.bin")), QString("SX0701a0.dfu"));
}

void TestVirtualUnitWithDfuUtil::vuToolReportsAnInstallation()
{
    const QString image = m_images + "/SX580172.dfu";
    const QString pristine = newState("x58-olympus");
    const QString state = copyOf(pristine);
    QCOMPARE(run(kDfuUtil, installArgs(image), unitEnvironment(state)).exitCode, 0);

    const Run compare = run(VU_TOOL, {"compare", state, image, pristine}, cleanEnvironment());
    QVERIFY2(compare.exitCode == 0, qPrintable(compare.output));
    const Run wrongImage = run(VU_TOOL, {"compare", state, m_images + "/SX580171.dfu", pristine}, cleanEnvironment());
    QCOMPARE(wrongImage.exitCode, 1);
    const Run diff = run(VU_TOOL, {"diff", pristine, state}, cleanEnvironment());
    QCOMPARE(diff.exitCode, 1);
    QCOMPARE(diff.output, QString("alt 0 0x08004000..0x080095ef (22000 bytes)\n"
                                  "alt 0 0x08020000..0x0802464f (18000 bytes)\n"));
}

QTEST_GUILESS_MAIN(TestVirtualUnitWithDfuUtil)
#include "tst_vu_dfuutil.moc"
