#pragma once
// The unit's memory kept in a file and mapped (MappedFile), so that whatever a host
// writes is on disk at once: the host may exit without ever saying goodbye.
//
// Layout: a 4 KiB header ("STRBXVU1", the profile name), then the bytes of each
// alternate setting back to back, in the order of the profile's layout.

#include "mappedfile.h"
#include "profiles.h"
#include "unitmemory.h"

#include <memory>
#include <string>
#include <vector>

namespace vu {

constexpr const char *kDefaultModel = "x21-canon";

class StateFile {
public:
    StateFile(const StateFile &) = delete;
    StateFile &operator=(const StateFile &) = delete;

    // Maps path, first creating it as a pristine unit of model when it is missing.
    // An empty path gives a unit that lives in memory only; an empty model accepts
    // whatever the file holds (kDefaultModel for a new one). Throws std::runtime_error.
    static std::unique_ptr<StateFile> open(const std::string &path, const std::string &model);
    // Maps an existing file; its own model decides the layout.
    static std::unique_ptr<StateFile> openExisting(const std::string &path);
    // (Re)writes path as a pristine unit of model.
    static void create(const std::string &path, const std::string &model);

    const Profile &profile() const { return *unitProfile; }
    UnitMemory &memory() { return *unitMemory; }
    const UnitMemory &memory() const { return *unitMemory; }

private:
    StateFile() = default;
    static std::unique_ptr<StateFile> map(const std::string &path);
    static std::unique_ptr<StateFile> anonymous(const Profile &profile);

    const Profile *unitProfile = nullptr;
    std::unique_ptr<MappedFile> file;
    std::vector<uint8_t> inMemory; // the unit's bytes when there is no file
    std::unique_ptr<UnitMemory> unitMemory;
};

} // namespace vu
