#include "fakedfucontrol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QtGlobal>

namespace {
const char envName[] = "STROBIX_FAKE_DFU_DIR";
const char callsName[] = "calls.jsonl";
} // namespace

FakeDfuControl::FakeDfuControl(const QString &fakePath, const QString &baseDir)
{
    if (baseDir.isEmpty()) {
        m_ownWorkDir = std::make_unique<QTemporaryDir>();
        m_workDir = m_ownWorkDir->path();
    } else {
        m_workDir = QDir(baseDir).absolutePath();
    }
    m_hadEnv = qEnvironmentVariableIsSet(envName);
    m_previousEnv = qgetenv(envName);
    qputenv(envName, QFile::encodeName(controlDir()));

    const QString toolDir = m_workDir + QStringLiteral("/dfu-util");
    QDir().mkpath(toolDir);
    QFile::remove(toolPath());
    // A symlink, not a copy: a freshly written executable can fail to start
    // with ETXTBSY while another thread forks.
    const bool linked = QFile::link(QFileInfo(fakePath).absoluteFilePath(), toolPath())
                        || QFile::copy(fakePath, toolPath());
    m_valid = m_controlDir.isValid() && linked && QFileInfo(toolPath()).isExecutable();
    if (!m_valid)
        qWarning("FakeDfuControl: cannot set up the fake tool from %s", qPrintable(fakePath));
}

FakeDfuControl::~FakeDfuControl()
{
    if (m_hadEnv)
        qputenv(envName, m_previousEnv);
    else
        qunsetenv(envName);
}

QString FakeDfuControl::controlDir() const
{
    return m_controlDir.path();
}

QString FakeDfuControl::toolPath() const
{
    return m_workDir + QStringLiteral("/dfu-util/dfu-util.exe");
}

void FakeDfuControl::writeFile(const QString &name, const QByteArray &contents)
{
    // Written whole and renamed in place, so a running tool never reads half.
    QSaveFile file(controlDir() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()
        || !file.commit()) {
        qWarning("FakeDfuControl: cannot write %s", qPrintable(name));
    }
}

void FakeDfuControl::setScript(int run, const QByteArray &script)
{
    writeFile(QStringLiteral("run%1.txt").arg(run), script);
}

void FakeDfuControl::setDefaultScript(const QByteArray &script)
{
    writeFile(QStringLiteral("default.txt"), script);
}

QByteArray FakeDfuControl::callsFileContents() const
{
    QFile file(controlDir() + QLatin1Char('/') + QLatin1String(callsName));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QList<QStringList> FakeDfuControl::calls() const
{
    QList<QStringList> result;
    const QList<QByteArray> lines = callsFileContents().split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isArray()) {
            qWarning("FakeDfuControl: bad calls.jsonl line: %s", line.constData());
            result.append(QStringList{QStringLiteral("<unparsable>")});
            continue;
        }
        QStringList args;
        const QJsonArray array = doc.array();
        for (const QJsonValue &value : array)
            args.append(value.toString());
        result.append(args);
    }
    return result;
}

void FakeDfuControl::reset()
{
    QDir dir(controlDir());
    const QStringList names = dir.entryList(
        {QLatin1String(callsName), QStringLiteral("run*.txt"), QStringLiteral("default.txt")},
        QDir::Files);
    for (const QString &name : names)
        dir.remove(name);
}

QByteArray FakeDfuControl::escape(const QByteArray &raw)
{
    QByteArray result;
    result.reserve(raw.size());
    for (const char ch : raw) {
        const uchar c = uchar(ch);
        switch (c) {
        case '\\': result += "\\\\"; break;
        case '\n': result += "\\n"; break;
        case '\r': result += "\\r"; break;
        case '\t': result += "\\t"; break;
        case '\0': result += "\\0"; break;
        default:
            if (c < 0x20 || c >= 0x7f)
                result += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
            else
                result += ch;
        }
    }
    return result;
}

QByteArray FakeDfuControl::out(const QByteArray &raw)
{
    return "out " + escape(raw) + '\n';
}

QByteArray FakeDfuControl::err(const QByteArray &raw)
{
    return "err " + escape(raw) + '\n';
}

QByteArray FakeDfuControl::upload(const QByteArray &bytes)
{
    return "upload " + bytes.toHex() + '\n';
}

QByteArray FakeDfuControl::uploadAppend(const QByteArray &bytes)
{
    return "upload-append " + bytes.toHex() + '\n';
}

QByteArray FakeDfuControl::uploadFill(qint64 count, char byte)
{
    return "upload-fill " + QByteArray::number(count) + ' '
           + QByteArray(1, byte).toHex() + '\n';
}

QByteArray FakeDfuControl::pauseMs(int ms)
{
    return "pause " + QByteArray::number(ms) + '\n';
}

QByteArray FakeDfuControl::exitCode(int code)
{
    return "exit " + QByteArray::number(code) + '\n';
}

QByteArray FakeDfuControl::crash()
{
    return "crash\n";
}

QByteArray FakeDfuControl::abortTool()
{
    return "abort\n";
}

QByteArray FakeDfuControl::hang()
{
    return "hang\n";
}

QByteArray FakeDfuControl::flood(qint64 bytes, int chunk)
{
    return "flood " + QByteArray::number(bytes) + ' ' + QByteArray::number(chunk) + '\n';
}

QByteArray FakeDfuControl::ignoreSigterm()
{
    return "sigterm-ignore\n";
}
