#include "script.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string trimmed(const std::string &s)
{
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && isSpace(s[begin]))
        ++begin;
    while (end > begin && isSpace(s[end - 1]))
        --end;
    return s.substr(begin, end - begin);
}

} // namespace

bool Script::unescape(const std::string &in, std::string &out)
{
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\') {
            out += in[i];
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in[i]) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case '0': out += '\0'; break;
        case '\\': out += '\\'; break;
        case 'x': {
            const int hi = i + 1 < in.size() ? hexValue(in[i + 1]) : -1;
            const int lo = i + 2 < in.size() ? hexValue(in[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

bool Script::parseHex(const std::string &in, std::string &out)
{
    out.clear();
    int pending = -1;
    for (char c : in) {
        if (isSpace(c))
            continue;
        const int v = hexValue(c);
        if (v < 0)
            return false;
        if (pending < 0) {
            pending = v;
        } else {
            out += static_cast<char>(pending * 16 + v);
            pending = -1;
        }
    }
    return pending < 0;
}

bool Script::parseNumber(const std::string &in, long long &value)
{
    const std::string t = trimmed(in);
    if (t.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtoll(t.c_str(), &end, 0);
    return errno == 0 && end && *end == '\0';
}

bool Script::parse(const std::string &text, std::string &error)
{
    m_commands.clear();
    size_t start = 0;
    int lineNo = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos)
            nl = text.size();
        std::string line = text.substr(start, nl - start);
        start = nl + 1;
        ++lineNo;
        // A raw CR only comes from CRLF editing; a wanted CR is written as \r.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string t = trimmed(line);
        if (t.empty() || t[0] == '#')
            continue;
        // The argument is everything after the first space, kept verbatim so
        // leading and trailing blanks of "out" text survive.
        size_t lead = 0;
        while (lead < line.size() && isSpace(line[lead]))
            ++lead;
        const size_t space = line.find(' ', lead);
        const std::string name = line.substr(lead, space == std::string::npos ? std::string::npos : space - lead);
        const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (!parseLine(name, arg, error)) {
            error = "line " + std::to_string(lineNo) + ": " + error;
            return false;
        }
    }
    return true;
}

bool Script::parseLine(const std::string &name, const std::string &arg, std::string &error)
{
    Command c{Op::Out, std::string(), 0, 0};
    if (name == "out" || name == "err") {
        c.op = name == "out" ? Op::Out : Op::Err;
        if (!unescape(arg, c.data)) {
            error = "bad escape in text";
            return false;
        }
    } else if (name == "pause" || name == "exit") {
        c.op = name == "pause" ? Op::Pause : Op::Exit;
        if (!parseNumber(arg, c.a) || (c.op == Op::Pause && c.a < 0)) {
            error = name + " needs a number";
            return false;
        }
    } else if (name == "upload" || name == "upload-append") {
        c.op = name == "upload" ? Op::Upload : Op::UploadAppend;
        if (!parseHex(arg, c.data)) {
            error = "bad hex bytes";
            return false;
        }
    } else if (name == "upload-fill" || name == "flood") {
        c.op = name == "flood" ? Op::Flood : Op::UploadFill;
        const std::string t = trimmed(arg);
        const size_t sp = t.find(' ');
        if (sp == std::string::npos || !parseNumber(t.substr(0, sp), c.a) || c.a < 0) {
            error = name + " needs two arguments";
            return false;
        }
        if (c.op == Op::Flood) {
            if (!parseNumber(t.substr(sp + 1), c.b) || c.b <= 0) {
                error = "flood needs a positive chunk size";
                return false;
            }
        } else if (!parseHex(t.substr(sp + 1), c.data) || c.data.size() != 1) {
            error = "upload-fill needs one hex byte";
            return false;
        }
    } else if (name == "crash") {
        c.op = Op::Crash;
    } else if (name == "abort") {
        c.op = Op::Abort;
    } else if (name == "hang") {
        c.op = Op::Hang;
    } else if (name == "sigterm-ignore") {
        c.op = Op::SigtermIgnore;
    } else {
        error = "unknown command '" + name + "'";
        return false;
    }
    m_commands.push_back(c);
    return true;
}

void Script::writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += n;
        size -= size_t(n);
    }
}

void Script::writeFile(const std::string &path, const std::string &bytes, bool append)
{
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0)
        return;
    writeAll(fd, bytes.data(), bytes.size());
    ::close(fd);
}

void Script::sleepMs(long long ms)
{
    timespec left{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) < 0 && errno == EINTR) {
    }
}

void Script::noCoreDumps()
{
    // Deliberate crashes must not litter the machine with core files.
    rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}

int Script::run(const std::string &uploadPath) const
{
    // A fixed 64-byte line, so flooded output is plain ASCII text.
    static const char floodLine[] =
        "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.\n";
    for (const Command &c : m_commands) {
        switch (c.op) {
        case Op::Out:
            writeAll(STDOUT_FILENO, c.data.data(), c.data.size());
            break;
        case Op::Err:
            writeAll(STDERR_FILENO, c.data.data(), c.data.size());
            break;
        case Op::Pause:
            sleepMs(c.a);
            break;
        case Op::Upload:
        case Op::UploadAppend:
            if (!uploadPath.empty())
                writeFile(uploadPath, c.data, c.op == Op::UploadAppend);
            break;
        case Op::UploadFill:
            if (!uploadPath.empty())
                writeFile(uploadPath, std::string(size_t(c.a), c.data[0]), true);
            break;
        case Op::Exit:
            return int(c.a);
        case Op::Crash:
            noCoreDumps();
            std::signal(SIGSEGV, SIG_DFL);
            std::raise(SIGSEGV);
            break;
        case Op::Abort:
            noCoreDumps();
            std::abort();
        case Op::Hang:
            for (;;)
                ::pause();
        case Op::Flood: {
            std::string chunk(size_t(c.b), '\0');
            long long sent = 0;
            while (sent < c.a) {
                const long long n = c.a - sent < c.b ? c.a - sent : c.b;
                for (long long i = 0; i < n; ++i)
                    chunk[size_t(i)] = floodLine[(sent + i) % 64];
                writeAll(STDOUT_FILENO, chunk.data(), size_t(n));
                sent += n;
            }
            break;
        }
        case Op::SigtermIgnore:
            std::signal(SIGTERM, SIG_IGN);
            break;
        }
    }
    return 0;
}
