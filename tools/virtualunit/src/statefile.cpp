#include "statefile.h"

#include <cstring>
#include <stdexcept>

namespace vu {

namespace {

constexpr char kMagic[8] = {'S', 'T', 'R', 'B', 'X', 'V', 'U', '1'};
constexpr size_t kHeaderSize = 4096; // keeps the memory page-aligned in the mapping
constexpr size_t kModelOffset = sizeof(kMagic);
constexpr size_t kModelSize = 32;

const Profile &profileNamed(const std::string &model)
{
    const Profile *profile = findProfile(model);
    if (!profile)
        throw std::runtime_error("unknown model '" + model + "'");
    return *profile;
}

std::vector<uint8_t> pristineImage(const Profile &profile)
{
    const auto alts = profile.altSettings();
    std::vector<uint8_t> image(kHeaderSize + UnitMemory::storageSize(alts), 0);
    std::copy(std::begin(kMagic), std::end(kMagic), image.begin());
    std::copy(profile.name.begin(), profile.name.end(), image.begin() + kModelOffset);
    UnitMemory memory(alts, image.data() + kHeaderSize);
    writePristine(profile, memory);
    return image;
}

} // namespace

void StateFile::create(const std::string &path, const std::string &model)
{
    replaceFile(path, pristineImage(profileNamed(model)));
}

std::unique_ptr<StateFile> StateFile::open(const std::string &path, const std::string &model)
{
    const std::string modelWhenNew = model.empty() ? kDefaultModel : model;
    if (path.empty())
        return anonymous(profileNamed(modelWhenNew));
    if (!fileExists(path))
        create(path, modelWhenNew);
    auto state = map(path);
    if (!model.empty() && state->profile().name != model)
        throw std::runtime_error(path + " holds a unit of model '" + state->profile().name +
                                 "', not '" + model + "'");
    return state;
}

std::unique_ptr<StateFile> StateFile::openExisting(const std::string &path)
{
    return map(path);
}

std::unique_ptr<StateFile> StateFile::map(const std::string &path)
{
    std::unique_ptr<MappedFile> file = MappedFile::open(path);
    const auto *header = reinterpret_cast<const char *>(file->data());
    if (file->size() < kHeaderSize || std::memcmp(header, kMagic, sizeof kMagic) != 0)
        throw std::runtime_error(path + " is not a virtual unit state file");
    const std::string model(header + kModelOffset, strnlen(header + kModelOffset, kModelSize));
    std::unique_ptr<StateFile> state(new StateFile);
    state->unitProfile = &profileNamed(model);
    const auto alts = state->unitProfile->altSettings();
    if (file->size() != kHeaderSize + UnitMemory::storageSize(alts))
        throw std::runtime_error(path + " has the wrong size for model " + model);
    state->unitMemory = std::make_unique<UnitMemory>(alts, file->data() + kHeaderSize);
    state->file = std::move(file);
    return state;
}

std::unique_ptr<StateFile> StateFile::anonymous(const Profile &profile)
{
    std::unique_ptr<StateFile> state(new StateFile);
    state->unitProfile = &profile;
    state->inMemory = pristineImage(profile);
    state->unitMemory = std::make_unique<UnitMemory>(profile.altSettings(), state->inMemory.data() + kHeaderSize);
    return state;
}

} // namespace vu
