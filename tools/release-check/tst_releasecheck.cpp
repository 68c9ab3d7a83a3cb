// strobix-release-check against an in-process firmware server that serves the
// make-images.sh images, some of them spoiled; and its DfuSe file check on
// images spoiled one field at a time.

#include "dfusecheck.h"
#include "firmwareimages.h"
#include "testhttpserver.h"

#include "update/firmwarecatalogue.h"

#include <QtEndian>
#include <QtTest>

using namespace ReleaseCheck;

namespace {

const QString sourceDir = QStringLiteral(STROBIX_SOURCE_DIR);
const int toolLimitMs = 300000; // a bound on hangs, not a speed target

// The X58 Canon image: two elements, 20480 bytes at 0x08004000 and 16384 at 0x08020000.
const char x58Image[] = "SX580170.dfu";
const int x58Size = 11 + 274 + 8 + 20480 + 8 + 16384 + 16;
const int imageSizeAt = 6;
const int targetAt = 11;
const int targetSizeAt = targetAt + 266;
const int elementCountAt = targetAt + 270;
const int element2SizeAt = targetAt + 274 + 8 + 20480 + 4;

struct Patch
{
    int at; // negative: from the end
    QByteArray bytes;
};
using Patches = QVector<Patch>;

QByteArray le16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

void setCrc(QByteArray &file)
{
    qToLittleEndian(dfuCrc(file.constData(), file.size() - 4), file.data() + file.size() - 4);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

struct ToolRun
{
    int exitCode = -1;
    QByteArray output;
};

ToolRun runTool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ToolRun run;
    if (process.waitForStarted(toolLimitMs) && process.waitForFinished(toolLimitMs)
        && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.output = process.readAll();
    return run;
}

// How the server offers one catalogue image.
enum class Served {
    BadCrc,    // from make-images.sh --broken: suffix CRC spoiled
    BadVid,    // from make-images.sh --broken: built for 0483:df12
    Missing,   // 404
    Truncated, // a file of the first half of the image, served whole
    CutShort,  // the whole Content-Length announced, the connection closed halfway
    Redirect,  // 302 to the image at another path
    Overlap,   // a well-formed image whose second element overwrites part of the first
};

using Changes = QMap<QString, Served>;
using Failures = QMap<QString, QString>; // image name: a piece of its FAIL text

QStringList catalogueNames()
{
    QStringList names;
    for (const Strobix::CatalogueEntry &entry : Strobix::firmwareCatalogue)
        names << QString::fromLatin1(entry.imageName);
    return names;
}

} // namespace

Q_DECLARE_METATYPE(Patches)
Q_DECLARE_METATYPE(Changes)
Q_DECLARE_METATYPE(Failures)

class TestReleaseCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void imageCheck_data();
    void imageCheck();
    void command_data();
    void command();
    void refusesToRun_data();
    void refusesToRun();

private:
    void serve(TestHttpServer &server, const Changes &changes);

    QTemporaryDir work;
    QString images;
    QString broken;
    QByteArray overlap;
};

void TestReleaseCheck::initTestCase()
{
    QVERIFY2(QFileInfo(QStringLiteral("/usr/bin/dfu-util")).isExecutable(), "dfu-util is not installed");
    QVERIFY(work.isValid());
    qRegisterMetaType<QProcess::ExitStatus>();
    images = work.filePath(QStringLiteral("images"));
    broken = work.filePath(QStringLiteral("broken"));
    const QString failure = buildFirmwareImages(sourceDir + QStringLiteral("/tools/firmware/make-images.sh"),
                                                images, broken);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    for (const QString &name : catalogueNames())
        QVERIFY2(QFileInfo::exists(images + QLatin1Char('/') + name), qPrintable(name));

    // The second element lies on the first one's second half. Whether the sector is
    // erased again (ff) or programmed over (5a & a5 = 00), 0x08005000 no longer holds 5a.
    const QByteArray first(8192, '\x5a');
    const QByteArray second(4096, '\xa5');
    QVERIFY(writeFile(work.filePath(QStringLiteral("first.bin")), first));
    QVERIFY(writeFile(work.filePath(QStringLiteral("second.bin")), second));
    const QString overlapPath = work.filePath(QStringLiteral("overlap.dfu"));
    const ToolRun packed = runTool(QStringLiteral("dfuse-pack"),
                                   {QStringLiteral("-b"), QStringLiteral("0x08004000:") + work.filePath(QStringLiteral("first.bin")),
                                    QStringLiteral("-b"), QStringLiteral("0x08005000:") + work.filePath(QStringLiteral("second.bin")),
                                    QStringLiteral("-D"), QStringLiteral("0x0483:0xdf11"), overlapPath});
    QVERIFY2(packed.exitCode == 0, packed.output.constData());
    overlap = readFile(overlapPath);
    QVERIFY2(checkDfuseImage(overlap, 0x0483, 0xdf11, nullptr).isEmpty(), "the overlapping image is not well-formed");
}

void TestReleaseCheck::imageCheck_data()
{
    QTest::addColumn<Patches>("patches");
    QTest::addColumn<int>("truncateTo");   // -1: whole file
    QTest::addColumn<int>("strayBytes");   // zeros put before the suffix, image size adjusted
    QTest::addColumn<bool>("fixCrc");      // recompute the CRC after patching
    QTest::addColumn<QString>("problem");  // a piece of the answer; empty: the image is good

    const auto row = [](const char *name, const Patches &patches, const QString &problem, bool fixCrc = true,
                        int truncateTo = -1, int strayBytes = 0) {
        QTest::newRow(name) << patches << truncateTo << strayBytes << fixCrc << problem;
    };
    row("good image", {}, QString());
    row("too short for prefix and suffix", {}, "26 bytes, too short", false, 26);
    row("no DfuSe signature", {{0, "DfuSx"}}, "no DfuSe prefix");
    row("DfuSe version 2", {{5, "\x02"}}, "DfuSe version 2, not 1");
    row("truncated file", {}, QStringLiteral("prefix image size %1, but the file has 20000 bytes").arg(x58Size),
        false, 20000);
    row("image size one too large", {{imageSizeAt, le32(x58Size + 1)}}, "prefix image size 37182, but the file has 37181");
    row("image size without the suffix", {{imageSizeAt, le32(x58Size - 16)}}, "prefix image size 37165");
    row("suffix signature spoiled", {{-8, "UFX"}}, "no DFU suffix");
    row("suffix length 15", {{-5, "\x0f"}}, "suffix length 15, not 16");
    row("bcdDFU 0x0100", {{-10, le16(0x0100)}}, "suffix bcdDFU 0x0100, not 0x011a");
    row("another vendor", {{-12, le16(0x0484)}}, "suffix is for 0484:df11, not 0483:df11");
    row("another product", {{-14, le16(0xdf12)}}, "suffix is for 0483:df12, not 0483:df11");
    row("CRC with one bit flipped", {{-1, QByteArray(1, char(0x3c ^ 0x01))}}, "suffix CRC mismatch", false);
    row("element byte changed, CRC kept", {{1000, "\x5a\xa5"}}, "suffix CRC mismatch", false);
    row("target name changed, CRC kept", {{targetAt + 11, "x"}}, "suffix CRC mismatch", false);
    row("suffix bcdDevice changed, CRC kept", {{-16, le16(0x0200)}}, "suffix CRC mismatch", false);
    row("no targets", {{10, QByteArray(1, '\0')}}, "no targets");
    row("two targets announced, one present", {{10, "\x02"}}, "target 2 of 2 runs into the suffix");
    row("target signature spoiled", {{targetAt, "Tarxet"}}, "target 1 has no \"Target\" signature");
    row("target for alternate setting 1", {{targetAt + 6, "\x01"}}, "target 1 is for alternate setting 1");
    row("target without elements", {{elementCountAt, le32(0)}}, "target 1 has no elements");
    row("target size past the suffix", {{targetSizeAt, le32(36881)}}, "target 1 size 36881 runs into the suffix");
    row("target size 8 bytes short", {{targetSizeAt, le32(36872)}},
        "target 1: element 2 (16384 bytes) runs past the target size 36872");
    row("element count one too high", {{elementCountAt, le32(3)}}, "element 3 of 3 lies beyond the target size");
    row("element count one too low", {{elementCountAt, le32(1)}},
        "target 1: its 1 elements take 20488 bytes, its size says 36880");
    row("element size one too large", {{element2SizeAt, le32(16385)}},
        "target 1: element 2 (16385 bytes) runs past the target size 36880");
    row("element size one too small", {{element2SizeAt, le32(16383)}},
        "target 1: its 2 elements take 36879 bytes, its size says 36880");
    row("stray bytes before the suffix", {}, "4 stray bytes between the last target and the suffix", true, -1, 4);
}

void TestReleaseCheck::imageCheck()
{
    QFETCH(Patches, patches);
    QFETCH(int, truncateTo);
    QFETCH(int, strayBytes);
    QFETCH(bool, fixCrc);
    QFETCH(QString, problem);

    const QByteArray original = readFile(images + QLatin1Char('/') + QLatin1String(x58Image));
    QCOMPARE(original.size(), x58Size);
    QByteArray file = original;
    if (truncateTo >= 0)
        file.truncate(truncateTo);
    if (strayBytes) {
        file.insert(file.size() - 16, QByteArray(strayBytes, '\0'));
        qToLittleEndian(quint32(file.size()), file.data() + imageSizeAt);
    }
    for (const Patch &p : patches)
        file.replace(p.at < 0 ? file.size() + p.at : p.at, p.bytes.size(), p.bytes);
    if (fixCrc)
        setCrc(file);
    QCOMPARE(file.size(), truncateTo >= 0 ? truncateTo : x58Size + strayBytes);

    QVector<Element> elements;
    const QString answer = checkDfuseImage(file, 0x0483, 0xdf11, &elements);
    if (problem.isEmpty()) {
        QCOMPARE(answer, QString());
        QCOMPARE(elements.size(), 2);
        QCOMPARE(elements[0].address, 0x08004000u);
        QVERIFY(elements[0].data == original.mid(11 + 274 + 8, 20480));
        QCOMPARE(elements[1].address, 0x08020000u);
        QVERIFY(elements[1].data == original.mid(11 + 274 + 8 + 20480 + 8, 16384));
    } else {
        QVERIFY2(answer.contains(problem), qPrintable(answer));
    }
}

void TestReleaseCheck::serve(TestHttpServer &server, const Changes &changes)
{
    for (const QString &name : catalogueNames()) {
        const QString path = QStringLiteral("/firmware/") + name;
        TestHttpServer::Reply reply;
        reply.body = readFile(images + QLatin1Char('/') + name);
        switch (changes.value(name, Served(-1))) {
        case Served::BadCrc:
            reply.body = readFile(broken + QStringLiteral("/badcrc/") + name);
            break;
        case Served::BadVid:
            reply.body = readFile(broken + QStringLiteral("/badvid/") + name);
            break;
        case Served::Missing:
            continue;
        case Served::Truncated:
            reply.body.truncate(reply.body.size() / 2);
            break;
        case Served::CutShort:
            reply.mode = TestHttpServer::Reply::CutShort;
            reply.cutAfter = reply.body.size() / 2;
            break;
        case Served::Redirect:
            server.setReply(QStringLiteral("/elsewhere/") + name, reply);
            reply.status = 302;
            reply.location = server.url(QStringLiteral("/elsewhere/") + name).toEncoded();
            reply.body = "moved\n";
            break;
        case Served::Overlap:
            reply.body = overlap;
            break;
        }
        QVERIFY(!reply.body.isEmpty());
        server.setReply(path, reply);
    }
}

void TestReleaseCheck::command_data()
{
    QTest::addColumn<Changes>("changes");
    QTest::addColumn<QByteArray>("fault"); // STROBIX_VU_FAULT for the command's dfu-util runs
    QTest::addColumn<bool>("keep");
    QTest::addColumn<Failures>("failures");

    QTest::newRow("all images good") << Changes{} << QByteArray() << true << Failures{};
    QTest::newRow("all images good, nothing kept") << Changes{} << QByteArray() << false << Failures{};
    QTest::newRow("bad CRC, missing and truncated images among good ones")
        << Changes{{"SX2100b2.dfu", Served::BadCrc}, {"SX330193.dfu", Served::Missing},
                   {"SX580174.dfu", Served::Truncated}}
        << QByteArray() << true
        << Failures{{"SX2100b2.dfu", "suffix CRC mismatch"}, {"SX330193.dfu", "download: HTTP 404 Not Found"},
                    {"SX580174.dfu", "prefix image size 44317, but the file has 22158 bytes"}};
    QTest::newRow("image for 0483:df12")
        << Changes{{"SX330196.dfu", Served::BadVid}} << QByteArray() << true
        << Failures{{"SX330196.dfu", "suffix is for 0483:df12, not 0483:df11"}};
    QTest::newRow("connection closed halfway")
        << Changes{{"SX0701a0.dfu", Served::CutShort}} << QByteArray() << true
        << Failures{{"SX0701a0.dfu", "download: 9154 of 18309 bytes arrived"}};
    QTest::newRow("redirect to the image elsewhere")
        << Changes{{"SX2100b0.dfu", Served::Redirect}} << QByteArray() << true
        << Failures{{"SX2100b0.dfu", "download: HTTP 302 Found to http://127.0.0.1:"}};
    QTest::newRow("well-formed image whose second element overwrites the first")
        << Changes{{"SX2100b1.dfu", Served::Overlap}} << QByteArray() << true
        << Failures{{"SX2100b1.dfu", "element 1 at 0x08004000 (8192 bytes) reads back different from 0x08005000"}};
    Failures all;
    for (const QString &name : catalogueNames())
        all.insert(name, QStringLiteral("dfu-util -D exit 74: "));
    QTest::newRow("unit fails while being written") << Changes{} << QByteArray("program-fail:3") << true << all;
}

void TestReleaseCheck::command()
{
    QFETCH(Changes, changes);
    QFETCH(QByteArray, fault);
    QFETCH(bool, keep);
    QFETCH(Failures, failures);

    TestHttpServer server;
    QVERIFY(server.listen(quint16(0))); // a free port: no other test's server is disturbed
    serve(server, changes);
    const QString base = server.url(QStringLiteral("/firmware/")).toString();
    QTemporaryDir kept;
    QVERIFY(kept.isValid());

    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY", "STROBIX_DFU_UTIL",
                             "STROBIX_VU_LIB", "STROBIX_VU_FAULT", "STROBIX_VU_STATE", "STROBIX_VU_MODEL"})
        env.remove(QString::fromLatin1(name));
    if (!fault.isEmpty())
        env.insert(QStringLiteral("STROBIX_VU_FAULT"), QString::fromLatin1(fault));
    command.setProcessEnvironment(env);
    QStringList arguments{QStringLiteral("--server"), base};
    if (keep)
        arguments << QStringLiteral("--keep") << kept.path();
    QSignalSpy finished(&command, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    command.start(QStringLiteral(RELEASE_CHECK), arguments);
    QVERIFY(command.waitForStarted(toolLimitMs));
    // The server answers from this event loop while the command runs.
    QVERIFY(finished.wait(toolLimitMs));
    const QByteArray output = command.readAllStandardOutput();
    const QByteArray errors = command.readAllStandardError();
    QCOMPARE(command.exitStatus(), QProcess::NormalExit);
    const QString context = QString::fromUtf8(output + "\n--- stderr\n" + errors);

    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const int rows = int(std::size(Strobix::firmwareCatalogue));
    QVERIFY2(lines.size() == rows + 2, qPrintable(context));
    QCOMPARE(lines.first(), QStringLiteral("server: ") + base);
    for (int i = 0; i < rows; ++i) {
        const Strobix::CatalogueEntry &entry = Strobix::firmwareCatalogue[i];
        const QString name = QString::fromLatin1(entry.imageName);
        const QString line = lines[i + 1];
        const QString model = QString::fromLatin1(entry.installText).mid(int(strlen("Firmware Update ")));
        QVERIFY2(line.startsWith(name + QStringLiteral("  ") + model), qPrintable(line));
        if (failures.contains(name)) {
            QVERIFY2(line.contains(QStringLiteral("  FAIL: ")) && line.contains(failures.value(name)),
                     qPrintable(line + QStringLiteral("\nexpected: ") + failures.value(name)));
            continue;
        }
        QVERIFY2(line.endsWith(QStringLiteral("  ok")), qPrintable(line));
        if (!keep)
            continue;
        // The kept image is what was served, and the unit holds it: checked by the
        // virtual unit's own tool, not by the command's read-back.
        const QString rowDir = kept.filePath(name.section(QLatin1Char('.'), 0, 0));
        QVERIFY(readFile(rowDir + QLatin1Char('/') + name) == server.replyFor(QStringLiteral("/firmware/") + name).body);
        const ToolRun compare = runTool(QStringLiteral(VU_TOOL), {QStringLiteral("compare"),
                                        rowDir + QStringLiteral("/unit.state"), rowDir + QLatin1Char('/') + name});
        QVERIFY2(compare.exitCode == 0, compare.output.constData());
    }
    if (failures.isEmpty()) {
        QCOMPARE(lines.last(), QStringLiteral("verdict: ok, all %1 images passed").arg(rows));
        QCOMPARE(command.exitCode(), 0);
    } else {
        QCOMPARE(lines.last(), QStringLiteral("verdict: FAILED, %1 of %2 images failed").arg(failures.size()).arg(rows));
        QCOMPARE(command.exitCode(), 1);
    }
    if (!keep)
        QVERIFY(QDir(kept.path()).isEmpty());
}

void TestReleaseCheck::refusesToRun_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("dfuUtil"); // STROBIX_DFU_UTIL; empty: the system's
    QTest::addColumn<QString>("message");

    QTest::newRow("server URL without /firmware/")
        << QStringList{"--server", "http://127.0.0.1:1/images/"} << QString() << "must end in /firmware/";
    QTest::newRow("server URL without the last slash")
        << QStringList{"--server", "http://127.0.0.1:1/firmware"} << QString() << "must end in /firmware/";
    QTest::newRow("stray argument")
        << QStringList{"--server", "http://127.0.0.1:1/firmware/", "SX2100b0.dfu"} << QString()
        << "unexpected argument SX2100b0.dfu";
    QTest::newRow("no dfu-util")
        << QStringList{"--server", "http://127.0.0.1:1/firmware/"} << work.filePath(QStringLiteral("no-such-tool"))
        << "is not executable";
}

void TestReleaseCheck::refusesToRun()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, dfuUtil);
    QFETCH(QString, message);

    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("STROBIX_VU_LIB"));
    if (dfuUtil.isEmpty())
        env.remove(QStringLiteral("STROBIX_DFU_UTIL"));
    else
        env.insert(QStringLiteral("STROBIX_DFU_UTIL"), dfuUtil);
    command.setProcessEnvironment(env);
    command.start(QStringLiteral(RELEASE_CHECK), arguments);
    QVERIFY(command.waitForFinished(toolLimitMs));
    const QByteArray errors = command.readAllStandardError();
    QCOMPARE(command.exitStatus(), QProcess::NormalExit);
    QCOMPARE(command.exitCode(), 2);
    QVERIFY2(errors.contains(message.toUtf8()), errors.constData());
    QCOMPARE(command.readAllStandardOutput(), QByteArray());
}

QTEST_GUILESS_MAIN(TestReleaseCheck)
#include "tst_releasecheck.moc"
