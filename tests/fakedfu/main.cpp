// Scripted stand-in for dfu-util. See tests/support/fakedfucontrol.h for the
// control directory layout and the script commands.
#include "calllog.h"
#include "script.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void say(const std::string &text)
{
    const std::string line = "fakedfu: " + text + "\n";
    if (::write(STDERR_FILENO, line.data(), line.size()) < 0) {
        // Nothing left to report to.
    }
}

bool readFile(const std::string &path, std::string &out)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    out.clear();
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, size_t(n));
    ::close(fd);
    return n == 0;
}

// dfu-util accepts "-U file", "-Ufile", "--upload file" and "--upload=file".
std::string uploadPath(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "-U" || a == "--upload") && i + 1 < argc)
            return argv[i + 1];
        if (a.size() > 2 && a.compare(0, 2, "-U") == 0)
            return a.substr(2);
        if (a.compare(0, 9, "--upload=") == 0)
            return a.substr(9);
    }
    return std::string();
}

} // namespace

int main(int argc, char **argv)
{
    const char *dirEnv = std::getenv("STROBIX_FAKE_DFU_DIR");
    if (!dirEnv || !*dirEnv) {
        say("STROBIX_FAKE_DFU_DIR is not set");
        return 2;
    }
    const std::string dir = dirEnv;

    const int run = CallLog::append(dir, CallLog::jsonLine(argc, argv));
    if (run <= 0) {
        say("cannot append to " + dir + "/calls.jsonl");
        return 2;
    }

    std::string text;
    if (!readFile(dir + "/run" + std::to_string(run) + ".txt", text)
        && !readFile(dir + "/default.txt", text)) {
        return 0;
    }

    Script script;
    std::string error;
    if (!script.parse(text, error)) {
        say("bad script for run " + std::to_string(run) + ": " + error);
        return 99;
    }
    return script.run(uploadPath(argc, argv));
}
