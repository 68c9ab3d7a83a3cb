// The signature check on files that the real minisign made with keys of this run.

#include "update/imagesignature.h"
#include "minisignkey.h"
#include "tools.h"

#include <QtTest>

using Strobix::ImageSignature;

namespace {

const QString name = QStringLiteral("SX2100b0.dfu");

QByteArray withLine(const QByteArray &signature, int index, const QByteArray &line)
{
    QList<QByteArray> lines = signature.split('\n');
    lines[index] = line;
    return lines.join('\n');
}

// The signature with one byte of its decoded second line (algorithm, key id, signature) replaced.
QByteArray withSignatureByte(const QByteArray &signature, int at, char value)
{
    QByteArray bytes = QByteArray::fromBase64(signature.split('\n').at(1));
    bytes[at] = value;
    return withLine(signature, 1, bytes.toBase64());
}

} // namespace

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

    QVERIFY(work.isValid() && QDir(work.path()).mkpath("old") && QDir(work.path()).mkpath("new"));
    const MinisignKey key(work.filePath("old"));
    const MinisignKey other(work.filePath("new"));
    QVERIFY(!key.publicKey.isEmpty() && !other.publicKey.isEmpty());
    const QByteArray image = QByteArray("an image, whatever its format ").repeated(100);
    QFile file(work.filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();
    QVERIFY(QFile::copy(file.fileName(), work.filePath("SX2100b1.dfu")));
    const QByteArray prehashed = key.sign(file.fileName());
    const QByteArray legacy = key.sign(file.fileName(), {"-l"});
    const QByteArray byOther = other.sign(file.fileName());
    const QByteArray forOtherName = key.sign(work.filePath("SX2100b1.dfu"));
    QVERIFY(prehashed.contains("\tfile:SX2100b0.dfu\thashed\n") && !legacy.isEmpty() && !byOther.isEmpty()
            && !forOtherName.isEmpty());
    QByteArray tampered = image;
    tampered[1000] = char(tampered[1000] ^ 1);
    const QString mismatch = "the signature by key " + key.id + " does not match the image";

    QTest::newRow("prehashed signature") << key.publicKey << image << prehashed << "";
    QTest::newRow("legacy signature") << key.publicKey << image << legacy << "";
    QTest::newRow("CRLF line ends") << key.publicKey << image << QByteArray(prehashed).replace("\n", "\r\n") << "";
    QTest::newRow("key list holding the old and the new key")
        << key.publicKey + ";" + other.publicKey << image << byOther << "";
    QTest::newRow("one byte of the image flipped") << key.publicKey << tampered << prehashed << mismatch;
    QTest::newRow("one byte of the image flipped, legacy") << key.publicKey << tampered << legacy << mismatch;
    QTest::newRow("one byte of the signature flipped")
        << key.publicKey << image << withSignatureByte(prehashed, 40, char(prehashed[40] ^ 1)) << mismatch;
    QByteArray underTrustedId = byOther;
    for (int i = 2; i < 10; ++i)
        underTrustedId = withSignatureByte(underTrustedId, i, QByteArray::fromBase64(prehashed.split('\n')[1])[i]);
    QTest::newRow("signed by another key under the trusted key's id")
        << key.publicKey << image << underTrustedId << mismatch;
    QTest::newRow("unknown key id") << key.publicKey << image << byOther
                                    << "signed with key " + other.id + ", which this program does not trust";
    QTest::newRow("cut short") << key.publicKey << image << prehashed.left(prehashed.indexOf("trusted comment"))
                               << "the signature file is not the four lines of a minisign signature";
    QTest::newRow("bad base64") << key.publicKey << image << withLine(prehashed, 1, "*" + prehashed.split('\n')[1].mid(1))
                                << "a signature line of the signature file is no base64 of the right length";
    QTest::newRow("wrong algorithm tag") << key.publicKey << image << withSignatureByte(prehashed, 1, 'X')
                                         << "the signature's algorithm is neither ED nor Ed";
    QTest::newRow("trusted comment for another image name")
        << key.publicKey << image << forOtherName
        << "the trusted comment \"" + forOtherName.split('\n')[2].mid(17) + "\" names another file than file:" + name;
    QTest::newRow("trusted comment changed after signing")
        << key.publicKey << image << withLine(forOtherName, 2, "trusted comment: file:" + name.toUtf8())
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
    const ImageSignature check(keys);
    QVERIFY(check.required());
    QCOMPARE(check.problem(image, signature, name), problem);
}

QTEST_GUILESS_MAIN(TestImageSignature)
#include "tst_imagesignature.moc"
