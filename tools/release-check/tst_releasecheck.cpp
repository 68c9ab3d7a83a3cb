// strobix-release-check against an in-process firmware server that serves the
// make-images.sh images, some of them spoiled; and the release's own rules on
// top of the updater's DfuSe reader.

#include "dfusefile.h"
#include "tools.h"
#include "releaserules.h"
#include "testhttpserver.h"

#include "update/firmwarecatalogue.h"

#include <QtTest>

namespace {

const QString sourceDir = QStringLiteral(STROBIX_SOURCE_DIR);
const int toolLimitMs = 600000; // a bound on hangs, not a speed target

// How the server offers one catalogue image.
enum class Served {
    BadCrc,   // from make-images.sh --broken: suffix CRC spoiled
    Missing,  // 404
    CutShort, // the whole Content-Length announced, the connection closed halfway
    Redirect, // 302 to the image at another path
    Overlap,  // a well-formed image whose second element overwrites part of the first
    // X21 images that erase the sector of the identity record at 0x0800F800
    Identity48K,  // 48 KiB from 0x08004000
    Identity256,  // 256 bytes at 0x0800C000
    Tampered,     // a byte changed after signing
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

Q_DECLARE_METATYPE(Changes)
Q_DECLARE_METATYPE(Failures)

class TestReleaseCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void releaseRules_data();
    void releaseRules();
    void command_data();
    void command();

private:
    void serve(TestHttpServer &server, const Changes &changes);

    QTemporaryDir work;
    QString key;
    QString images;
    QString broken;
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
    key = minisignKey(work.path());
    QVERIFY(!key.isEmpty());
}

void TestReleaseCheck::releaseRules_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("problem"); // empty: the image is good

    const QByteArray good = dfuseFile({{0x08004000, "first"}, {0x08010000, "two"}});
    QTest::newRow("good image") << good << QString();
    QTest::newRow("for any device") << dfuseFile({{0x08004000, "x"}}, 0xffff, 0xffff)
                                    << "suffix is for ffff:ffff, not 0483:df11";
    QTest::newRow("for another product") << dfuseFile({{0x08004000, "x"}}, 0x0483, 0xdf12)
                                         << "suffix is for 0483:df12, not 0483:df11";
    QTest::newRow("prefix image size one too large")
        << resealed(QByteArray(good).replace(6, 4, le32(quint32(good.size() + 1))))
        << QStringLiteral("prefix image size %1, but the file has %2 bytes").arg(good.size() + 1).arg(good.size());
    QTest::newRow("target for alternate setting 1") << resealed(QByteArray(good).replace(11 + 6, 1, "\x01"))
                                                    << "element 1 is for alternate setting 1, the updater writes 0";
}

void TestReleaseCheck::releaseRules()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, problem);
    Strobix::DfuseImage image;
    QCOMPARE(ReleaseCheck::checkReleaseImage(file, image), problem);
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
        case Served::Missing:
            continue;
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
            // Whether the sector is erased again (ff) or programmed over (5a & a5 = 00),
            // 0x08005000 no longer holds 5a.
            reply.body = dfuseFile({{0x08004000, QByteArray(8192, '\x5a')}, {0x08005000, QByteArray(4096, '\xa5')}});
            break;
        case Served::Identity48K:
            reply.body = dfuseFile({{0x08004000, QByteArray(48 * 1024, '\x3c')}});
            break;
        case Served::Identity256:
            reply.body = dfuseFile({{0x0800C000, QByteArray(256, '\x3c')}});
            break;
        default:
            break;
        }
        QVERIFY(!reply.body.isEmpty());
        TestHttpServer::Reply signature;
        QVERIFY(writeFile(work.filePath(name), reply.body));
        signature.body = minisignSign(work.path(), work.filePath(name));
        server.setReply(path + QStringLiteral(".minisig"), signature);
        if (changes.value(name) == Served::Tampered)
            reply.body = resealed(reply.body.replace(300, 1, "?"));
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
    QTest::newRow("spoiled images among good ones, nothing kept")
        << Changes{{"SX2100b2.dfu", Served::BadCrc}, {"SX330193.dfu", Served::Missing},
                   {"SX0701a0.dfu", Served::CutShort}, {"SX2100b0.dfu", Served::Redirect},
                   {"SX2100b1.dfu", Served::Overlap}, {"SX2100b4.dfu", Served::Identity48K},
                   {"SX2100b6.dfu", Served::Identity256}, {"SX580170.dfu", Served::Tampered}}
        << QByteArray() << false
        << Failures{{"SX580170.dfu", "SX580170.dfu.minisig: the signature by key "},
                    {"SX2100b2.dfu", "suffix CRC does not match"}, {"SX330193.dfu", "download: HTTP 404 Not Found"},
                    {"SX0701a0.dfu", "download: 9154 of 18309 bytes arrived"},
                    {"SX2100b0.dfu", "download: HTTP 302 Found to http://127.0.0.1:"},
                    {"SX2100b1.dfu", "element 1 at 0x08004000 (8192 bytes) did not land: it reads back different from 0x08005000"},
                    {"SX2100b4.dfu", "the image destroys the unit's identity: after writing, it identifies as SXffffff.dfu, "
                                     "not SX2100b4.dfu: element 1 at 0x08004000 (49152 bytes) overlaps the sector "
                                     "0x0800c000..0x0800ffff that holds it at 0x0800f800"},
                    {"SX2100b6.dfu", "identifies as SXffffff.dfu, not SX2100b6.dfu: element 1 at 0x0800c000 (256 bytes)"}};
    Failures all;
    Failures sectorsOnly; // L0/L1 sector 1 holds the loader, which no image touches
    for (const QString &name : catalogueNames()) {
        all.insert(name, QStringLiteral("dfu-util -D failed: "));
        if (name.startsWith(QLatin1String("SX21")) || name.startsWith(QLatin1String("SX58")))
            sectorsOnly.insert(name, QStringLiteral("bytes) did not land: it reads back different from 0x0800"));
    }
    QTest::newRow("unit fails while being written") << Changes{} << QByteArray("program-fail:3") << true << all;
    QTest::newRow("sector 1 write-protected") << Changes{} << QByteArray("write-protected:1") << false << sectorsOnly;
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
    arguments << QStringLiteral("--keys") << key;
    QSignalSpy finished(&command, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
    command.start(QStringLiteral(RELEASE_CHECK), arguments);
    // The server answers from this event loop while the command runs.
    QVERIFY(finished.wait(toolLimitMs));
    const QByteArray output = command.readAllStandardOutput();
    const QString context = QString::fromUtf8(output + "\n--- stderr\n" + command.readAllStandardError());
    QCOMPARE(command.exitStatus(), QProcess::NormalExit);

    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const int rows = int(std::size(Strobix::firmwareCatalogue));
    QVERIFY2(lines.size() == rows + 3, qPrintable(context));
    QCOMPARE(lines.first(), QStringLiteral("server: ") + base);
    QCOMPARE(lines[1], QStringLiteral("signatures: required"));
    for (int i = 0; i < rows; ++i) {
        const Strobix::CatalogueEntry &entry = Strobix::firmwareCatalogue[i];
        const QString name = QString::fromLatin1(entry.imageName);
        const QString line = lines[i + 2];
        const QString model = QString::fromLatin1(entry.installText).mid(int(strlen("Firmware Update ")));
        QVERIFY2(line.startsWith(name + QStringLiteral("  ") + model), qPrintable(line));
        const QString failure = failures.value(name);
        QVERIFY2(failure.isEmpty() ? line.endsWith(QStringLiteral("  ok"))
                                   : line.contains(QStringLiteral("  FAIL: ")) && line.contains(failure),
                 qPrintable(line + QStringLiteral("\nexpected: ") + failure));
        if (!keep || !failure.isEmpty())
            continue;
        // The unit holds the image, by the virtual unit's own tool, not by the command's read-back.
        const QString rowDir = kept.filePath(name.section(QLatin1Char('.'), 0, 0));
        const ToolRun compare = runTool(QStringLiteral(VU_TOOL), {QStringLiteral("compare"), rowDir + QStringLiteral("/unit.state"),
                                                                 rowDir + QLatin1Char('/') + name});
        QVERIFY2(compare.exitCode == 0, qPrintable(compare.output));
    }
    const QString verdict = failures.isEmpty()
        ? QStringLiteral("verdict: ok, all %1 images passed").arg(rows)
        : QStringLiteral("verdict: FAILED, %1 of %2 images failed").arg(failures.size()).arg(rows);
    QCOMPARE(lines.last(), verdict);
    QCOMPARE(command.exitCode(), failures.isEmpty() ? 0 : 1);
    if (!keep)
        QVERIFY(QDir(kept.path()).isEmpty());
}

QTEST_GUILESS_MAIN(TestReleaseCheck)
#include "tst_releasecheck.moc"
