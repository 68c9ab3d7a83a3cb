#ifndef STROBIX_IMAGESIGNATURE_H
#define STROBIX_IMAGESIGNATURE_H

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Strobix {

// Checks the maker's signature of an image: a minisign signature file
// (`minisign -Sm SX2100b0.dfu` writes SX2100b0.dfu.minisig), prehashed ("ED")
// or legacy ("Ed"), whose trusted comment names the image file.
class ImageSignature
{
public:
    static const char fileSuffix[];

    // keyList: public keys as `minisign -P` takes them, separated by ';'.
    explicit ImageSignature(const QString &keyList);

    // Whether images need a signature: some key is given, also one that
    // does not parse, so that a mistyped key refuses every image.
    bool required() const { return !keys.isEmpty() || !keyProblem.isEmpty(); }

    // Why `signature` does not show that `image` is the maker's file named
    // fileName; an empty string when it does.
    QString problem(const QByteArray &image, const QByteArray &signature, const QString &fileName) const;

    // The same for the files on disk; a missing signature file is a problem too.
    QString problemWithFiles(const QString &imagePath, const QString &signaturePath) const;

private:
    struct Key
    {
        QByteArray id;
        QByteArray publicKey;
    };

    const Key *keyWithId(const QByteArray &id) const;

    QVector<Key> keys;
    QString keyProblem;
};

} // namespace Strobix

#endif
