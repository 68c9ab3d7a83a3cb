// Scripted stand-in for dfu-util. STROBIX_FAKE_DFU_DIR names a control folder:
// every start appends its arguments to calls.txt (one line, separated by 0x1f)
// and runs runN.txt, N being that line's number, else default.txt, else it
// exits 0. Script lines, built by tests/support/fakedfucontrol.cpp:
//   out HEX, err HEX   one write of these bytes to stdout or stderr
//   upload HEX         the file named after -U
//   pause MS, flood BYTES CHUNK (text in writes of CHUNK), exit CODE
//   crash, hang
//   hold NAME          creates NAME.held in the control folder and waits until the
//                      test creates NAME there (exit 98 after 60 s without it)
// The whole script is checked before it runs: a bad one exits 99.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

struct Command {
    std::string name;
    std::string data; // decoded HEX
    long long a = 0, b = 0;
};

bool readFile(const std::string &path, std::string &out)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    out = text.str();
    return bool(in);
}

void writeAll(int fd, const std::string &bytes)
{
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            return;
        done += size_t(n);
    }
}

bool parse(const std::string &line, Command &c)
{
    std::istringstream words(line);
    std::string hex;
    words >> c.name;
    if (c.name == "out" || c.name == "err" || c.name == "upload") {
        words >> hex;
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            c.data += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        return hex.size() % 2 == 0 && hex.find_first_not_of("0123456789abcdef") == std::string::npos;
    }
    if (c.name == "hold")
        return words >> c.data && c.data.find('/') == std::string::npos;
    if (c.name == "pause" || c.name == "exit")
        return bool(words >> c.a);
    if (c.name == "flood")
        return bool(words >> c.a >> c.b) && c.b > 0;
    return c.name == "crash" || c.name == "hang";
}

bool exists(const std::string &path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

// Bounded, so that a test that never releases fails instead of hanging. A
// control folder that is gone has no test left to wait for.
bool hold(const std::string &dir, const std::string &name)
{
    std::ofstream(dir + "/" + name + ".held");
    const timespec tick{0, 10 * 1000000L};
    for (int i = 0; i < 6000; ++i) {
        if (exists(dir + "/" + name) || !exists(dir))
            return true;
        ::nanosleep(&tick, nullptr);
    }
    writeAll(STDERR_FILENO, "fakedfu: hold " + name + " was never released (no " + dir + "/" + name
                                + " after 60 s)\n");
    return false;
}

void dieQuietly(int signal)
{
    // Deliberate crashes must not leave core files behind.
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

int main(int argc, char **argv)
{
    const char *dir = std::getenv("STROBIX_FAKE_DFU_DIR");
    if (!dir)
        return 2;
    std::string call, upload, calls, text;
    for (int i = 1; i < argc; ++i) {
        call += std::string(i > 1 ? "\x1f" : "") + argv[i];
        if (std::string(argv[i]) == "-U" && i + 1 < argc)
            upload = argv[i + 1];
    }
    std::ofstream(std::string(dir) + "/calls.txt", std::ios::app | std::ios::binary) << call << '\n';
    readFile(std::string(dir) + "/calls.txt", calls);
    const std::string run = std::to_string(std::count(calls.begin(), calls.end(), '\n'));
    if (!readFile(std::string(dir) + "/run" + run + ".txt", text)
        && !readFile(std::string(dir) + "/default.txt", text))
        return 0;

    std::vector<Command> script;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        script.emplace_back();
        if (!parse(line, script.back())) {
            writeAll(STDERR_FILENO, "fakedfu: bad script line: " + line + "\n");
            return 99;
        }
    }
    for (const Command &c : script) {
        if (c.name == "out" || c.name == "err")
            writeAll(c.name == "out" ? STDOUT_FILENO : STDERR_FILENO, c.data);
        else if (c.name == "upload" && !upload.empty())
            std::ofstream(upload, std::ios::binary) << c.data;
        else if (c.name == "pause") {
            const timespec time{time_t(c.a / 1000), long(c.a % 1000) * 1000000L};
            ::nanosleep(&time, nullptr);
        }
        else if (c.name == "hold" && !hold(dir, c.data))
            return 98;
        else if (c.name == "exit")
            return int(c.a);
        else if (c.name == "crash")
            dieQuietly(SIGSEGV);
        else if (c.name == "hang")
            for (;;)
                ::pause();
        else if (c.name == "flood")
            for (long long sent = 0; sent < c.a; sent += c.b)
                writeAll(STDOUT_FILENO, std::string(size_t(std::min(c.b, c.a - sent)), 'x'));
    }
    return 0;
}
