#include "hold.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace vu {

Hold Hold::parse(const std::string &text)
{
    const size_t first = text.find(':');
    const size_t second = text.find(':', first == std::string::npos ? first : first + 1);
    const std::string word = text.substr(0, first);
    Hold hold;
    hold.kind = word == "block" ? Block : word == "erase" ? Erase : None;
    if (hold.kind != None && second != std::string::npos && second + 1 < text.size()) {
        const std::string count = text.substr(first + 1, second - first - 1);
        char *end = nullptr;
        hold.n = unsigned(std::strtoul(count.c_str(), &end, 10));
        hold.path = text.substr(second + 1);
        if (!count.empty() && count[0] != '-' && *end == '\0' && hold.n > 0)
            return hold;
    }
    throw std::invalid_argument("bad STROBIX_VU_HOLD '" + text + "' (block:N:PATH or erase:N:PATH)");
}

void Hold::at(Kind reached, unsigned count) const
{
    if (reached != kind || count != n)
        return;
    std::ofstream(path + ".held");
    for (int i = 0; i < 6000; ++i) {
        if (std::ifstream(path))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::fprintf(stderr, "virtual unit: the hold before %s %u was never released (no %s after 60 s)\n",
                 kind == Block ? "block" : "erase", n, path.c_str());
    std::_Exit(98);
}

} // namespace vu
