#include "dfu/dfuutilinstaller.h"

#include "app/globals.h"
#include "dfu/dfuseimage.h"
#include "dfu/dfuutilotp.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStringList>

namespace Strobix {

const char DfuUtilInstaller::readBackFileName[] = "strobix.verify";

namespace {

// The identification answers that say it could not read the unit, each with
// what stopped it.
const struct {
    const char *answer;
    const char *reason;
} unanswered[] = {
    {"?", "dfu-util did not start or crashed"},
    {DfuUtilOtp::unwritableDump, "the identification dump could not be written"},
    {DfuUtilOtp::unitWithoutDriver, "dfu-util found the unit but could not open it without a WinUSB driver"},
    {DfuUtilOtp::unitAccessDenied, "dfu-util found the unit but was denied access to it"},
    {DfuUtilOtp::unitInUse, "another program holds the unit"},
    {DfuUtilOtp::severalUnits, "more than one device in update mode is connected"},
};

// The log's line for an identification after the write that differs from before.
QString changedIdentity(const QString &after, const QString &before)
{
    for (const auto &failed : unanswered) {
        if (after == QLatin1String(failed.answer))
            return QStringLiteral("The unit could not be identified again after the write: %1.")
                .arg(QLatin1String(failed.reason));
    }
    return QStringLiteral("The unit no longer identifies as before: %1 after the write, %2 before.")
        .arg(after.isEmpty() ? QStringLiteral("nothing") : after, before);
}

} // namespace

DfuUtilInstaller::DfuUtilInstaller(const QString &imagePath)
    : imagePath(imagePath)
{
}

bool DfuUtilInstaller::clearReadBackFile()
{
    const QString path = dataFolder + QString::fromLatin1(readBackFileName);
    QFile::remove(path);
    return !QFileInfo::exists(path);
}

void DfuUtilInstaller::process()
{
    const QStringList arguments = unitSelection(1, 0) << QStringLiteral("-D") << imagePath;
    // Exit code 0 too: dfu-util can show a full bar for one element and then
    // fail on the next one before it prints another figure.
    int exitCode = -1;
    bool ok = execute(arguments, &exitCode) && exitCode == 0;
    if (ok) {
        // Their progress is no install progress: the dialog stays at 100.
        const QSignalBlocker quiet(this);
        ok = unitHoldsImage() && identifiesAsBefore();
    }
    emit result(ok);
}

// An image can erase the record that names the unit (an element in the
// record's sector) and still read back whole; no later update could then find
// the unit's image. The image's file name is the name the unit had.
bool DfuUtilInstaller::identifiesAsBefore()
{
    const QString before = QFileInfo(imagePath).fileName();
    DfuUtilOtp identification;
    const QString after = identification.identify(AppendToLog);
    if (after == before)
        return true;
    QFile log(dataFolder + QString::fromLatin1(logFileName));
    if (log.open(QIODevice::Append))
        log.write(QStringLiteral("\n%1\n").arg(changedIdentity(after, before)).toUtf8());
    return false;
}

// A write-protected sector keeps its old bytes, and neither the unit nor
// dfu-util report an error: only reading the image back shows what landed.
bool DfuUtilInstaller::unitHoldsImage()
{
    QFile file(imagePath);
    DfuseImage image;
    if (!file.open(QIODevice::ReadOnly) || !DfuseImage::read(file.readAll(), &image).isEmpty())
        return false;
    for (const DfuseImage::Element &element : image.elements) {
        // The unit places an upload's blocks by the request's length, so a short
        // last block would come from the wrong address: whole transfers first,
        // then the rest as a read of its own.
        const int whole = element.data.size() / transferSize * transferSize;
        if (!unitHolds(element.alternate, element.address, element.data.left(whole))
            || !unitHolds(element.alternate, element.address + quint32(whole), element.data.mid(whole)))
            return false;
    }
    return true;
}

bool DfuUtilInstaller::unitHolds(quint8 alternate, quint32 address, const QByteArray &expected)
{
    if (expected.isEmpty())
        return true;
    const QString readPath = dataFolder + QString::fromLatin1(readBackFileName);
    const QStringList arguments = unitSelection(1, alternate)
                                  << QStringLiteral("-s")
                                  << QStringLiteral("0x%1:%2").arg(address, 8, 16, QLatin1Char('0')).arg(expected.size())
                                  << QStringLiteral("-U") << readPath;
    int exitCode = -1;
    // The tool refuses to upload into an existing file.
    const bool read = clearReadBackFile() && execute(arguments, &exitCode, AppendToLog) && exitCode == 0;
    QFile back(readPath);
    const bool same = read && back.open(QIODevice::ReadOnly) && back.readAll() == expected;
    back.close();
    QFile::remove(readPath);
    return same;
}

} // namespace Strobix
