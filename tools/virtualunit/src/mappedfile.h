#pragma once
// A file mapped shared for reading and writing: every store is in the file at once,
// even when the host exits without closing libusb. POSIX mmap, or a Win32 file
// mapping when the unit runs inside a Windows dfu-util.exe.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vu {

class MappedFile {
public:
    ~MappedFile();
    MappedFile(const MappedFile &) = delete;
    MappedFile &operator=(const MappedFile &) = delete;

    // Maps the whole of an existing file. Throws std::runtime_error.
    static std::unique_ptr<MappedFile> open(const std::string &path);

    uint8_t *data() const { return start; }
    size_t size() const { return length; }

private:
    MappedFile() = default;

    uint8_t *start = nullptr;
    size_t length = 0;
};

bool fileExists(const std::string &path);
// Replaces path by a file holding bytes. Written aside and renamed, so that a
// reader never maps half a file. Throws std::runtime_error.
void replaceFile(const std::string &path, const std::vector<uint8_t> &bytes);

} // namespace vu
