#include "memorycheck.h"

#include <cstdio>

namespace vu {

namespace {

using Strobix::DfuseImage;

bool inElement(const DfuseImage &image, int alt, uint32_t address)
{
    for (const DfuseImage::Element &e : image.elements) {
        if (e.alternate == alt && address >= e.address && address - e.address < uint32_t(e.data.size()))
            return true;
    }
    return false;
}

// Whether the erase page holding address overlaps an element.
bool pageTouched(const UnitMemory &unit, const DfuseImage &image, int alt, uint32_t address)
{
    const Segment *s = unit.altSettings()[size_t(alt)].segmentAt(address);
    if (!s || !(s->access & Erasable))
        return false;
    const uint64_t page = s->start + uint64_t(address - s->start) / s->pageSize * s->pageSize;
    for (const DfuseImage::Element &e : image.elements) {
        if (e.alternate == alt && e.address < page + s->pageSize && e.address + uint64_t(e.data.size()) > page)
            return true;
    }
    return false;
}

void checkElements(const UnitMemory &unit, const DfuseImage &image, ImageCheck &check)
{
    for (const DfuseImage::Element &e : image.elements) {
        const MemoryRange range{e.alternate, e.address, static_cast<uint32_t>(e.data.size())};
        const auto &alts = unit.altSettings();
        if (!unit.hasAlt(e.alternate) || !alts[e.alternate].segmentAt(e.address)
            || !alts[e.alternate].segmentAt(e.address + range.length - 1)) {
            check.problems.push_back("element " + describe(range) + " lies outside the unit's memory");
            continue;
        }
        const uint8_t *cells = unit.raw(e.alternate, e.address);
        for (uint32_t i = 0; i < range.length; ++i) {
            if (cells[i] != uint8_t(e.data[int(i)])) {
                char at[16];
                std::snprintf(at, sizeof at, "0x%08x", e.address + i);
                check.problems.push_back("element " + describe(range) + " differs first at " + at);
                break;
            }
        }
    }
}

} // namespace

std::string describe(const MemoryRange &range)
{
    char text[80];
    std::snprintf(text, sizeof text, "alt %d 0x%08x..0x%08x (%u bytes)", range.alt, range.start,
                  range.start + range.length - 1, range.length);
    return text;
}

std::vector<MemoryRange> changedRanges(const UnitMemory &a, const UnitMemory &b, uint32_t maxGap)
{
    std::vector<MemoryRange> ranges;
    for (size_t i = 0; i < a.altSettings().size(); ++i) {
        const AltSetting &alt = a.altSettings()[i];
        const int n = static_cast<int>(i);
        const uint8_t *x = a.raw(n, alt.base());
        const uint8_t *y = b.raw(n, alt.base());
        for (uint32_t off = 0; off < alt.size(); ++off) {
            if (x[off] == y[off])
                continue;
            const uint32_t address = alt.base() + off;
            MemoryRange *last = ranges.empty() ? nullptr : &ranges.back();
            if (last && last->alt == n && address - (last->start + last->length) <= maxGap)
                last->length = address - last->start + 1;
            else
                ranges.push_back({n, address, 1});
        }
    }
    return ranges;
}

ImageCheck checkImage(const UnitMemory &unit, const DfuseImage &image, const UnitMemory *pristine)
{
    ImageCheck check;
    checkElements(unit, image, check);
    if (!pristine)
        return check;
    for (const MemoryRange &range : changedRanges(*pristine, unit)) {
        MemoryRange stray{range.alt, 0, 0};
        for (uint32_t address = range.start; address - range.start < range.length; ++address) {
            if (inElement(image, range.alt, address))
                continue;
            const uint8_t erased = unit.altSettings()[size_t(range.alt)].erased;
            if (*unit.raw(range.alt, address) == erased && pageTouched(unit, image, range.alt, address)) {
                ++check.erasedAround;
                continue;
            }
            if (stray.length == 0)
                stray.start = address;
            ++stray.length;
        }
        if (stray.length)
            check.problems.push_back("changed outside the image: " + std::to_string(stray.length)
                                     + " bytes in " + describe(range));
    }
    return check;
}

} // namespace vu
