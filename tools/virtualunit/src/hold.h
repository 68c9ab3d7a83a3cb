#pragma once
// A point where the unit waits for a test, so that the test can act while the
// host tool is surely in mid-install: "block:N:PATH" before programming data
// block N (from 1), "erase:N:PATH" before the Nth erase. Arriving there, the unit
// creates PATH.held; it goes on once PATH exists.

#include <string>

namespace vu {

struct Hold {
    enum Kind { None, Block, Erase };
    Kind kind = None;
    unsigned n = 0;
    std::string path;

    // Throws std::invalid_argument.
    static Hold parse(const std::string &text);
    // Waits if COUNT of KIND is this point. A test that never releases it must
    // fail, not hang: after 60 s the unit says so and ends the host tool.
    void at(Kind reached, unsigned count) const;
};

} // namespace vu
