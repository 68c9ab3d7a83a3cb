#pragma once
// The unit's memories, one address space per alternate setting, with the physics of
// the cells: flash is programmed by clearing bits and erased page by page.

#include "dfu.h"
#include "layout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vu {

class UnitMemory {
public:
    // storage holds the bytes of every alternate setting back to back; it must
    // outlive this object and be storageSize(alts) long.
    UnitMemory(std::vector<AltSetting> alts, uint8_t *storage);

    static size_t storageSize(const std::vector<AltSetting> &alts);

    const std::vector<AltSetting> &altSettings() const { return alts; }
    bool hasAlt(int alt) const { return alt >= 0 && alt < static_cast<int>(alts.size()); }

    // Reads up to length bytes; stops early at the end of the readable memory.
    DfuStatus read(int alt, uint32_t address, uint8_t *out, uint32_t length, uint32_t &got) const;
    DfuStatus program(int alt, uint32_t address, const uint8_t *data, uint32_t length);
    DfuStatus erasePage(int alt, uint32_t address);
    DfuStatus massErase(int alt);

    // Direct access without the access rules, for setting up and inspecting.
    uint8_t *raw(int alt, uint32_t address);
    const uint8_t *raw(int alt, uint32_t address) const;

private:
    bool allowed(int alt, uint32_t address, uint32_t length, unsigned access) const;

    std::vector<AltSetting> alts;
    std::vector<uint8_t *> bytes;
};

} // namespace vu
