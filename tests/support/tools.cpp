#include "tools.h"

#include <QFile>
#include <QProcess>

ToolRun runTool(const QString &program, const QStringList &arguments, const QProcessEnvironment &env)
{
    const int limitMs = 120000; // a bound on hangs, not a speed target
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForStarted(limitMs) && !process.waitForFinished(limitMs))
        process.kill();
    process.waitForFinished(limitMs);
    ToolRun run;
    run.output = QString::fromLocal8Bit(process.readAll());
    if (process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart)
        run.exitCode = process.exitCode();
    return run;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QString minisignKey(const QString &dir)
{
    const ToolRun made = runTool(QStringLiteral("minisign"), {"-G", "-W", "-p", dir + "/minisign.pub", "-s", dir + "/minisign.key"});
    return made.exitCode == 0 ? QString::fromLatin1(readFile(dir + "/minisign.pub").split('\n').value(1)) : QString();
}

QByteArray minisignSign(const QString &dir, const QString &file, const QStringList &arguments)
{
    QFile::remove(file + ".minisig");
    runTool(QStringLiteral("minisign"), QStringList{"-S", "-s", dir + "/minisign.key", "-m", file} + arguments);
    return readFile(file + ".minisig");
}

QString buildFirmwareImages(const QString &script, const QString &images, const QString &broken)
{
    for (const QStringList &arguments : {QStringList{script, images}, QStringList{script, "--broken", broken}}) {
        const ToolRun made = runTool(QStringLiteral("bash"), arguments);
        if (made.exitCode != 0)
            return QStringLiteral("make-images.sh failed: ") + made.output;
    }
    return QString();
}
