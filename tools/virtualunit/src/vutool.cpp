// vu-tool: sets up and inspects the memory of a virtual flash unit.

#include "memorycheck.h"
#include "statefile.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace vu;

namespace {

using Args = std::vector<std::string>;

const char kUsage[] =
    "usage: vu-tool models\n"
    "       vu-tool init STATE MODEL              create STATE as a pristine unit\n"
    "       vu-tool info STATE                    model and memory layout\n"
    "       vu-tool read STATE ADDR LEN [OUT]     hex dump, or raw bytes into OUT\n"
    "       vu-tool write STATE ADDR HEXBYTES     set bytes, bypassing the unit's rules\n"
    "       vu-tool diff STATE_A STATE_B          list the ranges that differ (exit 1 if any;\n"
    "                                             gaps under 64 bytes are not split)\n"
    "       vu-tool compare STATE IMAGE.dfu [PRISTINE_STATE]\n"
    "              check that the image's elements are in place and, given the unit's\n"
    "              state before the installation, that nothing else changed (exit 1 if not)\n";

uint32_t number(const std::string &text)
{
    char *end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0')
        throw std::runtime_error("not a number: " + text);
    return static_cast<uint32_t>(value);
}

// The alternate setting whose memory holds [address, address + length).
int altHolding(const UnitMemory &memory, uint32_t address, uint32_t length)
{
    const auto &alts = memory.altSettings();
    for (size_t i = 0; i < alts.size(); ++i) {
        if (address >= alts[i].base() && uint64_t(address) + length <= uint64_t(alts[i].base()) + alts[i].size())
            return static_cast<int>(i);
    }
    throw std::runtime_error("range is not inside one memory of the unit");
}

int models(const Args &)
{
    for (const Profile &p : allProfiles())
        std::printf("%-12s %s\n", p.name.c_str(), p.description.c_str());
    return 0;
}

int init(const Args &a)
{
    StateFile::create(a.at(0), a.at(1));
    return 0;
}

int info(const Args &a)
{
    const auto state = StateFile::openExisting(a.at(0));
    std::printf("model: %s (%s)\nserial: %s\n", state->profile().name.c_str(),
                state->profile().description.c_str(), state->profile().serialNumber().c_str());
    const auto &alts = state->memory().altSettings();
    for (size_t i = 0; i < alts.size(); ++i)
        std::printf("alt %zu: %s\n", i, alts[i].name.c_str());
    return 0;
}

int read(const Args &a)
{
    const auto state = StateFile::openExisting(a.at(0));
    const uint32_t address = number(a.at(1));
    const uint32_t length = number(a.at(2));
    const uint8_t *bytes = state->memory().raw(altHolding(state->memory(), address, length), address);
    if (a.size() > 3) {
        std::ofstream out(a[3], std::ios::binary);
        out.write(reinterpret_cast<const char *>(bytes), length);
        return out ? 0 : 1;
    }
    for (uint32_t i = 0; i < length; ++i) {
        if (i % 16 == 0)
            std::printf(i ? "\n%08x " : "%08x ", address + i);
        std::printf(" %02x", bytes[i]);
    }
    if (length)
        std::printf("\n");
    return 0;
}

int write(const Args &a)
{
    const auto state = StateFile::openExisting(a.at(0));
    const uint32_t address = number(a.at(1));
    const std::string &hex = a.at(2);
    if (hex.size() % 2)
        throw std::runtime_error("odd number of hex digits");
    const auto length = static_cast<uint32_t>(hex.size() / 2);
    uint8_t *bytes = state->memory().raw(altHolding(state->memory(), address, length), address);
    for (uint32_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(number("0x" + hex.substr(2 * i, 2)));
    return 0;
}

int diff(const Args &a)
{
    const auto first = StateFile::openExisting(a.at(0));
    const auto second = StateFile::openExisting(a.at(1));
    if (first->profile().family != second->profile().family)
        throw std::runtime_error("the two units have different memory layouts");
    const auto ranges = changedRanges(first->memory(), second->memory(), 64);
    for (const MemoryRange &r : ranges)
        std::printf("%s\n", describe(r).c_str());
    return ranges.empty() ? 0 : 1;
}

Strobix::DfuseImage loadImage(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Strobix::DfuseImage image;
    const QString problem = Strobix::DfuseImage::read(QByteArray::fromStdString(bytes), &image);
    if (!problem.isEmpty())
        throw std::runtime_error(path + ": " + problem.toStdString());
    return image;
}

int compare(const Args &a)
{
    const auto state = StateFile::openExisting(a.at(0));
    const Strobix::DfuseImage image = loadImage(a.at(1));
    std::unique_ptr<StateFile> pristine;
    if (a.size() > 2) {
        pristine = StateFile::openExisting(a[2]);
        if (pristine->profile().family != state->profile().family)
            throw std::runtime_error("the pristine unit has a different memory layout");
    }
    const ImageCheck check = checkImage(state->memory(), image, pristine ? &pristine->memory() : nullptr);
    for (const Strobix::DfuseImage::Element &e : image.elements)
        std::printf("element %s\n", describe({e.alternate, e.address, uint32_t(e.data.size())}).c_str());
    if (pristine)
        std::printf("erased with their pages: %u bytes\n", check.erasedAround);
    for (const std::string &problem : check.problems)
        std::printf("MISMATCH: %s\n", problem.c_str());
    std::printf("%s\n", check.ok() ? "OK" : "FAILED");
    return check.ok() ? 0 : 1;
}

struct Command {
    std::function<int(const Args &)> run;
    size_t minArgs;
    size_t maxArgs;
};

} // namespace

int main(int argc, char **argv)
{
    const std::map<std::string, Command> commands = {
        {"models", {models, 0, 0}}, {"init", {init, 2, 2}},   {"info", {info, 1, 1}},
        {"read", {read, 3, 4}},     {"write", {write, 3, 3}}, {"diff", {diff, 2, 2}},
        {"compare", {compare, 2, 3}},
    };
    const auto found = argc > 1 ? commands.find(argv[1]) : commands.end();
    const Args args(argv + std::min(argc, 2), argv + argc);
    if (found == commands.end() || args.size() < found->second.minArgs || args.size() > found->second.maxArgs) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    try {
        return found->second.run(args);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vu-tool: %s\n", e.what());
        return 2;
    }
}
