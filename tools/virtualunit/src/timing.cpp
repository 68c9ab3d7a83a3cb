#include "timing.h"

#include <cstdlib>
#include <cstring>

namespace vu {

namespace {

// Typical values of the data sheets, in µs. F4 class at 32-bit parallelism: erasing
// a sector of up to 16, 64 and 128 KiB, a mass erase, programming a 32-bit word.
constexpr uint64_t f4Erase[] = {250000, 550000, 1000000};
constexpr uint64_t f4MassErase = 8000000, f4ProgramWord = 16;
// The F4 part reports 100 ms for a mass erase, whatever it takes.
constexpr uint32_t f4MassErasePoll = 100;
// L0/L1 class: a 256-byte page is erased or programmed, an EEPROM word written, in about this.
constexpr uint64_t l1PageOrWord = 3280;
constexpr uint32_t l1Page = 256;
// USB full speed: a request costs a 1 ms frame, its data about 1 ms a KiB.
constexpr uint64_t busFrame = 1000, busPerKiB = 1000;
// The quick figures: never exactly 100 on a mass erase, which dfu-util would stretch to 35 s.
constexpr uint32_t quickCommand = 1, quickErase = 2, quickMassErase = 20;

} // namespace

Timing Timing::fromEnvironment(Family family)
{
    Timing t;
    const char *timing = std::getenv("STROBIX_VU_TIMING");
    t.datasheet = timing && std::strcmp(timing, "datasheet") == 0;
    t.sectors = hasSectors(family);
    const char *value = std::getenv("STROBIX_VU_PROGRAM_MS");
    const long ms = value ? std::strtol(value, nullptr, 10) : 0;
    if (ms > 0 && ms < 10000)
        t.programMs = uint32_t(ms);
    return t;
}

Busy Timing::taking(uint64_t micros) const
{
    return {uint32_t((micros + 999) / 1000), micros};
}

Busy Timing::command() const
{
    return {quickCommand, 0};
}

Busy Timing::erase(const AltSetting &, uint32_t pageSize) const
{
    if (!datasheet)
        return {quickErase, 0};
    if (!sectors)
        return taking(l1PageOrWord * ((pageSize + l1Page - 1) / l1Page));
    return taking(f4Erase[pageSize <= 16 * 1024 ? 0 : pageSize <= 64 * 1024 ? 1 : 2]);
}

Busy Timing::massErase(const AltSetting &alt) const
{
    if (!datasheet)
        return {quickMassErase, 0};
    if (sectors)
        return {f4MassErasePoll, f4MassErase};
    return taking(l1PageOrWord * (alt.size() / l1Page));
}

Busy Timing::program(const AltSetting &alt, uint32_t bytes) const
{
    if (!datasheet)
        return {programMs, 0};
    if (sectors)
        return taking(f4ProgramWord * ((bytes + 3) / 4));
    if (alt.medium == Medium::Flash)
        return taking(l1PageOrWord * ((bytes + l1Page - 1) / l1Page));
    return taking(l1PageOrWord * ((bytes + 3) / 4));
}

uint64_t Timing::transferMicros(uint32_t bytes) const
{
    return datasheet ? busFrame + busPerKiB * bytes / 1024 : 0;
}

} // namespace vu
