#include "fakedfucontrol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {
const char envName[] = "STROBIX_FAKE_DFU_DIR";
} // namespace

FakeDfuControl::FakeDfuControl(const QString &fakePath)
{
    qputenv(envName, QFile::encodeName(control.path()));
    // A link, not a copy: a freshly written executable can fail to start with
    // ETXTBSY while another thread forks.
    valid = work.isValid() && control.isValid() && QDir(work.path()).mkpath(QStringLiteral("dfu-util"))
            && QFile::link(QFileInfo(fakePath).absoluteFilePath(), toolPath());
}

FakeDfuControl::~FakeDfuControl()
{
    qunsetenv(envName);
}

void FakeDfuControl::setScript(int run, const QByteArray &script)
{
    writeScript(QStringLiteral("run%1.txt").arg(run), script);
}

void FakeDfuControl::setDefaultScript(const QByteArray &script)
{
    writeScript(QStringLiteral("default.txt"), script);
}

void FakeDfuControl::writeScript(const QString &name, const QByteArray &script)
{
    // Written whole and renamed in place, so a running tool never reads half.
    QSaveFile file(control.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(script) != script.size() || !file.commit())
        qWarning("FakeDfuControl: cannot write %s", qPrintable(name));
}

bool FakeDfuControl::isHeld(const QString &name) const
{
    return QFile::exists(control.filePath(name + QStringLiteral(".held")));
}

void FakeDfuControl::release(const QString &name)
{
    QFile file(control.filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        qWarning("FakeDfuControl: cannot release %s", qPrintable(name));
}

QList<QStringList> FakeDfuControl::calls() const
{
    QFile file(control.filePath(QStringLiteral("calls.txt")));
    QList<QStringList> result;
    if (!file.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            result << QString::fromUtf8(line).split(QChar(0x1f));
    }
    return result;
}

QStringList FakeDfuControl::identificationCall(int area, const QString &dump)
{
    switch (area) {
    case 1:
        return {"-d", "0483:df11", "-i", "0", "-a", "0", "-s", "0x0800F800:8", "-U", dump};
    case 2:
        return {"-d", "0483:df11", "-i", "0", "-a", "2", "-s", "0x1FFF7800", "-U", dump};
    default:
        return {"-d", "0483:df11", "-c", "1", "-i", "0", "-a", "2", "-s", "0x08080080:8", "-U", dump};
    }
}

QStringList FakeDfuControl::installCall(const QString &image)
{
    return {"-d", "0483:df11", "-c", "1", "-i", "0", "-a", "0", "-D", image};
}

QStringList FakeDfuControl::readBackCall(const QString &range, const QString &file, int alternate)
{
    return {"-d", "0483:df11", "-c", "1", "-i", "0", "-a", QString::number(alternate), "-s", range, "-U", file};
}
