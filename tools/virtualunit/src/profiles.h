#pragma once
// The kinds of flash unit the virtual unit can be, one per firmware catalogue row
// plus a blank unit and one of a model no catalogue knows.

#include "layout.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vu {

class UnitMemory;

// Hardware generations differ in where they keep their identity.
enum class Family {
    X21, // internal flash at 0x0800F800
    X58, // OTP at 0x1FFF7800
    X33, // data EEPROM at 0x08080080
    X7   // data EEPROM at 0x08080080, smaller flash
};

struct Profile {
    std::string name;        // "x21-canon"
    std::string description; // "X21 Canon"
    Family family;
    bool programmed;                 // false: nothing in flash, no identity
    std::array<uint8_t, 3> identity; // the three bytes that name the image

    std::vector<AltSetting> altSettings() const;
    std::string serialNumber() const;
};

const std::vector<Profile> &allProfiles();
const Profile *findProfile(const std::string &name);

// Memory as the unit leaves the factory.
void writePristine(const Profile &profile, UnitMemory &memory);

constexpr uint32_t kIdentityFlashAddress = 0x0800F800;
constexpr uint32_t kIdentityOtpAddress = 0x1FFF7800;
constexpr uint32_t kIdentityEepromAddress = 0x08080080;

} // namespace vu
