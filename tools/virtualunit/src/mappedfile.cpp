#include "mappedfile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vu {

namespace {

#ifdef _WIN32
[[noreturn]] void fail(const std::string &what, const std::string &path)
{
    throw std::runtime_error(what + " " + path + ": Windows error " + std::to_string(GetLastError()));
}

unsigned long processId()
{
    return GetCurrentProcessId();
}

void renameOver(const std::string &from, const std::string &to)
{
    if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        fail("cannot rename to", to);
}
#else
[[noreturn]] void fail(const std::string &what, const std::string &path)
{
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

unsigned long processId()
{
    return static_cast<unsigned long>(::getpid());
}

void renameOver(const std::string &from, const std::string &to)
{
    if (::rename(from.c_str(), to.c_str()) != 0)
        fail("cannot rename to", to);
}
#endif

} // namespace

#ifdef _WIN32

MappedFile::~MappedFile()
{
    if (start)
        UnmapViewOfFile(start);
}

std::unique_ptr<MappedFile> MappedFile::open(const std::string &path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        fail("cannot open", path);
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    std::unique_ptr<MappedFile> mapped(new MappedFile);
    mapped->length = static_cast<size_t>(size.QuadPart);
    // A file mapping of an empty file cannot be made; the caller rejects it by its size.
    if (mapped->length == 0) {
        CloseHandle(file);
        return mapped;
    }
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    CloseHandle(file);
    if (!mapping)
        fail("cannot map", path);
    // The view keeps the mapping and the file open.
    mapped->start = static_cast<uint8_t *>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    CloseHandle(mapping);
    if (!mapped->start)
        fail("cannot map", path);
    return mapped;
}

bool fileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

#else

MappedFile::~MappedFile()
{
    if (start)
        ::munmap(start, length);
}

std::unique_ptr<MappedFile> MappedFile::open(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open", path);
    struct stat st {};
    ::fstat(fd, &st);
    std::unique_ptr<MappedFile> mapped(new MappedFile);
    mapped->length = static_cast<size_t>(st.st_size);
    if (mapped->length == 0) {
        ::close(fd);
        return mapped;
    }
    void *data = ::mmap(nullptr, mapped->length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (data == MAP_FAILED)
        fail("cannot map", path);
    mapped->start = static_cast<uint8_t *>(data);
    return mapped;
}

bool fileExists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

#endif

void replaceFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    const std::string temp = path + ".tmp" + std::to_string(processId());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out)
            fail("cannot write", temp);
    }
    renameOver(temp, path);
}

} // namespace vu
