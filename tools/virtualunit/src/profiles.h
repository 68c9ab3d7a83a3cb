#pragma once
// The kinds of flash unit the virtual unit can be, one per firmware catalogue row
// plus a blank unit and one of a model no catalogue knows.

#include "layout.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vu {

class UnitMemory;

// Hardware generations differ in where they keep their identity, and in their
// microcontroller: X21 and X58 are of the F4 class, X33 and X7 of the L0/L1 class.
enum class Family {
    X21, // internal flash at 0x0800F800
    X58, // OTP at 0x1FFF7800
    X33, // data EEPROM at 0x08080080
    X7   // data EEPROM at 0x08080080, smaller flash
};

// Whether a family's flash comes in 16/64/128 KiB sectors (F4 class) rather than in
// 256-byte pages that erase to 0x00 (L0/L1 class).
bool hasSectors(Family family);

struct Profile {
    std::string name;        // "x21-canon"
    std::string description; // "X21 Canon"
    Family family;
    bool programmed;                 // false: nothing in flash, no identity
    std::array<uint8_t, 3> identity; // the three bytes that name the image
    bool hasRecord = true;           // false: the record was erased since, the unit lost its identity

    std::vector<AltSetting> altSettings() const;
    std::string serialNumber() const;
    // The unit of write protection in the internal flash: [start, end) of sector n,
    // an empty range past the last one.
    std::pair<uint32_t, uint32_t> flashSector(unsigned n) const;
    // Where the identity record lies: the alternate setting and the address.
    std::pair<int, uint32_t> identityPlace() const;
};

const std::vector<Profile> &allProfiles();
const Profile *findProfile(const std::string &name);

// Memory as the unit leaves the factory.
void writePristine(const Profile &profile, UnitMemory &memory);

constexpr uint32_t kIdentityFlashAddress = 0x0800F800;
constexpr uint32_t kIdentityOtpAddress = 0x1FFF7800;
constexpr uint32_t kIdentityEepromAddress = 0x08080080;

} // namespace vu
