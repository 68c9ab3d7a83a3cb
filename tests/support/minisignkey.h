#ifndef STROBIX_TESTS_MINISIGNKEY_H
#define STROBIX_TESTS_MINISIGNKEY_H

#include <QString>
#include <QStringList>

// A throwaway key pair made by the real minisign, and signatures made with it.
struct MinisignKey
{
    // Makes the pair in dir (which must exist). Empty members: minisign failed.
    explicit MinisignKey(const QString &dir);

    // Signs the file with `minisign -S` and these further arguments (-l: legacy,
    // -t: the trusted comment); the .minisig file's bytes, empty on failure.
    QByteArray sign(const QString &file, const QStringList &arguments = {}) const;

    QString publicKey; // the text that `minisign -P` takes
    QString id;        // as minisign shows it
    QString secretKeyFile;
};

#endif
