#ifndef FAKEDFU_CALLLOG_H
#define FAKEDFU_CALLLOG_H

#include <string>

// Records each start of the tool as one JSON line in <dir>/calls.jsonl.
class CallLog
{
public:
    // Builds the JSON array line (with trailing '\n') for argv[1..argc-1].
    static std::string jsonLine(int argc, char **argv);

    // Appends the line with a single O_APPEND write() and returns the run
    // number (lines in the file up to and including ours), or 0 on error.
    static int append(const std::string &dir, const std::string &line);

private:
    static void appendEscaped(std::string &out, const char *text);
};

#endif
