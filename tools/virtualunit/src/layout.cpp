#include "layout.h"

#include <cstdlib>
#include <stdexcept>

namespace vu {

const Segment *AltSetting::segmentAt(uint32_t address) const
{
    for (const Segment &s : segments) {
        if (s.contains(address))
            return &s;
    }
    return nullptr;
}

namespace {

[[noreturn]] void bad(const std::string &name, const char *why)
{
    throw std::invalid_argument("bad alternate setting name \"" + name + "\": " + why);
}

uint32_t multiplier(char c)
{
    switch (c) {
    case 'K': return 1024;
    case 'M': return 1024 * 1024;
    default: return 1; // 'B' or a blank: bytes, as the host reads it
    }
}

// One "NN*SSSut" item; advances pos past it.
Segment parseSegment(const std::string &name, size_t &pos, uint32_t start)
{
    char *end = nullptr;
    const unsigned long count = std::strtoul(name.c_str() + pos, &end, 10);
    if (*end != '*')
        bad(name, "expected '*'");
    const unsigned long size = std::strtoul(end + 1, &end, 10);
    if (end[0] == '\0' || end[1] < 'a' || end[1] > 'g')
        bad(name, "expected a unit and a type letter");
    Segment s;
    s.start = start;
    s.pageCount = static_cast<uint32_t>(count);
    s.pageSize = static_cast<uint32_t>(size) * multiplier(end[0]);
    s.access = static_cast<unsigned>(end[1]) & 7u;
    if (s.pageCount == 0 || s.pageSize == 0)
        bad(name, "empty segment");
    pos = static_cast<size_t>(end + 2 - name.c_str());
    return s;
}

} // namespace

AltSetting parseAltSetting(const std::string &name, Medium medium, uint8_t erased)
{
    AltSetting alt;
    alt.name = name;
    alt.medium = medium;
    alt.erased = erased;
    size_t pos = name.find("/0x");
    if (name.empty() || name[0] != '@' || pos == std::string::npos)
        bad(name, "expected '@name/0xADDRESS/'");
    char *end = nullptr;
    uint32_t address = static_cast<uint32_t>(std::strtoul(name.c_str() + pos + 3, &end, 16));
    if (*end != '/')
        bad(name, "expected '/' after the address");
    pos = static_cast<size_t>(end + 1 - name.c_str());
    for (;;) {
        alt.segments.push_back(parseSegment(name, pos, address));
        address = alt.segments.back().end();
        if (pos >= name.size())
            break;
        if (name[pos] != ',')
            bad(name, "one address block per alternate setting is supported");
        ++pos;
    }
    return alt;
}

} // namespace vu
