// Stands in for a chatty dfu-util: writes SIZE bytes of progress-bar text to
// standard output, WRITE bytes per write(2); with "endless", as one line that
// never ends (a broken tool).
//
//   floodtool SIZE [WRITE [endless]]     (WRITE defaults to 64)

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: floodtool SIZE [WRITE [endless]]\n");
        return 2;
    }
    long long left = std::atoll(argv[1]);
    const long chunk = argc >= 3 ? std::atol(argv[2]) : 64;
    if (left < 0 || chunk <= 0)
        return 2;
    const bool endless = argc == 4 && std::string(argv[3]) == "endless";
    char line[] = "Download\t[=============            ]  52%        34816 bytes\r\n";
    if (endless)
        line[sizeof line - 3] = line[sizeof line - 2] = ' ';
    std::string buffer;
    while (long(buffer.size()) < chunk + long(sizeof line))
        buffer += line;
    long offset = 0;
    while (left > 0) {
        const long n = left < chunk ? long(left) : chunk;
        const ssize_t written = write(1, buffer.data() + offset, size_t(n));
        if (written <= 0)
            return 1;
        left -= written;
        // Keep the text flowing line after line across writes.
        offset = (offset + written) % long(sizeof line - 1);
    }
    return 0;
}
