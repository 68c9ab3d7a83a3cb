#pragma once
// How long the unit takes over its work: the poll timeout it reports and the time
// it stays busy.

#include "layout.h"
#include "profiles.h"

#include <cstdint>

namespace vu {

struct Busy {
    uint32_t pollMs = 0;  // bwPollTimeout: how long the host is told to wait
    uint64_t micros = 0;  // how long the work really takes
};

class Timing {
public:
    // STROBIX_VU_TIMING=datasheet: the typical figures of the family's data sheet, and
    // the USB bus at full speed. Otherwise short poll times that cost the host little,
    // with STROBIX_VU_PROGRAM_MS for programming, to watch the progress.
    static Timing fromEnvironment(Family family);

    Busy command() const;
    Busy erase(const AltSetting &alt, uint32_t pageSize) const;
    Busy massErase(const AltSetting &alt) const;
    Busy program(const AltSetting &alt, uint32_t bytes) const;
    // One control transfer of that many data bytes on the bus.
    uint64_t transferMicros(uint32_t bytes) const;

private:
    Busy taking(uint64_t micros) const;

    bool datasheet = false;
    bool sectors = true; // F4 class; else L0/L1
    uint32_t programMs = 1;
};

} // namespace vu
