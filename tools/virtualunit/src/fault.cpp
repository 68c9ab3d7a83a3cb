#include "fault.h"

#include <cstdlib>
#include <stdexcept>

namespace vu {

namespace {

struct Name {
    const char *text;
    Fault::Kind kind;
    bool takesCount;
    bool needsCount;
};

const Name kNames[] = {
    {"none", Fault::None, false, false},
    {"absent", Fault::Absent, false, false},
    {"program-fail", Fault::ProgramFail, true, true},
    {"status-fail-after-last", Fault::StatusFailAfterLast, false, false},
    {"stop-answering", Fault::StopAnswering, true, false},
    {"unplug", Fault::Unplug, true, false},
    {"read-protected", Fault::ReadProtected, false, false},
    {"write-protected", Fault::WriteProtected, true, true},
    {"no-access", Fault::NoAccess, false, false},
    {"no-driver", Fault::NoDriver, false, false},
    {"busy", Fault::Busy, false, false},
    {"two-units", Fault::TwoUnits, false, false},
};

} // namespace

Fault Fault::parse(const std::string &text)
{
    const size_t colon = text.find(':');
    const std::string word = text.substr(0, colon);
    for (const Name &name : kNames) {
        if (word != name.text)
            continue;
        Fault fault;
        fault.kind = name.kind;
        if (colon == std::string::npos) {
            if (name.needsCount)
                break;
            return fault;
        }
        const std::string count = text.substr(colon + 1);
        char *end = nullptr;
        const unsigned long n = std::strtoul(count.c_str(), &end, 10);
        if (!name.takesCount || count.empty() || *end != '\0' || count[0] == '-')
            break;
        if (fault.kind == ProgramFail && n == 0)
            break; // blocks are counted from 1
        fault.n = static_cast<unsigned>(n);
        return fault;
    }
    throw std::invalid_argument("unknown fault '" + text + "'");
}

} // namespace vu
