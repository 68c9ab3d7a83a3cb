#include "minisignkey.h"

#include "tools.h"

#include <QFile>

MinisignKey::MinisignKey(const QString &dir)
{
    const QString publicFile = dir + QStringLiteral("/minisign.pub");
    secretKeyFile = dir + QStringLiteral("/minisign.key");
    const ToolRun made = runTool(QStringLiteral("minisign"), {"-G", "-W", "-p", publicFile, "-s", secretKeyFile});
    const QList<QByteArray> lines = readFile(publicFile).split('\n');
    if (made.exitCode != 0 || lines.size() < 2)
        return;
    id = QString::fromLatin1(lines[0].split(' ').last());
    publicKey = QString::fromLatin1(lines[1]);
}

QByteArray MinisignKey::sign(const QString &file, const QStringList &arguments) const
{
    const QString signature = file + QStringLiteral(".minisig");
    QFile::remove(signature);
    const ToolRun signing = runTool(QStringLiteral("minisign"),
                                    QStringList{"-S", "-s", secretKeyFile, "-m", file} + arguments);
    return signing.exitCode == 0 ? readFile(signature) : QByteArray();
}
