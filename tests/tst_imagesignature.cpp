// The signature check on files that the real minisign made with keys of this run.

#include "update/imagesignature.h"
#include "tools.h"

#include <QtTest>

class TestImageSignature : public QObject
{
    Q_OBJECT

private slots:
    void check_data();
    void check();

private:
    QTemporaryDir work;
};

void TestImageSignature::check_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QString>("problem"); // empty: the signature holds

    const QString old = work.filePath("old");
    const QString now = work.filePath("new");
    QVERIFY(QDir().mkpath(old) && QDir().mkpath(now));
    const QString key = minisignKey(old);
    const QString newKey = minisignKey(now);
    const QByteArray image = QByteArray("an image, whatever its format ").repeated(100);
    QVERIFY(writeFile(work.filePath("SX2100b0.dfu"), image) && writeFile(work.filePath("SX2100b1.dfu"), image));
    const QByteArray prehashed = minisignSign(old, work.filePath("SX2100b0.dfu"));
    const QByteArray legacy = minisignSign(old, work.filePath("SX2100b0.dfu"), {"-l"});
    const QByteArray byNewKey = minisignSign(now, work.filePath("SX2100b0.dfu"));
    const QByteArray forOtherName = minisignSign(old, work.filePath("SX2100b1.dfu"));
    QVERIFY(prehashed.contains("\tfile:SX2100b0.dfu\thashed\n") && legacy.contains("\tfile:SX2100b0.dfu\n"));
    const auto id = [](const QString &dir) {
        return QString::fromLatin1(readFile(dir + "/minisign.pub")).section('\n', 0, 0).section(' ', -1);
    };
    QByteArray tampered = image;
    tampered[1000] = 'X';
    QByteArray flipped = prehashed; // a character of the signature proper, after algorithm and key id
    const int at = prehashed.indexOf("\nRU") + 40;
    flipped[at] = flipped[at] == 'A' ? 'B' : 'A';
    const QString mismatch = "the signature by key " + id(old) + " does not match the image";

    QTest::newRow("prehashed signature") << key << image << prehashed << "";
    QTest::newRow("legacy signature") << key << image << legacy << "";
    QTest::newRow("CRLF line ends") << key << image << QByteArray(prehashed).replace("\n", "\r\n") << "";
    QTest::newRow("key list holding the old and the new key") << key + ";" + newKey << image << byNewKey << "";
    QTest::newRow("one byte of the image flipped") << key << tampered << prehashed << mismatch;
    QTest::newRow("one byte of the image flipped, legacy") << key << tampered << legacy << mismatch;
    QTest::newRow("one byte of the signature flipped") << key << image << flipped << mismatch;
    QTest::newRow("signed by another key, whose id is unknown")
        << key << image << byNewKey << "signed with key " + id(now) + ", which this program does not trust";
    // Keys of a run are random: an id whose top byte is zero is made here.
    QList<QByteArray> lines = prehashed.split('\n');
    QByteArray line = QByteArray::fromBase64(lines[1]);
    line.replace(2, 8, QByteArray("\x01\x02\x03\x04\x05\x06\x07\x00", 8));
    lines[1] = line.toBase64();
    QTest::newRow("unknown key whose id begins with zeros")
        << key << image << lines.join('\n') << "signed with key 0007060504030201, which this program does not trust";
    QTest::newRow("cut short") << key << image << prehashed.left(prehashed.indexOf("trusted comment"))
                               << "the signature file is not the four lines of a minisign signature";
    QTest::newRow("bad base64") << key << image << QByteArray(prehashed).replace("\nRU", "\n*U")
                                << "a signature line of the signature file is no base64 of the right length";
    // "RV" spells "ET".
    QTest::newRow("wrong algorithm tag") << key << image << QByteArray(prehashed).replace("\nRU", "\nRV")
                                         << "the signature's algorithm is neither ED nor Ed";
    QTest::newRow("trusted comment for another image name")
        << key << image << forOtherName
        << QString::fromUtf8("the trusted comment \"" + forOtherName.split('\n')[2].mid(17)
                             + "\" names another file than file:SX2100b0.dfu");
    QTest::newRow("trusted comment changed after signing")
        << key << image << QByteArray(forOtherName).replace("SX2100b1", "SX2100b0")
        << "the trusted comment was changed after signing";
    // A mistyped key must not turn the check off.
    QTest::newRow("a program key that is no minisign key")
        << "RWQ" << image << prehashed << "the program's public key RWQ is no minisign key";
}

void TestImageSignature::check()
{
    QFETCH(QString, keys);
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, signature);
    QFETCH(QString, problem);
    const Strobix::ImageSignature check(keys);
    QVERIFY(check.required());
    QCOMPARE(check.problem(image, signature, QStringLiteral("SX2100b0.dfu")), problem);
}

QTEST_GUILESS_MAIN(TestImageSignature)
#include "tst_imagesignature.moc"
