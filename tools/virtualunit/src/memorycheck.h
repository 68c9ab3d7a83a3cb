#pragma once
// Comparing a unit's memory with what an installation should have left there.

#include "unitmemory.h"

#include "dfu/dfuseimage.h"

#include <string>
#include <vector>

namespace vu {

struct MemoryRange {
    int alt = 0;
    uint32_t start = 0;
    uint32_t length = 0;
};

// Ranges where two units of the same layout differ. Ranges closer than maxGap
// bytes are joined, for a listing a person can read.
std::vector<MemoryRange> changedRanges(const UnitMemory &a, const UnitMemory &b, uint32_t maxGap = 0);

struct ImageCheck {
    std::vector<std::string> problems;
    uint32_t erasedAround = 0; // bytes outside the elements, erased with their pages

    bool ok() const { return problems.empty(); }
};

// Every element must be in place. With a pristine copy of the unit, nothing else may
// have changed either, except that the rest of a page an element touches may read
// erased, since flash is erased a page at a time.
ImageCheck checkImage(const UnitMemory &unit, const Strobix::DfuseImage &image, const UnitMemory *pristine);

std::string describe(const MemoryRange &range);

} // namespace vu
