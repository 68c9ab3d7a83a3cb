#include "statefile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vu {

namespace {

constexpr char kMagic[8] = {'S', 'T', 'R', 'B', 'X', 'V', 'U', '1'};
constexpr size_t kHeaderSize = 4096; // keeps the memory page-aligned in the mapping
constexpr size_t kModelOffset = sizeof(kMagic);
constexpr size_t kModelSize = 32;

[[noreturn]] void fail(const std::string &what, const std::string &path)
{
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

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

void writeAll(int fd, const std::vector<uint8_t> &bytes, const std::string &path)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno != EINTR)
            fail("cannot write", path);
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
}

} // namespace

StateFile::~StateFile()
{
    if (mapping)
        ::munmap(mapping, mappingSize);
}

void StateFile::create(const std::string &path, const std::string &model)
{
    const auto image = pristineImage(profileNamed(model));
    // Written aside and renamed, so that a reader never maps half a unit.
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("cannot create", temp);
    writeAll(fd, image, temp);
    ::close(fd);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        fail("cannot rename to", path);
}

std::unique_ptr<StateFile> StateFile::open(const std::string &path, const std::string &model)
{
    const std::string modelWhenNew = model.empty() ? kDefaultModel : model;
    if (path.empty())
        return anonymous(profileNamed(modelWhenNew));
    if (::access(path.c_str(), F_OK) != 0)
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
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open", path);
    struct stat st {};
    ::fstat(fd, &st);
    char header[kHeaderSize] = {};
    if (st.st_size < static_cast<off_t>(kHeaderSize) || ::pread(fd, header, kHeaderSize, 0) != ssize_t(kHeaderSize)
        || std::memcmp(header, kMagic, sizeof kMagic) != 0) {
        ::close(fd);
        throw std::runtime_error(path + " is not a virtual unit state file");
    }
    const std::string model(header + kModelOffset, strnlen(header + kModelOffset, kModelSize));
    std::unique_ptr<StateFile> state(new StateFile);
    state->unitProfile = &profileNamed(model);
    const auto alts = state->unitProfile->altSettings();
    state->mappingSize = kHeaderSize + UnitMemory::storageSize(alts);
    if (static_cast<size_t>(st.st_size) != state->mappingSize) {
        ::close(fd);
        throw std::runtime_error(path + " has the wrong size for model " + model);
    }
    void *mapping = ::mmap(nullptr, state->mappingSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (mapping == MAP_FAILED)
        fail("cannot map", path);
    state->mapping = mapping;
    state->unitMemory = std::make_unique<UnitMemory>(alts, static_cast<uint8_t *>(mapping) + kHeaderSize);
    return state;
}

std::unique_ptr<StateFile> StateFile::anonymous(const Profile &profile)
{
    const auto image = pristineImage(profile);
    std::unique_ptr<StateFile> state(new StateFile);
    state->unitProfile = &profile;
    state->mappingSize = image.size();
    void *mapping = ::mmap(nullptr, image.size(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        fail("cannot map", "anonymous memory");
    std::memcpy(mapping, image.data(), image.size());
    state->mapping = mapping;
    state->unitMemory = std::make_unique<UnitMemory>(profile.altSettings(),
                                                  static_cast<uint8_t *>(mapping) + kHeaderSize);
    return state;
}

} // namespace vu
