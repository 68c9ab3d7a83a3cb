// The DfuSe reader on arbitrary files. Inputs not starting with 'X' get their
// suffix CRC made right first: almost every input would stop at the CRC
// otherwise, and the fuzzer would never reach the targets and elements.
#include "fuzzcheck.h"
#include "dfu/dfuseimage.h"

#include <QtEndian>

#include <cstddef>
#include <cstdint>

using Strobix::DfuseImage;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 1 << 20)
        return 0;
    QByteArray file(reinterpret_cast<const char *>(data), int(size));
    if (file.size() >= 4 && file.at(0) != 'X')
        qToLittleEndian(DfuseImage::crc(file.constData(), file.size() - 4), file.data() + file.size() - 4);

    DfuseImage image;
    if (!DfuseImage::read(file, &image).isEmpty()) {
        FUZZ_CHECK(image.elements.isEmpty(), "a refused file yields no elements");
        return 0;
    }
    // An accepted file is exactly its prefix, targets, elements and suffix.
    qint64 parts = 11 + 274 * quint8(file.at(10)) + 16;
    for (const DfuseImage::Element &element : image.elements) {
        parts += 8 + element.data.size();
        FUZZ_CHECK(file.contains(element.data), "every element's bytes come from the file");
    }
    FUZZ_CHECK(parts == file.size(), "an accepted file holds nothing but its parts");
    return 0;
}
