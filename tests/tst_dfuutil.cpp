// The dfu-util runner and both workers, against the scripted fake tool.

#include "app/globals.h"
#include "dfu/dfuutilinstaller.h"
#include "dfu/dfuutilotp.h"
#include "dfusefile.h"
#include "fakedfucontrol.h"

#include <QtTest>

using namespace Strobix;
using Fake = FakeDfuControl;

class TestDfuUtil : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void execute_data();
    void execute();
    void missingTool();
    void twoRunsLeaveOnlyTheSecondInTheLog();
    void largeOutputArrivesWhole();
    void silentToolIsKilled();
    void identification_data();
    void identification();
    void staleDumpIsNeverRead_data();
    void staleDumpIsNeverRead();
    void installer_data();
    void installer();

private:
    QByteArray logContents() const;

    std::unique_ptr<Fake> fake;
    QTemporaryDir data{QDir::tempPath() + QStringLiteral("/data folder \u00e4-XXXXXX")};
    QString previousDir;
};

void TestDfuUtil::init()
{
    fake.reset(new Fake(QStringLiteral(FAKEDFU_PATH)));
    QVERIFY(fake->isValid());
    previousDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(fake->workDir()));
    QVERIFY(data.isValid());
    dataFolder = data.path() + QLatin1Char('/');
    QFile::remove(dataFolder + QStringLiteral("dfu-util.log"));
}

void TestDfuUtil::cleanup()
{
    QDir::setCurrent(previousDir);
    fake.reset();
}

QByteArray TestDfuUtil::logContents() const
{
    QFile log(dataFolder + QStringLiteral("dfu-util.log"));
    return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray("<no log>");
}

void TestDfuUtil::execute_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("forwarded");
    QTest::addColumn<QByteArray>("logged");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("stderr before stdout")
        << Fake::err("dfu-util: warning\n") + Fake::pauseMs(50) + Fake::out("Opening DFU\n")
        << true << "dfu-util: warning\nOpening DFU\n" << QByteArray("dfu-util: warning\nOpening DFU\n") << 0;
    QTest::newRow("lone CR progress")
        << Fake::out("\rDownload\t[==  ]  50%") + Fake::pauseMs(50) + Fake::out("\rDownload\t[====] 100%\n")
        << true << "\rDownload\t[==  ]  50%\rDownload\t[====] 100%\n"
        << QByteArray("\rDownload\t[==  ]  50%\rDownload\t[====] 100%\n") << 0;
    QTest::newRow("NUL inside a chunk")
        << Fake::out(QByteArray("abc\0def", 7)) << true << "abc" << QByteArray("abc\0def", 7) << 0;
    QTest::newRow("non-zero exit still went through")
        << Fake::err("No DFU capable USB device available\n") + Fake::exitCode(74)
        << true << "No DFU capable USB device available\n"
        << QByteArray("No DFU capable USB device available\n") << 74;
    QTest::newRow("crash after output")
        << Fake::out("Upload\t[=  ]   4%") + Fake::pauseMs(50) + Fake::crash()
        << false << "Upload\t[=  ]   4%" << QByteArray("Upload\t[=  ]   4%") << -1;
    QTest::newRow("last bytes written just before exit")
        << Fake::out("\rDownload\t[====] 100%") + Fake::out("\nDownload done.\n") + Fake::exitCode(0)
        << true << "\rDownload\t[====] 100%\nDownload done.\n"
        << QByteArray("\rDownload\t[====] 100%\nDownload done.\n") << 0;
}

void TestDfuUtil::execute()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, ok);
    QFETCH(QString, forwarded);
    QFETCH(QByteArray, logged);
    QFETCH(int, exitCode);

    fake->setScript(1, script);
    DfuUtil runner;
    QSignalSpy output(&runner, &DfuUtil::logOutput);
    int code = 0;
    QCOMPARE(runner.execute({"-d", "0483:df11"}, &code), ok);
    QCOMPARE(code, exitCode);

    QString joined;
    for (const QList<QVariant> &chunk : output)
        joined += chunk.at(0).toString();
    QCOMPARE(joined, forwarded);
    QCOMPARE(logContents(), logged);
    QCOMPARE(fake->calls(), QList<QStringList>({{"-d", "0483:df11"}}));
}

void TestDfuUtil::missingTool()
{
    QVERIFY(QFile::remove(fake->toolPath()));
    {
        QFile log(dataFolder + QStringLiteral("dfu-util.log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("previous run");
    }
    DfuUtil runner;
    QSignalSpy output(&runner, &DfuUtil::logOutput);
    QVERIFY(!runner.execute({"-d", "0483:df11"}));
    QCOMPARE(output.count(), 0);
    QCOMPARE(logContents(), QByteArray("previous run"));
}

void TestDfuUtil::twoRunsLeaveOnlyTheSecondInTheLog()
{
    fake->setScript(1, Fake::out("first run, a longer text\n"));
    fake->setScript(2, Fake::out("second\n"));
    DfuUtil runner;
    QVERIFY(runner.execute({"one"}));
    QVERIFY(runner.execute({"two"}));
    QCOMPARE(logContents(), QByteArray("second\n"));
}

void TestDfuUtil::largeOutputArrivesWhole()
{
    const qint64 size = 8 * 1024 * 1024;
    fake->setScript(1, Fake::flood(size, 4096));
    DfuUtil runner;
    qint64 forwarded = 0;
    connect(&runner, &DfuUtil::logOutput, [&](const QString &text) { forwarded += text.size(); });
    QVERIFY(runner.execute({}));
    QCOMPARE(forwarded, size);
    QCOMPARE(QFileInfo(dataFolder + QStringLiteral("dfu-util.log")).size(), size);
}

// Takes the full silence timeout: the tool is given its 30 s before it is stopped.
void TestDfuUtil::silentToolIsKilled()
{
    fake->setScript(1, Fake::out("Opening DFU capable USB device...\n") + Fake::hang());
    DfuUtil runner;
    int code = 0;
    QVERIFY(runner.execute({}, &code));
    QCOMPARE(code, -1);
    QCOMPARE(logContents(), QByteArray("Opening DFU capable USB device...\n"));
}

void TestDfuUtil::identification_data()
{
    QTest::addColumn<QByteArray>("run1");
    QTest::addColumn<QByteArray>("run2");
    QTest::addColumn<QByteArray>("run3");
    QTest::addColumn<int>("runs");
    QTest::addColumn<QString>("answer");

    const QByteArray none = Fake::err("dfu-util: No DFU capable USB device available\n") + Fake::exitCode(74);
    const QByteArray x21 = Fake::upload(QByteArray::fromHex("2100b0ffffffffff"));
    const QByteArray x33 = Fake::upload(QByteArray::fromHex("330190ffffffffff"));
    const QByteArray x58 = Fake::upload(QByteArray::fromHex("5801000070") + QByteArray(251, 0));

    QTest::newRow("first area answers, others not read") << x21 << none << none << 1 << "SX2100b0.dfu";
    QTest::newRow("X33 bytes in the first area are skipped") << x33 << none << x33 << 3 << "SX330190.dfu";
    QTest::newRow("second area answers") << none << x58 << none << 2 << "SX580170.dfu";
    QTest::newRow("no unit anywhere") << none << none << none << 3 << "";
    QTest::newRow("X21 bytes in the third area are rejected") << none << none << x21 << 3 << "";
    QTest::newRow("tool crashes at once") << Fake::crash() << none << none << 1 << "?";
    QTest::newRow("second run crashes") << none << Fake::crash() << none << 2 << "?";
    // dfu-util sees the unit but cannot use it: the first run says why, and the later ones would say the same.
    const auto openRefused = [none](const char *error) {
        return Fake::err(QByteArray("dfu-util: Cannot open DFU device 0483:df11 found on devnum 7 (") + error + ")\n")
               + none;
    };
    QTest::newRow("open refused for lack of access")
        << openRefused("LIBUSB_ERROR_ACCESS") << none << none << 1 << DfuUtilOtp::unitAccessDenied;
    QTest::newRow("open refused, no WinUSB binding")
        << openRefused("LIBUSB_ERROR_NOT_SUPPORTED") << none << none << 1 << DfuUtilOtp::unitWithoutDriver;
    QTest::newRow("open fails otherwise: no device, as before") << openRefused("LIBUSB_ERROR_IO") << none << none << 3 << "";
    QTest::newRow("claim refused, unit busy")
        << Fake::err("dfu-util: Cannot claim interface - LIBUSB_ERROR_BUSY\n") + Fake::exitCode(74) << none << none << 1
        << DfuUtilOtp::unitInUse;
    QTest::newRow("two units")
        << Fake::err("dfu-util: More than one DFU capable USB device found! Try `--list' and specify the serial number "
                     "or disconnect all but one device\n")
               + Fake::exitCode(74)
        << none << none << 1 << DfuUtilOtp::severalUnits;
    QTest::newRow("dump written, then exit code 74")
        << x21 + Fake::exitCode(74) << none << none << 1 << "SX2100b0.dfu";
}

void TestDfuUtil::identification()
{
    QFETCH(QByteArray, run1);
    QFETCH(QByteArray, run2);
    QFETCH(QByteArray, run3);
    QFETCH(int, runs);
    QFETCH(QString, answer);

    fake->setScript(1, run1);
    fake->setScript(2, run2);
    fake->setScript(3, run3);
    DfuUtilOtp worker;
    QSignalSpy result(&worker, &DfuUtilOtp::result);
    worker.process();

    QCOMPARE(result.count(), 1);
    QCOMPARE(result.at(0).at(0).toString(), answer);
    const QString dump = dataFolder + QStringLiteral("strobix.otp");
    QList<QStringList> expected;
    for (int n = 1; n <= runs; ++n)
        expected << Fake::identificationCall(n, dump);
    QCOMPARE(fake->calls(), expected);
    // The dump goes with every run that went through; a crashed run leaves its file.
    if (answer != QLatin1String("?"))
        QVERIFY(!QFile::exists(dump));
}

void TestDfuUtil::staleDumpIsNeverRead_data()
{
    QTest::addColumn<bool>("removable");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("runs");
    QTest::newRow("an old dump is removed first") << true << "" << 3;
    // As a file that a virus scanner holds, or an immutable one: the tool would
    // refuse to write into it, and the old bytes must not be read instead.
    QTest::newRow("an old dump that cannot be removed ends the run") << false << "!" << 0;
}

void TestDfuUtil::staleDumpIsNeverRead()
{
    QFETCH(bool, removable);
    QFETCH(QString, answer);
    QFETCH(int, runs);
    const QString dump = dataFolder + QStringLiteral("strobix.otp");
    if (removable) {
        QFile stale(dump);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.write(QByteArray::fromHex("2100b0ffffffffff"));
    } else {
        QVERIFY(QDir().mkpath(dump + QStringLiteral("/held")));
    }
    // The fake writes nothing, as a tool that found no unit.
    fake->setDefaultScript(Fake::exitCode(74));
    DfuUtilOtp worker;
    QSignalSpy result(&worker, &DfuUtilOtp::result);
    worker.process();
    QCOMPARE(result.count(), 1);
    QCOMPARE(result.at(0).at(0).toString(), answer);
    QCOMPARE(fake->calls().size(), runs);
    QCOMPARE(QFileInfo::exists(dump), !removable);
    QDir(dump).removeRecursively();
}

void TestDfuUtil::installer_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QList<QByteArray>>("scripts"); // run 1 installs
    QTest::addColumn<QList<QStringList>>("readBacks");
    QTest::addColumn<int>("identifications"); // after the read-back
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("logEnd"); // from a changed identity on
    const QString back = data.path() + QLatin1Char('/') + QLatin1String(DfuUtilInstaller::readBackFileName);
    const QByteArray image = dfuseFile({{0x08004000, "image"}});
    const QByteArray written = Fake::out("Download\t[====] 100%\n") + Fake::exitCode(0);
    const QByteArray x21 = Fake::upload(QByteArray::fromHex("2100b0ffffffffff"));
    const QList<QStringList> readBack{Fake::readBackCall("0x08004000:5", back)};
    const auto up = [](const QByteArray &bytes) { return Fake::out("Upload\t[====] 100%\n") + Fake::upload(bytes); };

    QTest::newRow("exit 0 after 100, reads back, same identity")
        << image << QList<QByteArray>{written, up("image"), x21} << readBack << 1 << true << QByteArray();
    // A write-protected sector keeps its old bytes, and the tool says nothing.
    QTest::newRow("exit 0 after 100, reads back other bytes")
        << image << QList<QByteArray>{written, up("imagf")} << readBack << 0 << false << QByteArray();
    // An element that erases the record's sector: the unit would never be updated again.
    QTest::newRow("the image wipes the unit's identity")
        << image << QList<QByteArray>{written, up("image"), Fake::upload(QByteArray(8, '\xff'))}
        << readBack << 3 << false
        << QByteArray("The unit no longer identifies as before: nothing after the write, SX2100b0.dfu before.\n");
    QTest::newRow("the identification after the write crashes")
        << image << QList<QByteArray>{written, up("image"), Fake::crash()} << readBack << 1 << false
        << QByteArray("The unit could not be identified again after the write: dfu-util did not start or crashed.\n");
    // A two-element image whose second element lies outside the flash.
    QTest::newRow("exit 64 after 100")
        << image << QList<QByteArray>{Fake::out("Download\t[====] 100%\n") + Fake::exitCode(64)}
        << QList<QStringList>() << 0 << false << QByteArray();
    // Whole transfers first: the unit places an upload's blocks by their length.
    const QByteArray first = QByteArray(3000, '\x11');
    QTest::newRow("two elements, the second for another alternate setting, a short last block")
        << dfuseTargets({{0, {{0x08004000, first}}}, {1, {{0x1fff7800, "ab"}}}})
        << QList<QByteArray>{written, up(first.left(2048)), up(first.mid(2048)), up("ab"), x21}
        << QList<QStringList>{Fake::readBackCall("0x08004000:2048", back),
                              Fake::readBackCall("0x08004800:952", back),
                              Fake::readBackCall("0x1fff7800:2", back, 1)}
        << 1 << true << QByteArray();
}

void TestDfuUtil::installer()
{
    QFETCH(QByteArray, image);
    QFETCH(QList<QByteArray>, scripts);
    QFETCH(QList<QStringList>, readBacks);
    QFETCH(int, identifications);
    QFETCH(bool, ok);
    QFETCH(QByteArray, logEnd);
    const QString path = dataFolder + QStringLiteral("SX2100b0.dfu");
    QVERIFY(path.contains(QLatin1Char(' ')));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(image);
    file.close();
    for (int i = 0; i < scripts.size(); ++i)
        fake->setScript(i + 1, scripts.at(i));
    fake->setDefaultScript(Fake::exitCode(74));

    DfuUtilInstaller installer(path);
    QSignalSpy result(&installer, &DfuUtilInstaller::result);
    QSignalSpy output(&installer, &DfuUtil::logOutput);
    installer.process();
    QCOMPARE(result.count(), 1);
    QCOMPARE(result.at(0).at(0).toBool(), ok);
    QList<QStringList> calls = QList<QStringList>{Fake::installCall(path)} + readBacks;
    for (int n = 1; n <= identifications; ++n)
        calls << Fake::identificationCall(n, dataFolder + QStringLiteral("strobix.otp"));
    QCOMPARE(fake->calls(), calls);
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFile::exists(dataFolder + QLatin1String(DfuUtilInstaller::readBackFileName)));
    // The later runs' output is kept after the installation's, and not shown as its progress.
    QVERIFY(logContents().startsWith("Download\t[====] 100%\n"));
    QCOMPARE(logContents().contains("Upload"), !readBacks.isEmpty());
    QCOMPARE(output.count(), 1);
    const QByteArray log = logContents();
    QCOMPARE(log.mid(log.lastIndexOf("\nThe unit ") + 1), logEnd.isEmpty() ? log : logEnd);
}

QTEST_GUILESS_MAIN(TestDfuUtil)
#include "tst_dfuutil.moc"
