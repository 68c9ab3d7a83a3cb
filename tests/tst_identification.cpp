// The three identification rules, applied to dump files.

#include "dfu/dfuutilotp.h"

#include <QtTest>

using namespace Strobix;

class TestIdentification : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void firstAreaNamesOnlyX21();
    void missingDump();

private:
    QString writeDump(const QByteArray &bytes);
    QTemporaryDir dir;
};

QString TestIdentification::writeDump(const QByteArray &bytes)
{
    const QString path = dir.filePath(QStringLiteral("strobix.otp"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the dump");
    return path;
}

static QByteArray bytes(std::initializer_list<int> values, int size)
{
    QByteArray result(size, '\0');
    int i = 0;
    for (int v : values)
        result[i++] = char(v);
    return result;
}

void TestIdentification::rules_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<QByteArray>("dump");
    QTest::addColumn<QString>("name");

    QTest::newRow("first: X21 Canon") << 1 << bytes({0x21, 0x00, 0xb0}, 8) << "SX2100b0.dfu";
    QTest::newRow("first: third byte zero") << 1 << bytes({0x21, 0x00, 0x00}, 8) << "";
    QTest::newRow("first: seven bytes") << 1 << bytes({0x21, 0x00, 0xb0}, 7) << "";
    QTest::newRow("first: empty dump") << 1 << QByteArray() << "";
    QTest::newRow("first: longer dump read in its first 8") << 1 << bytes({0x21, 0x00, 0xb6}, 300) << "SX2100b6.dfu";
    QTest::newRow("third: X33 Canon") << 3 << bytes({0x33, 0x01, 0x90}, 8) << "SX330190.dfu";
    QTest::newRow("third: X7 leading zeros") << 3 << bytes({0x07, 0x01, 0xa0}, 8) << "SX0701a0.dfu";
    QTest::newRow("third: model 0x21 rejected") << 3 << bytes({0x21, 0x00, 0xb0}, 8) << "";
    QTest::newRow("third: third byte zero") << 3 << bytes({0x07, 0x01, 0x00}, 8) << "";
    QTest::newRow("second: zeros skipped") << 2 << bytes({0x58, 0x01, 0x00, 0x00, 0x70}, 256) << "SX580170.dfu";
    QTest::newRow("second: 255 bytes") << 2 << bytes({0x58, 0x01, 0x70}, 255) << "";
    QTest::newRow("second: 300 bytes, non-zero only past 256")
        << 2 << [] { QByteArray b = bytes({0x58, 0x01}, 300); b[280] = 0x71; return b; }() << "";
    QTest::newRow("second: all zero after the model") << 2 << bytes({0x58, 0x01}, 256) << "";
    QTest::newRow("second: last byte is the third")
        << 2 << [] { QByteArray b = bytes({0x58, 0x01}, 256); b[255] = 0x74; return b; }() << "SX580174.dfu";
    QTest::newRow("second: any model byte") << 2 << bytes({0x00, 0x00, 0x01}, 256) << "SX000001.dfu";
    QTest::newRow("second: erased OTP") << 2 << QByteArray(256, '\xff') << "SXffffff.dfu";
}

void TestIdentification::rules()
{
    QFETCH(int, area);
    QFETCH(QByteArray, dump);
    QFETCH(QString, name);
    const QString path = writeDump(dump);
    const auto rule = area == 1 ? DfuUtilOtp::nameFromFirstArea
                    : area == 2 ? DfuUtilOtp::nameFromSecondArea
                                : DfuUtilOtp::nameFromThirdArea;
    QCOMPARE(rule(path, 0), name);
}

// Any other model byte there is no X21 record: its image would be another model's.
void TestIdentification::firstAreaNamesOnlyX21()
{
    for (int model = 0; model < 256; ++model) {
        const QString name = DfuUtilOtp::nameFromFirstArea(writeDump(bytes({model, 0x00, 0xb0}, 8)), 0);
        QCOMPARE(name.isEmpty(), model != 0x21);
    }
}

void TestIdentification::missingDump()
{
    const QString path = dir.filePath(QStringLiteral("none.otp"));
    QVERIFY(DfuUtilOtp::nameFromFirstArea(path, 0).isEmpty());
    QVERIFY(DfuUtilOtp::nameFromSecondArea(path, 0).isEmpty());
    QVERIFY(DfuUtilOtp::nameFromThirdArea(path, 0).isEmpty());
    // A directory where the dump should be cannot be read either.
    QVERIFY(DfuUtilOtp::nameFromFirstArea(dir.path(), 0).isEmpty());
}

QTEST_APPLESS_MAIN(TestIdentification)
#include "tst_identification.moc"
