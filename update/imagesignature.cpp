#include "update/imagesignature.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QtEndian>

#include <cstring>

#include <sodium.h>

namespace Strobix {

const char ImageSignature::fileSuffix[] = ".minisig";

namespace {

// A public key and a signature start with the algorithm and the key id.
const int algorithmSize = 2;
const int keyIdSize = 8;
// Four short lines; more is no signature file but a server's page.
const qint64 largestSignatureFile = 16 * 1024;
const char untrustedPrefix[] = "untrusted comment: ";
const char trustedPrefix[] = "trusted comment: ";

// Strict base64 of exactly size bytes, else a null array.
QByteArray decoded(const QByteArray &text, int size)
{
    const auto result = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    return result && result.decoded.size() == size ? result.decoded : QByteArray();
}

// As minisign names a key: the little-endian id as 16 upper-case hex digits,
// leading zeros kept, so the text matches the id in the key file.
QString keyIdText(const QByteArray &id)
{
    return QStringLiteral("%1").arg(qFromLittleEndian<quint64>(id.constData()), 16, 16, QLatin1Char('0')).toUpper();
}

bool verifies(const QByteArray &signature, const QByteArray &message, const QByteArray &publicKey)
{
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char *>(signature.constData()),
                                       reinterpret_cast<const unsigned char *>(message.constData()),
                                       quint64(message.size()),
                                       reinterpret_cast<const unsigned char *>(publicKey.constData()))
           == 0;
}

// The file's four lines without their line ends ("\n", or "\r\n" after a
// checkout on Windows, both of which minisign takes); empty if it has not four.
QList<QByteArray> fourLines(const QByteArray &file)
{
    QList<QByteArray> lines = file.split('\n');
    if (lines.size() == 5 && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return lines.size() == 4 ? lines : QList<QByteArray>();
}

} // namespace

ImageSignature::ImageSignature(const QString &keyList)
{
    for (const QString &text : keyList.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QByteArray key = decoded(text.trimmed().toLatin1(), algorithmSize + keyIdSize + crypto_sign_PUBLICKEYBYTES);
        if (key.startsWith("Ed"))
            keys.append({key.mid(algorithmSize, keyIdSize), key.mid(algorithmSize + keyIdSize)});
        else
            keyProblem = QStringLiteral("the program's public key %1 is no minisign key").arg(text);
    }
}

const ImageSignature::Key *ImageSignature::keyWithId(const QByteArray &id) const
{
    for (const Key &key : keys) {
        if (key.id == id)
            return &key;
    }
    return nullptr;
}

QString ImageSignature::problem(const QByteArray &image, const QByteArray &signature, const QString &fileName) const
{
    if (!keyProblem.isEmpty())
        return keyProblem;
    if (sodium_init() < 0)
        return QStringLiteral("libsodium does not start");
    const QList<QByteArray> lines = signature.size() > largestSignatureFile ? QList<QByteArray>() : fourLines(signature);
    if (lines.isEmpty() || !lines[0].startsWith(untrustedPrefix) || !lines[2].startsWith(trustedPrefix))
        return QStringLiteral("the signature file is not the four lines of a minisign signature");
    const QByteArray signatureLine = decoded(lines[1], algorithmSize + keyIdSize + crypto_sign_BYTES);
    const QByteArray globalSignature = decoded(lines[3], crypto_sign_BYTES);
    if (signatureLine.isNull() || globalSignature.isNull())
        return QStringLiteral("a signature line of the signature file is no base64 of the right length");
    const QByteArray algorithm = signatureLine.left(algorithmSize);
    if (algorithm != "ED" && algorithm != "Ed")
        return QStringLiteral("the signature's algorithm is neither ED nor Ed");

    const QByteArray id = signatureLine.mid(algorithmSize, keyIdSize);
    const Key *key = keyWithId(id);
    if (!key)
        return QStringLiteral("signed with key %1, which this program does not trust").arg(keyIdText(id));
    const QByteArray signatureBytes = signatureLine.mid(algorithmSize + keyIdSize);
    // ED signs the file's BLAKE2b-512 hash, the legacy Ed the file itself.
    QByteArray message = image;
    if (algorithm == "ED") {
        message = QByteArray(crypto_generichash_BYTES_MAX, '\0');
        crypto_generichash(reinterpret_cast<unsigned char *>(message.data()), size_t(message.size()),
                           reinterpret_cast<const unsigned char *>(image.constData()), quint64(image.size()),
                           nullptr, 0);
    }
    if (!verifies(signatureBytes, message, key->publicKey))
        return QStringLiteral("the signature by key %1 does not match the image").arg(keyIdText(id));

    // The trusted comment counts only once its own signature holds.
    const QByteArray comment = lines[2].mid(int(std::strlen(trustedPrefix)));
    if (!verifies(globalSignature, signatureBytes + comment, key->publicKey))
        return QStringLiteral("the trusted comment was changed after signing");
    // The name is signed too: a signature of one model's image cannot pass for another's.
    if (!comment.split('\t').contains("file:" + fileName.toUtf8()))
        return QStringLiteral("the trusted comment \"%1\" names another file than file:%2")
            .arg(QString::fromUtf8(comment), fileName);
    return QString();
}

QString ImageSignature::problemWithFiles(const QString &imagePath, const QString &signaturePath) const
{
    QFile signature(signaturePath);
    if (!signature.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 did not arrive from the server").arg(QFileInfo(signaturePath).fileName());
    QFile image(imagePath);
    if (!image.open(QIODevice::ReadOnly))
        return QStringLiteral("the image cannot be read back: %1").arg(image.errorString());
    return problem(image.readAll(), signature.read(largestSignatureFile + 1), QFileInfo(imagePath).fileName());
}

} // namespace Strobix
