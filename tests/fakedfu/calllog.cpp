#include "calllog.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

std::string CallLog::jsonLine(int argc, char **argv)
{
    std::string line = "[";
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ',';
        appendEscaped(line, argv[i]);
    }
    line += "]\n";
    return line;
}

void CallLog::appendEscaped(std::string &out, const char *text)
{
    out += '"';
    for (const char *p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c); // UTF-8 passes through untouched
            }
        }
    }
    out += '"';
}

int CallLog::append(const std::string &dir, const std::string &line)
{
    const std::string path = dir + "/calls.jsonl";
    const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 0;
    ssize_t written;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    // With O_APPEND the offset now sits right after our own line, so counting
    // newlines up to it stays correct even if another run appends meanwhile.
    const off_t end = written == ssize_t(line.size()) ? ::lseek(fd, 0, SEEK_CUR) : -1;
    int lines = 0;
    if (end > 0) {
        off_t pos = 0;
        char buf[65536];
        while (pos < end) {
            size_t want = sizeof buf;
            if (off_t(want) > end - pos)
                want = size_t(end - pos);
            const ssize_t got = ::pread(fd, buf, want, pos);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            for (ssize_t i = 0; i < got; ++i)
                lines += buf[i] == '\n';
            pos += got;
        }
    }
    ::close(fd);
    return lines;
}
