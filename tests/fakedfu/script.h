#ifndef FAKEDFU_SCRIPT_H
#define FAKEDFU_SCRIPT_H

#include <string>
#include <vector>

// A parsed control script. The whole file is checked before anything runs,
// so a typo in a test fails loudly instead of half-running.
class Script
{
public:
    // Returns false and sets error ("line N: ...") if the text is malformed.
    bool parse(const std::string &text, std::string &error);

    // Runs the commands; returns the exit code to use when the script ends.
    // uploadPath is the -U file, empty if there was none.
    int run(const std::string &uploadPath) const;

    // C-like escapes: \n \r \t \0 \\ \xHH.
    static bool unescape(const std::string &in, std::string &out);

private:
    enum class Op { Out, Err, Pause, Upload, UploadFill, UploadAppend, Exit,
                    Crash, Abort, Hang, Flood, SigtermIgnore };
    struct Command {
        Op op;
        std::string data;
        long long a = 0;
        long long b = 0;
    };

    bool parseLine(const std::string &name, const std::string &arg, std::string &error);
    static bool parseHex(const std::string &in, std::string &out);
    static bool parseNumber(const std::string &in, long long &value);
    static void writeAll(int fd, const char *data, size_t size);
    static void writeFile(const std::string &path, const std::string &bytes, bool append);
    static void sleepMs(long long ms);
    static void noCoreDumps();

    std::vector<Command> m_commands;
};

#endif
