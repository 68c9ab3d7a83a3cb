// The three identification rules on arbitrary dumps and offsets. Input: four
// bytes of offset (little-endian, signed), then the dump. Each input is written
// to one file once; every rule reads it with the fuzzed offset and with 0, the
// offset the updater uses.
#include "fuzzcheck.h"
#include "dfu/dfuutilotp.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

using Strobix::DfuUtilOtp;

namespace {

bool isImageName(const QString &name)
{
    if (name.size() != 12 || !name.startsWith(QLatin1String("SX")) || !name.endsWith(QLatin1String(".dfu")))
        return false;
    for (int i = 2; i < 8; ++i) {
        const QChar c = name.at(i);
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

QString expectedName(const QByteArray &record, int at, int third)
{
    return QString::asprintf("SX%02x%02x%02x.dfu", unsigned(uint8_t(record[at])),
                             unsigned(uint8_t(record[at + 1])), unsigned(third));
}

// What the rules are meant to answer, written independently of them: an
// 8-byte record of a listed model with a non-zero third byte ...
QString expectedShort(const QByteArray &dump, int offset, std::initializer_list<int> models)
{
    if (dump.size() < 8 || offset < 0 || offset > 5)
        return QString();
    const int model = uint8_t(dump[offset]);
    const int third = uint8_t(dump[offset + 2]);
    if (std::find(models.begin(), models.end(), model) == models.end() || third == 0)
        return QString();
    return expectedName(dump, offset, third);
}

// ... or a 256-byte area whose third byte is the first non-zero one after the first two.
QString expectedLong(const QByteArray &dump, int offset)
{
    if (dump.size() < 256 || offset < 0 || offset > 253)
        return QString();
    for (int i = offset + 2; i < 256; ++i) {
        if (dump[i] != 0)
            return expectedName(dump, offset, uint8_t(dump[i]));
    }
    return QString();
}

void check(const QString &path, const QByteArray &dump, int offset)
{
    const QString first = DfuUtilOtp::nameFromFirstArea(path, offset);
    const QString second = DfuUtilOtp::nameFromSecondArea(path, offset);
    const QString third = DfuUtilOtp::nameFromThirdArea(path, offset);
    for (const QString &name : {first, second, third})
        FUZZ_CHECK(name.isEmpty() || isImageName(name), "a name is empty or SX + six hex digits + .dfu");
    FUZZ_CHECK(first == expectedShort(dump, offset, {0x21}), "first area rule");
    FUZZ_CHECK(second == expectedLong(dump, offset), "second area rule");
    FUZZ_CHECK(third == expectedShort(dump, offset, {0x07, 0x33}), "third area rule");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A disk file cut to nothing and written anew is flushed on every close
    // (ext4): tmpfs runs some twenty times as many inputs.
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/strobix-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/strobix-fuzz-XXXXXX"));
    static const QString path = dir.filePath(QStringLiteral("strobix.otp"));
    if (size > 4096)
        return 0;

    int32_t offset = 0;
    if (size >= sizeof offset) {
        std::memcpy(&offset, data, sizeof offset);
        data += sizeof offset;
        size -= sizeof offset;
    }
    const QByteArray dump(reinterpret_cast<const char *>(data), int(size));
    QFile file(path);
    FUZZ_CHECK(dir.isValid() && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                   && file.write(dump) == dump.size(),
               "the dump file can be written");
    file.close();

    check(path, dump, offset);
    if (offset != 0)
        check(path, dump, 0);
    return 0;
}
