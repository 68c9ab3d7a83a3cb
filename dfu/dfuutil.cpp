#include "dfu/dfuutil.h"

#include "app/globals.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <cstring>

namespace Strobix {

const char dfuDeviceId[] = "0483:df11";
const char DfuUtil::programPath[] = "dfu-util/dfu-util.exe";
const char DfuUtil::logFileName[] = "dfu-util.log";

namespace {

// SIGKILL ends a tool at once, unless a USB request holds it in the kernel,
// for at most dfu-util's 5 s a request. One that outlives this still ends
// the run: QProcess's destructor waits once more, as long as its default.
const int killTimeoutMs = 10000;

// dfu-util must never die while it writes the unit. A closed pipe (the updater
// was killed) gives it EPIPE on its output instead. Ctrl-C and a closed
// terminal reach the whole process group, a logout every process of the
// session: the updater handles them as a close and waits for the tool. An
// ignored signal stays ignored across exec, and dfu-util sets no handlers of
// its own; QProcess resets SIGPIPE in the child before this runs. SIGKILL
// still ends a hung tool. The tool stays in the updater's group and session:
// ignoring covers every sender, also one that ends a login by its cgroup.
class ToolProcess : public QProcess
{
protected:
    void setupChildProcess() override
    {
#ifdef Q_OS_UNIX
        for (int number : {SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM})
            ::signal(number, SIG_IGN);
#endif
    }
};

// How the tool is started: by its relative path, in our working folder, with
// the arguments as they are; on Windows by its full path, in the data folder.
void startTool(QProcess &process, const QStringList &arguments)
{
#ifdef Q_OS_WIN
    // dfu-util.exe gets its arguments in the ANSI code page, which cannot spell
    // every user's profile folder (such as "山田" on code page 1252): it would look
    // for another folder. So it runs in the data folder and gets the bare names of
    // our own files there. 8.3 short paths would not do: the dump does not exist
    // before the upload, and a volume may have no short names at all.
    QStringList toolArguments;
    for (const QString &argument : arguments)
        toolArguments << (argument.startsWith(dataFolder) ? argument.mid(dataFolder.size()) : argument);
    process.setWorkingDirectory(dataFolder);
    // Beside the program, where Windows looked first for the relative path.
    process.start(QCoreApplication::applicationDirPath() + QLatin1Char('/') + QString::fromLatin1(DfuUtil::programPath),
                  toolArguments, QIODevice::ReadOnly);
#else
    process.start(QString::fromLatin1(DfuUtil::programPath), arguments, QIODevice::ReadOnly);
#endif
}

} // namespace

QString DfuUtil::chunkToText(const QByteArray &chunk)
{
    const char *data = chunk.constData();
    const void *nul = std::memchr(data, '\0', size_t(chunk.size()));
    const int length = nul ? int(static_cast<const char *>(nul) - data) : chunk.size();
    return QString::fromUtf8(data, length);
}

QStringList DfuUtil::unitSelection(int configuration, int alternate)
{
    QStringList arguments{QStringLiteral("-d"), QString::fromLatin1(dfuDeviceId)};
    if (configuration != anyConfiguration)
        arguments << QStringLiteral("-c") << QString::number(configuration);
    arguments << QStringLiteral("-i") << QStringLiteral("0") << QStringLiteral("-a") << QString::number(alternate);
    return arguments;
}

bool DfuUtil::execute(const QStringList &arguments, int *exitCode, LogMode logMode)
{
    if (exitCode)
        *exitCode = -1;
    ToolProcess process;
    process.setReadChannel(QProcess::StandardOutput);
    process.setProcessChannelMode(QProcess::MergedChannels);
    startTool(process, arguments);
    if (!process.waitForStarted(startTimeoutMs))
        return false;

    // A log that cannot be written must not stop the run: the output still
    // reaches the user through logOutput.
    QFile log(dataFolder + QString::fromLatin1(logFileName));
    log.open(logMode == AppendToLog ? QIODevice::Append : QIODevice::WriteOnly);

    auto forward = [&](const QByteArray &chunk) {
        emit logOutput(chunkToText(chunk));
        log.write(chunk);
    };
    while (process.state() != QProcess::NotRunning
           && process.waitForReadyRead(silenceTimeoutMs)) {
        forward(process.readAll());
    }
    // Output that arrived together with the tool's end is read by QProcess while
    // it reaps the tool; without this the final "100%" could be lost.
    const QByteArray tail = process.readAll();
    if (!tail.isEmpty())
        forward(tail);
    log.close();

    const bool ok = process.exitStatus() == QProcess::NormalExit;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(killTimeoutMs);
    } else if (ok && exitCode) {
        *exitCode = process.exitCode();
    }
    return ok;
}

void DfuUtil::process()
{
}

} // namespace Strobix
