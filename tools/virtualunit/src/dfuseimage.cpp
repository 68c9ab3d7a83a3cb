#include "dfuseimage.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace vu {

namespace {

constexpr size_t kPrefixSize = 11;
constexpr size_t kTargetSize = 274;
constexpr size_t kSuffixSize = 16;

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Walks the bytes between prefix and suffix, refusing to run past them.
class Reader {
public:
    Reader(const uint8_t *begin, const uint8_t *end) : at_(begin), end_(end) {}
    const uint8_t *take(size_t n)
    {
        if (size_t(end_ - at_) < n)
            throw std::runtime_error("DfuSe image is truncated");
        const uint8_t *p = at_;
        at_ += n;
        return p;
    }

private:
    const uint8_t *at_;
    const uint8_t *end_;
};

} // namespace

uint32_t dfuCrc(const uint8_t *data, size_t size)
{
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc;
}

DfuseImage DfuseImage::parse(const std::vector<uint8_t> &bytes)
{
    if (bytes.size() < kPrefixSize + kSuffixSize || std::memcmp(bytes.data(), "DfuSe", 5) != 0)
        throw std::runtime_error("not a DfuSe image");
    const uint8_t *suffix = bytes.data() + bytes.size() - kSuffixSize;
    if (std::memcmp(suffix + 8, "UFD", 3) != 0 || suffix[11] != kSuffixSize)
        throw std::runtime_error("DfuSe image without a DFU suffix");
    DfuseImage image;
    image.product = le16(suffix + 2);
    image.vendor = le16(suffix + 4);
    image.crcValid = dfuCrc(bytes.data(), bytes.size() - 4) == le32(suffix + 12);

    Reader reader(bytes.data(), suffix);
    const uint8_t *prefix = reader.take(kPrefixSize);
    for (int t = 0; t < prefix[10]; ++t) {
        const uint8_t *target = reader.take(kTargetSize);
        if (std::memcmp(target, "Target", 6) != 0)
            throw std::runtime_error("DfuSe image has a bad target signature");
        const uint32_t count = le32(target + 270);
        for (uint32_t e = 0; e < count; ++e) {
            const uint8_t *header = reader.take(8);
            DfuseElement element;
            element.alt = target[6];
            element.address = le32(header);
            const uint32_t size = le32(header + 4);
            const uint8_t *data = reader.take(size);
            element.data.assign(data, data + size);
            image.elements.push_back(std::move(element));
        }
    }
    return image;
}

DfuseImage DfuseImage::load(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parse(bytes);
}

} // namespace vu
