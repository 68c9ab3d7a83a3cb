#include "profiles.h"

#include "unitmemory.h"

#include <algorithm>
#include <cstdio>

namespace vu {

namespace {

struct AltTemplate {
    const char *name;
    Medium medium;
    uint8_t erased;
};

// As public dfu-util listings of F4 and L0/L1 bootloaders show them.
std::vector<AltTemplate> familyLayout(Family family)
{
    const AltTemplate f4Options{"@Option Bytes  /0x1FFFC000/01*016 e", Medium::OptionBytes, 0xFF};
    const AltTemplate f4Otp{"@OTP Memory /0x1FFF7800/01*512 e,01*016 e", Medium::Otp, 0xFF};
    const AltTemplate f4Feature{"@Device Feature/0xFFFF0000/01*004 e", Medium::Eeprom, 0xFF};
    const AltTemplate l1Options{"@Option Bytes  /0x1FF80000/01*032 e", Medium::OptionBytes, 0x00};
    switch (family) {
    case Family::X21:
        return {{"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,03*128Kg", Medium::Flash, 0xFF},
                f4Options, f4Otp, f4Feature};
    case Family::X58:
        return {{"@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg", Medium::Flash, 0xFF},
                f4Options, f4Otp, f4Feature};
    case Family::X33:
        return {{"@Internal Flash  /0x08000000/1024*256 g", Medium::Flash, 0x00},
                l1Options, {"@Data EEPROM /0x08080000/01*04Ke", Medium::Eeprom, 0x00}};
    case Family::X7:
        return {{"@Internal Flash  /0x08000000/512*256 g", Medium::Flash, 0x00},
                l1Options, {"@Data EEPROM /0x08080000/01*02Ke", Medium::Eeprom, 0x00}};
    }
    return {};
}

// Factory option bytes: read protection level 0 (RDP 0xAA), no sector write-protected,
// each half-word followed by its complement. Only RDP and the write protection bits
// are taken from the data sheets; the other user bits are plausible defaults.
std::vector<uint8_t> factoryOptionBytes(Family family)
{
    if (hasSectors(family))
        return {0xEC, 0xAA, 0x13, 0x55, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<uint8_t> bytes = {0xAA, 0x00, 0x55, 0xFF, 0x78, 0x00, 0x87, 0xFF};
    while (bytes.size() < 32)
        bytes.insert(bytes.end(), {0x00, 0x00, 0xFF, 0xFF}); // no write protection
    return bytes;
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

void writeIdentity(const Profile &p, UnitMemory &memory)
{
    const uint8_t *id = p.identity.data();
    const auto place = p.identityPlace();
    // X58: model and variant first, the camera system after a few reserved cells.
    const std::vector<uint8_t> bytes = p.family == Family::X58
        ? std::vector<uint8_t>{id[0], id[1], 0x00, 0x00, 0x00, 0x00, id[2], 0x00}
        : std::vector<uint8_t>{id[0], id[1], id[2], 0x01};
    std::copy(bytes.begin(), bytes.end(), memory.raw(place.first, place.second));
}

} // namespace

bool hasSectors(Family family)
{
    return family == Family::X21 || family == Family::X58;
}

std::vector<AltSetting> Profile::altSettings() const
{
    std::vector<AltSetting> alts;
    for (const AltTemplate &entry : familyLayout(family))
        alts.push_back(parseAltSetting(entry.name, entry.medium, entry.erased));
    return alts;
}

std::pair<int, uint32_t> Profile::identityPlace() const
{
    const uint32_t address = family == Family::X21 ? kIdentityFlashAddress
        : family == Family::X58                    ? kIdentityOtpAddress
                                                   : kIdentityEepromAddress;
    const auto alts = altSettings();
    for (size_t i = 0; i < alts.size(); ++i) {
        if (alts[i].segmentAt(address))
            return {int(i), address};
    }
    return {-1, address};
}

std::pair<uint32_t, uint32_t> Profile::flashSector(unsigned n) const
{
    const AltSetting flash = altSettings().front();
    // L0/L1 parts protect 4 KiB sectors of sixteen pages.
    const uint32_t l1Sector = 4096;
    if (!hasSectors(family)) {
        const uint64_t start = flash.base() + uint64_t(n) * l1Sector;
        return start < flash.base() + flash.size() ? std::make_pair(uint32_t(start), uint32_t(start + l1Sector))
                                                   : std::make_pair(0u, 0u);
    }
    for (const Segment &s : flash.segments) {
        if (n < s.pageCount)
            return {s.start + n * s.pageSize, s.start + (n + 1) * s.pageSize};
        n -= s.pageCount;
    }
    return {0, 0};
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
        // An X21 after an image that erased the sector of its record.
        Profile{"x21-wiped", "X21, record wiped", Family::X21, true, {0x21, 0x00, 0xb0}, false},
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
        // Erased flash and OTP read their erased value, erased EEPROM reads 0x00.
        std::fill(bytes, bytes + alt.size(), alt.medium == Medium::Eeprom ? 0x00 : alt.erased);
        if (alt.medium == Medium::OptionBytes) {
            const auto options = factoryOptionBytes(profile.family);
            std::copy(options.begin(), options.end(), bytes);
        }
        if (alt.medium == Medium::Flash && profile.programmed) {
            Filler filler("flash:" + profile.name);
            filler.fill(bytes, kBootSize + kFactoryAppSize);
        }
    }
    if (profile.programmed && profile.hasRecord)
        writeIdentity(profile, memory);
}

} // namespace vu
