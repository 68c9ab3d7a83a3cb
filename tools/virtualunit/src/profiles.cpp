#include "profiles.h"

#include "unitmemory.h"

#include <algorithm>
#include <cstdio>

namespace vu {

namespace {

struct AltTemplate {
    const char *name;
    Medium medium;
};

std::vector<AltTemplate> familyLayout(Family family)
{
    switch (family) {
    case Family::X21:
        return {{"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg", Medium::Flash},
                {"@Option Bytes  /0x1FFFC000/01*016 e", Medium::Eeprom},
                {"@Device Feature/0xFFFF0000/01*004 e", Medium::Eeprom}};
    case Family::X58:
        return {{"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg", Medium::Flash},
                {"@Option Bytes  /0x1FFFC000/01*016 e", Medium::Eeprom},
                {"@OTP Memory /0x1FFF7800/01*512 g,01*016 g", Medium::Otp},
                {"@Device Feature/0xFFFF0000/01*004 e", Medium::Eeprom}};
    case Family::X33:
        return {{"@Internal Flash  /0x08000000/1024*256 g", Medium::Flash},
                {"@Option Bytes  /0x1FF80000/01*032 e", Medium::Eeprom},
                {"@Data EEPROM /0x08080000/01*04Ke", Medium::Eeprom}};
    case Family::X7:
        return {{"@Internal Flash  /0x08000000/512*256 g", Medium::Flash},
                {"@Option Bytes  /0x1FF80000/01*032 e", Medium::Eeprom},
                {"@Data EEPROM /0x08080000/01*02Ke", Medium::Eeprom}};
    }
    return {};
}

Profile make(const char *name, const char *description, Family family, uint8_t a, uint8_t b, uint8_t c)
{
    return Profile{name, description, family, true, {a, b, c}};
}

// Deterministic filler, so that two units of one model start out identical.
class Filler {
public:
    explicit Filler(const std::string &key)
    {
        for (unsigned char ch : key)
            state = (state ^ ch) * 0x100000001b3ull;
    }
    uint8_t next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return static_cast<uint8_t>(z ^ (z >> 31));
    }
    void fill(uint8_t *p, size_t n)
    {
        std::generate(p, p + n, [this] { return next(); });
    }

private:
    uint64_t state = 0xcbf29ce484222325ull;
};

constexpr uint32_t kBootSize = 0x4000;       // the unit's loader in the first 16 KiB
constexpr uint32_t kFactoryAppSize = 0x3000; // the firmware the unit shipped with

int altHolding(const UnitMemory &memory, uint32_t address)
{
    const auto &alts = memory.altSettings();
    for (size_t i = 0; i < alts.size(); ++i) {
        if (alts[i].segmentAt(address))
            return static_cast<int>(i);
    }
    return -1;
}

void writeIdentity(const Profile &p, UnitMemory &memory)
{
    const uint8_t *id = p.identity.data();
    switch (p.family) {
    case Family::X21: {
        const uint8_t bytes[] = {id[0], id[1], id[2], 0x01};
        std::copy(std::begin(bytes), std::end(bytes), memory.raw(0, kIdentityFlashAddress));
        break;
    }
    case Family::X58: {
        // Model and variant first, the camera system after a few reserved cells.
        const uint8_t bytes[] = {id[0], id[1], 0x00, 0x00, 0x00, 0x00, id[2], 0x00};
        std::copy(std::begin(bytes), std::end(bytes),
                  memory.raw(altHolding(memory, kIdentityOtpAddress), kIdentityOtpAddress));
        break;
    }
    case Family::X33:
    case Family::X7: {
        const uint8_t bytes[] = {id[0], id[1], id[2], 0x01};
        std::copy(std::begin(bytes), std::end(bytes),
                  memory.raw(altHolding(memory, kIdentityEepromAddress), kIdentityEepromAddress));
        break;
    }
    }
}

} // namespace

std::vector<AltSetting> Profile::altSettings() const
{
    std::vector<AltSetting> alts;
    for (const AltTemplate &entry : familyLayout(family))
        alts.push_back(parseAltSetting(entry.name, entry.medium));
    return alts;
}

std::string Profile::serialNumber() const
{
    Filler filler("serial:" + name);
    char text[13];
    for (int i = 0; i < 6; ++i)
        std::snprintf(text + 2 * i, 3, "%02X", filler.next());
    return text;
}

const std::vector<Profile> &allProfiles()
{
    static const std::vector<Profile> profiles = {
        make("x21-canon", "X21 Canon", Family::X21, 0x21, 0x00, 0xb0),
        make("x21-nikon", "X21 Nikon", Family::X21, 0x21, 0x00, 0xb1),
        make("x21-olympus", "X21 Olympus", Family::X21, 0x21, 0x00, 0xb2),
        make("x21-sony", "X21 Sony", Family::X21, 0x21, 0x00, 0xb4),
        make("x21-fuji", "X21 Fuji", Family::X21, 0x21, 0x00, 0xb6),
        make("x33-canon", "X33 Canon", Family::X33, 0x33, 0x01, 0x90),
        make("x33-nikon", "X33 Nikon", Family::X33, 0x33, 0x01, 0x91),
        make("x33-olympus", "X33 Olympus", Family::X33, 0x33, 0x01, 0x92),
        make("x33-pentax", "X33 Pentax", Family::X33, 0x33, 0x01, 0x93),
        make("x33-sony", "X33 Sony", Family::X33, 0x33, 0x01, 0x94),
        make("x33-fuji", "X33 Fuji", Family::X33, 0x33, 0x01, 0x96),
        make("x58-canon", "X58 Canon", Family::X58, 0x58, 0x01, 0x70),
        make("x58-nikon", "X58 Nikon", Family::X58, 0x58, 0x01, 0x71),
        make("x58-olympus", "X58 Olympus", Family::X58, 0x58, 0x01, 0x72),
        make("x58-pentax", "X58 Pentax", Family::X58, 0x58, 0x01, 0x73),
        make("x58-sony", "X58 Sony", Family::X58, 0x58, 0x01, 0x74),
        make("x7", "X7", Family::X7, 0x07, 0x01, 0xa0),
        // No identity anywhere: what a unit looks like whose data was never written.
        Profile{"blank", "blank unit", Family::X33, false, {0, 0, 0}},
        // Identifies itself, but as a model that no catalogue lists.
        make("unknown", "unknown model", Family::X58, 0x65, 0x01, 0x70),
    };
    return profiles;
}

const Profile *findProfile(const std::string &name)
{
    for (const Profile &p : allProfiles()) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

void writePristine(const Profile &profile, UnitMemory &memory)
{
    const auto &alts = memory.altSettings();
    for (size_t i = 0; i < alts.size(); ++i) {
        const AltSetting &alt = alts[i];
        const int a = static_cast<int>(i);
        uint8_t *bytes = memory.raw(a, alt.base());
        // Erased flash and OTP read 0xFF, erased EEPROM reads 0x00.
        std::fill(bytes, bytes + alt.size(), alt.medium == Medium::Eeprom ? 0x00 : 0xFF);
        if (alt.medium == Medium::Flash && profile.programmed) {
            Filler filler("flash:" + profile.name);
            filler.fill(bytes, kBootSize + kFactoryAppSize);
        }
    }
    if (profile.programmed)
        writeIdentity(profile, memory);
}

} // namespace vu
