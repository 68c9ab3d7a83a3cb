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

#include <cstddef>
#include <cstdint>
#include <cstring>

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

// A name names the record: the model byte at the offset, and for the 8-byte
// records only the models of that area.
void check(const QString &path, const QByteArray &dump, int offset)
{
    const QString first = DfuUtilOtp::nameFromFirstArea(path, offset);
    const QString second = DfuUtilOtp::nameFromSecondArea(path, offset);
    const QString third = DfuUtilOtp::nameFromThirdArea(path, offset);
    for (const QString &name : {first, second, third}) {
        FUZZ_CHECK(name.isEmpty() || isImageName(name), "a name is empty or SX + six hex digits + .dfu");
        FUZZ_CHECK(name.isEmpty() || name.midRef(2, 2).toInt(nullptr, 16) == uint8_t(dump.at(offset)),
                   "the name's model byte is the record's");
    }
    FUZZ_CHECK(first.isEmpty() || first.startsWith(QLatin1String("SX21")), "first area: X21 only");
    FUZZ_CHECK(third.isEmpty() || third.startsWith(QLatin1String("SX07")) || third.startsWith(QLatin1String("SX33")),
               "third area: X7 and X33 only");
    FUZZ_CHECK(second.isEmpty() == (dump.size() < 256 || offset < 0 || offset > 253
                                    || dump.mid(offset + 2, 254 - offset).count('\0') == 254 - offset),
               "second area: a name for every 256-byte dump with a non-zero byte after the record's first two");
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
