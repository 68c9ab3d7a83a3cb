// A chunk of tool output as text, and that text through the progress parser,
// as DfuUtil::execute() and FirmwareUpdater::log() do with every chunk.
#include "fuzzcheck.h"
#include "dfu/dfuutil.h"
#include "update/firmwareupdater.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 16)
        return 0;
    const QByteArray chunk(reinterpret_cast<const char *>(data), int(size));
    const QString text = Strobix::DfuUtil::chunkToText(chunk);

    FUZZ_CHECK(!text.contains(QChar(0)), "no U+0000 in the text");
    int length = 0;
    while (length < chunk.size() && chunk.at(length) != '\0')
        ++length;
    FUZZ_CHECK(text == QString::fromUtf8(chunk.constData(), length),
               "the text is the UTF-8 decoding of the bytes before the first NUL");

    FUZZ_CHECK(isProgressValue(Strobix::FirmwareUpdater::progressIn(text)),
               "progress is -1 or 0..100");
    return 0;
}
