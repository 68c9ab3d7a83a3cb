#include "dfu/dfuutilotp.h"

#include "app/globals.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringList>

#include <algorithm>

namespace Strobix {

const char DfuUtilOtp::dumpFileName[] = "strobix.otp";
const char DfuUtilOtp::unwritableDump[] = "!";
const char DfuUtilOtp::unitWithoutDriver[] = "!driver";
const char DfuUtilOtp::unitAccessDenied[] = "!access";
const char DfuUtilOtp::unitInUse[] = "!busy";
const char DfuUtilOtp::severalUnits[] = "!several";

namespace {

const int shortRecordSize = 8;
const int longRecordSize = 256;

// The first `size` bytes of the dump, or an empty array when it is shorter.
QByteArray readDump(const QString &path, int size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray bytes = file.read(size);
    return bytes.size() == size ? bytes : QByteArray();
}

QString nameFromShortRecord(const QString &path, int offset, std::initializer_list<quint8> models)
{
    const QByteArray bytes = readDump(path, shortRecordSize);
    // An offset that leaves no room for three bytes cannot hold a record.
    if (bytes.isEmpty() || offset < 0 || offset > shortRecordSize - 3)
        return QString();
    const auto model = quint8(bytes[offset]);
    const auto third = quint8(bytes[offset + 2]);
    if (std::find(models.begin(), models.end(), model) == models.end() || third == 0)
        return QString();
    return DfuUtilOtp::imageName(model, quint8(bytes[offset + 1]), third);
}

} // namespace

QString DfuUtilOtp::imageName(quint8 model, quint8 second, quint8 third)
{
    return QStringLiteral("SX%1%2%3.dfu")
        .arg(model, 2, 16, QLatin1Char('0'))
        .arg(second, 2, 16, QLatin1Char('0'))
        .arg(third, 2, 16, QLatin1Char('0'));
}

QString DfuUtilOtp::nameFromFirstArea(const QString &dumpPath, int offset)
{
    return nameFromShortRecord(dumpPath, offset, {0x21});
}

QString DfuUtilOtp::nameFromThirdArea(const QString &dumpPath, int offset)
{
    return nameFromShortRecord(dumpPath, offset, {0x07, 0x33});
}

QString DfuUtilOtp::nameFromSecondArea(const QString &dumpPath, int offset)
{
    const QByteArray bytes = readDump(dumpPath, longRecordSize);
    if (bytes.isEmpty() || offset < 0 || offset > longRecordSize - 3)
        return QString();
    for (int i = offset + 2; i < longRecordSize; ++i) {
        if (bytes[i] != 0)
            return imageName(quint8(bytes[offset]), quint8(bytes[offset + 1]), quint8(bytes[i]));
    }
    return QString();
}

QString DfuUtilOtp::unreachableUnit(const QString &output)
{
    if (output.contains(QLatin1String("More than one DFU capable USB device found")))
        return QString::fromLatin1(severalUnits);
    if (output.contains(QLatin1String("Cannot claim interface - LIBUSB_ERROR_BUSY")))
        return QString::fromLatin1(unitInUse);
    // dfu-util names libusb's error when it cannot open a unit it sees.
    const QRegularExpression openFailure(QStringLiteral("Cannot open DFU device [^\\n]*\\((LIBUSB_ERROR_[A-Z_]+)\\)"));
    const QString error = openFailure.match(output).captured(1);
    // libusb on Windows: a unit without a WinUSB binding (no driver, another
    // vendor's) has no backend that can open it.
    if (error == QLatin1String("LIBUSB_ERROR_NOT_SUPPORTED"))
        return QString::fromLatin1(unitWithoutDriver);
    if (error == QLatin1String("LIBUSB_ERROR_ACCESS")) {
#ifdef Q_OS_WIN
        // Windows has no access rights on a unit: WinUSB refuses a second
        // handle, so the unit is held by another program.
        return QString::fromLatin1(unitInUse);
#else
        return QString::fromLatin1(unitAccessDenied);
#endif
    }
    return QString();
}

void DfuUtilOtp::process()
{
    emit result(identify());
}

QString DfuUtilOtp::identify(LogMode logMode)
{
    const QString dumpPath = dataFolder + QString::fromLatin1(dumpFileName);
    // What the tool printed, as it goes by in logOutput. A run that shows an
    // unusable unit ends the identification, so the runs before never do.
    QString output;
    const QMetaObject::Connection collect = connect(this, &DfuUtil::logOutput,
                                                     [&output](const QString &text) { output += text; });
    const auto stopCollecting = qScopeGuard([collect] { disconnect(collect); });

    using Rule = QString (*)(const QString &, int);
    const struct {
        int configuration;
        int alternate;
        const char *address;
        Rule rule;
    } areas[] = {
        {anyConfiguration, 0, "0x0800F800:8", nameFromFirstArea},
        {anyConfiguration, 2, "0x1FFF7800", nameFromSecondArea},
        {1, 2, "0x08080080:8", nameFromThirdArea},
    };
    for (const auto &area : areas) {
        // The tool refuses to upload into an existing file, so a dump left
        // there would be read as this run's: it must be gone before each read.
        QFile::remove(dumpPath);
        if (QFileInfo::exists(dumpPath))
            return QString::fromLatin1(unwritableDump);
        const QStringList arguments = unitSelection(area.configuration, area.alternate)
                                      << QStringLiteral("-s") << QString::fromLatin1(area.address)
                                      << QStringLiteral("-U") << dumpPath;
        if (!execute(arguments, nullptr, logMode))
            return QStringLiteral("?");
        const QString name = area.rule(dumpPath, 0);
        QFile::remove(dumpPath);
        if (!name.isEmpty())
            return name;
        const QString unreachable = unreachableUnit(output);
        if (!unreachable.isEmpty())
            return unreachable;
    }
    return QString();
}

} // namespace Strobix
