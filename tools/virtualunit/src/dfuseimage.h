#pragma once
// Reading a DfuSe image (prefix, targets with their elements, DFU suffix).

#include <cstdint>
#include <string>
#include <vector>

namespace vu {

struct DfuseElement {
    int alt = 0;
    uint32_t address = 0;
    std::vector<uint8_t> data;
};

struct DfuseImage {
    uint16_t vendor = 0;
    uint16_t product = 0;
    bool crcValid = false;
    std::vector<DfuseElement> elements;

    // Throw std::runtime_error on a file that is not a DfuSe image.
    static DfuseImage load(const std::string &path);
    static DfuseImage parse(const std::vector<uint8_t> &bytes);
};

// The DFU suffix's CRC: reflected CRC-32 without the final inversion.
uint32_t dfuCrc(const uint8_t *data, size_t size);

} // namespace vu
