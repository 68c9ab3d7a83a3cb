#pragma once
// Memory layout of one alternate setting, as its name announces it to the host.

#include <cstdint>
#include <string>
#include <vector>

namespace vu {

// Access bits of a segment, the low three bits of its type letter ('a'..'g').
enum Access : unsigned { Readable = 1, Erasable = 2, Writable = 4 };

// How the cells behave when programmed.
enum class Medium {
    Flash,      // programming moves bits away from the erased value only; erased page by page
    Otp,        // like flash, but never erasable
    Eeprom,     // bytes are overwritten as they are
    OptionBytes // overwritten, and writing them resets the unit
};

struct Segment {
    uint32_t start = 0;
    uint32_t pageSize = 0;
    uint32_t pageCount = 0;
    unsigned access = 0;

    uint32_t size() const { return pageSize * pageCount; }
    uint32_t end() const { return start + size(); } // one past the last byte
    bool contains(uint32_t address) const { return address >= start && address < end(); }
};

struct AltSetting {
    std::string name; // "@Internal Flash  /0x08000000/04*016Kg,..."
    Medium medium = Medium::Flash;
    uint8_t erased = 0xFF; // what an erased flash or OTP cell reads
    std::vector<Segment> segments;

    uint32_t base() const { return segments.front().start; }
    uint32_t size() const { return segments.back().end() - base(); }
    const Segment *segmentAt(uint32_t address) const;
};

// Reads the layout out of an alternate setting's name. Throws std::invalid_argument
// on a name the host could not use either.
AltSetting parseAltSetting(const std::string &name, Medium medium, uint8_t erased = 0xFF);

} // namespace vu
