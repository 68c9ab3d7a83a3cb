// The DfuSe reader that decides whether a download is an image for the unit.

#include "dfu/dfuseimage.h"
#include "dfusefile.h"

#include <QtTest>

using namespace Strobix;

namespace {

QByteArray image(quint16 vendor = 0x0483, quint16 product = 0xdf11)
{
    return dfuseFile({{0x08004000, "first"}, {0x08010000, "two"}}, vendor, product);
}

} // namespace

class TestDfuseImage : public QObject
{
    Q_OBJECT

private slots:
    void goodImage();
    void refused_data();
    void refused();
};

void TestDfuseImage::goodImage()
{
    DfuseImage read;
    QCOMPARE(DfuseImage::read(image(), &read), QString());
    QCOMPARE(read.elements.size(), 2);
    QCOMPARE(read.elements.at(0).address, 0x08004000u);
    QCOMPARE(read.elements.at(0).data, QByteArray("first"));
    QCOMPARE(read.elements.at(1).address, 0x08010000u);
    QCOMPARE(read.elements.at(1).data, QByteArray("two"));
    QVERIFY(read.isFor(0x0483, 0xdf11));
    // dfu-util takes 0xffff for any; another product is the workflow's row.
    QCOMPARE(DfuseImage::read(image(0x0483, 0xffff), &read), QString());
    QVERIFY(read.isFor(0x0483, 0xdf11));
    QCOMPARE(DfuseImage::read(image(0x0484, 0xdf11), &read), QString());
    QVERIFY(!read.isFor(0x0483, 0xdf11));
}

void TestDfuseImage::refused_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("problem");

    const QByteArray good = image();
    const int suffix = good.size() - 16;
    const int secondSize = 11 + 274 + 8 + 5 + 4; // the second element's size field
    QTest::newRow("a captive portal's login page")
        << QByteArray("<html><body>Please log in</body></html>").repeated(8) << "no DfuSe prefix";
    QTest::newRow("cut short") << good.left(good.size() - 100) << "no DFU suffix";
    QByteArray flipped = good;
    flipped[300] = char(flipped[300] ^ 1);
    QTest::newRow("a byte spoilt on the way") << flipped << "suffix CRC does not match";
    QByteArray version = good;
    version[suffix + 6] = 0x00;
    QTest::newRow("plain DFU suffix version") << resealed(version) << "DFU version 0100, not 1.1a";
    QByteArray moreTargets = good;
    moreTargets[10] = 2;
    QTest::newRow("a target announced but missing") << resealed(moreTargets) << "target 2 is missing";
    QTest::newRow("an element larger than its target")
        << resealed(QByteArray(good).replace(secondSize, 4, le32(4))) << "target 1: element 2 runs past the target";
    QTest::newRow("elements that do not fill their target")
        << resealed(QByteArray(good).replace(11 + 270, 4, le32(1))) << "target 1: its elements do not fill it";
    QTest::newRow("a target size past the file")
        << resealed(QByteArray(good).replace(11 + 266, 4, le32(0xffffffff))) << "target 1 runs into the suffix";
    QByteArray stray = good;
    stray.insert(suffix, "junk");
    QTest::newRow("bytes between the targets and the suffix") << resealed(stray) << "stray bytes before the suffix";
    // dfu-util refuses both (exit 65): pressing Start again could never help.
    QTest::newRow("a target without elements") << dfuseFile({}) << "target 1 has no elements";
    QTest::newRow("an empty element") << dfuseFile({{0x08004000, "x"}, {0x08010000, ""}}) << "target 1: element 2 is empty";
}

void TestDfuseImage::refused()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, problem);
    QCOMPARE(DfuseImage::read(file), problem);
}

QTEST_APPLESS_MAIN(TestDfuseImage)
#include "tst_dfuseimage.moc"
