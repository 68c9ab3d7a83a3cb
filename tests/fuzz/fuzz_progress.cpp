// The install progress parser on arbitrary text. The first byte picks how the
// rest becomes text: 'U' UTF-16 code units (any, lone surrogates too), 'L'
// Latin-1; anything else means the whole input is UTF-8.
#include "fuzzcheck.h"
#include "update/firmwareupdater.h"

#include <cstddef>
#include <cstdint>

using Strobix::FirmwareUpdater;

namespace {

QString textFrom(const uint8_t *data, size_t size)
{
    const char *bytes = reinterpret_cast<const char *>(data);
    if (size > 0 && data[0] == 'U') {
        QString text((int(size) - 1) / 2, Qt::Uninitialized);
        for (int i = 0; i < text.size(); ++i)
            text[i] = QChar(ushort(data[1 + 2 * i] | data[2 + 2 * i] << 8));
        return text;
    }
    if (size > 0 && data[0] == 'L')
        return QString::fromLatin1(bytes + 1, int(size) - 1);
    return QString::fromUtf8(bytes, int(size));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const QString text = textFrom(data, size);
    const int value = FirmwareUpdater::progressIn(text);
    FUZZ_CHECK(isProgressValue(value), "progress is -1 or 0..100");

    // Only the last figure counts: text after it without a '%' (the byte count
    // that the tool prints after the bar) cannot change it.
    QString tail = text;
    tail.remove(QLatin1Char('%'));
    FUZZ_CHECK(FirmwareUpdater::progressIn(text + tail) == value,
               "text without '%' after the last figure leaves the progress alone");
    return 0;
}
