#include "unitmemory.h"

#include <algorithm>

namespace vu {

UnitMemory::UnitMemory(std::vector<AltSetting> layout, uint8_t *storage)
    : alts(std::move(layout))
{
    for (const AltSetting &alt : alts) {
        bytes.push_back(storage);
        storage += alt.size();
    }
}

size_t UnitMemory::storageSize(const std::vector<AltSetting> &alts)
{
    size_t total = 0;
    for (const AltSetting &alt : alts)
        total += alt.size();
    return total;
}

uint8_t *UnitMemory::raw(int alt, uint32_t address)
{
    return bytes[static_cast<size_t>(alt)] + (address - alts[static_cast<size_t>(alt)].base());
}

const uint8_t *UnitMemory::raw(int alt, uint32_t address) const
{
    return const_cast<UnitMemory *>(this)->raw(alt, address);
}

bool UnitMemory::allowed(int alt, uint32_t address, uint32_t length, unsigned access) const
{
    if (!hasAlt(alt))
        return false;
    const AltSetting &a = alts[static_cast<size_t>(alt)];
    // 64 bits: a range may run past 4 GiB when a host sends nonsense.
    const uint64_t end = uint64_t(address) + length;
    for (uint64_t at = address; at < end;) {
        const Segment *s = a.segmentAt(static_cast<uint32_t>(at));
        if (!s || (s->access & access) != access)
            return false;
        at = s->end();
    }
    return true;
}

bool UnitMemory::writeProtected(int alt, uint32_t address) const
{
    for (const auto &range : guard.writeProtected) {
        if (alt == 0 && address >= range.first && address < range.second)
            return true;
    }
    return false;
}

DfuStatus UnitMemory::read(int alt, uint32_t address, uint8_t *out, uint32_t length, uint32_t &got) const
{
    got = 0;
    if (guard.read)
        return errVENDOR;
    if (!allowed(alt, address, 1, Readable))
        return errTARGET;
    const AltSetting &a = alts[static_cast<size_t>(alt)];
    uint32_t readable = 0;
    for (const Segment *s = a.segmentAt(address); s && (s->access & Readable) && readable < length;
         s = a.segmentAt(s->end()))
        readable = s->end() - address;
    got = std::min(length, readable);
    std::copy_n(raw(alt, address), got, out);
    return OK;
}

DfuStatus UnitMemory::program(int alt, uint32_t address, const uint8_t *data, uint32_t length)
{
    if (guard.read)
        return errVENDOR;
    if (!allowed(alt, address, length, Writable))
        return errADDRESS;
    uint8_t *cells = raw(alt, address);
    const AltSetting &a = alts[static_cast<size_t>(alt)];
    if (a.medium == Medium::Eeprom || a.medium == Medium::OptionBytes) {
        std::copy_n(data, length, cells);
    } else if (a.erased == 0xFF) {
        // A programmed cell can only lose bits; only an erase brings them back.
        for (uint32_t i = 0; i < length; ++i)
            cells[i] &= data[i];
    } else {
        // Flash that erases to zero can only gain them.
        for (uint32_t i = 0; i < length; ++i)
            cells[i] |= data[i];
    }
    return OK;
}

DfuStatus UnitMemory::erasePage(int alt, uint32_t address)
{
    if (guard.read)
        return errVENDOR;
    if (!allowed(alt, address, 1, Erasable))
        return errTARGET;
    const AltSetting &a = alts[static_cast<size_t>(alt)];
    if (a.medium != Medium::Flash)
        return errERASE;
    // The part reports no error for a protected sector; it just leaves it.
    if (writeProtected(alt, address))
        return OK;
    const Segment *s = a.segmentAt(address);
    const uint32_t page = s->start + (address - s->start) / s->pageSize * s->pageSize;
    std::fill_n(raw(alt, page), s->pageSize, a.erased);
    return OK;
}

DfuStatus UnitMemory::massErase(int alt)
{
    if (guard.read)
        return errVENDOR;
    if (!hasAlt(alt) || alts[static_cast<size_t>(alt)].medium != Medium::Flash)
        return errTARGET;
    bool any = false;
    for (const Segment &s : alts[static_cast<size_t>(alt)].segments) {
        for (uint32_t page = s.start; (s.access & Erasable) && page < s.end(); page += s.pageSize) {
            erasePage(alt, page);
            any = true;
        }
    }
    return any ? OK : errTARGET;
}

void UnitMemory::readUnprotect()
{
    guard.read = false;
    massErase(0);
}

} // namespace vu
