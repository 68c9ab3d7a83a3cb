#pragma once
// The unit's memories, one address space per alternate setting, with the physics of
// the cells: flash is programmed by clearing bits and erased page by page.

#include "dfu.h"
#include "layout.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace vu {

// What the unit refuses, by its option bytes or by a fault.
struct Protection {
    bool read = false; // read protection level 1: no read, erase or write at all
    // [start, end) ranges of the internal flash (alternate setting 0) whose erase
    // does nothing, without an error.
    std::vector<std::pair<uint32_t, uint32_t>> writeProtected;
};

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

    void setProtection(const Protection &protection) { guard = protection; }
    // What the read unprotect command does: a mass erase of the internal flash, then
    // no read protection.
    void readUnprotect();

    // Direct access without the access rules, for setting up and inspecting.
    uint8_t *raw(int alt, uint32_t address);
    const uint8_t *raw(int alt, uint32_t address) const;

private:
    bool allowed(int alt, uint32_t address, uint32_t length, unsigned access) const;
    bool writeProtected(int alt, uint32_t address) const;

    std::vector<AltSetting> alts;
    std::vector<uint8_t *> bytes;
    Protection guard;
};

} // namespace vu
