// Windows stand-in for dfu-util, for the smoke test under Wine.
//
// STROBIX_STANDIN_DIR names a control folder. Every start appends its
// arguments to <dir>/calls.txt as one line, tab-separated, UTF-8. Start N
// then runs <dir>/runN.txt if present, else exits 0 silently. Script lines:
//   out <text>      write to stdout; escapes \n \r \t \\ are understood
//   err <text>      the same to stderr
//   upload <hex>    write these bytes to the file given after -U
//   exit <code>     exit at once with that code
// Built with -municode and -static, so it reads the arguments exactly as the
// caller passed them and needs no DLL beside it.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string utf8(const wchar_t *w)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? size_t(n - 1) : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    return s;
}

std::wstring wide(const std::string &s)
{
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, nullptr, 0);
    std::wstring w(n > 0 ? size_t(n - 1) : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], n);
    return w;
}

bool readFile(const std::wstring &path, std::string &out)
{
    FILE *f = _wfopen(path.c_str(), L"rb");
    if (!f)
        return false;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return true;
}

std::string unescape(const std::string &in)
{
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 == in.size()) {
            out += in[i];
            continue;
        }
        const char c = in[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    return out;
}

std::string fromHex(const std::string &in)
{
    std::string out;
    for (size_t i = 0; i + 1 < in.size(); i += 2)
        out += char(std::strtol(in.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    const wchar_t *dirEnv = _wgetenv(L"STROBIX_STANDIN_DIR");
    if (!dirEnv || !*dirEnv) {
        fputs("standin: STROBIX_STANDIN_DIR is not set\n", stderr);
        return 2;
    }
    const std::wstring dir = dirEnv;

    std::string line;
    std::wstring uploadPath;
    for (int i = 1; i < argc; ++i) {
        line += (i > 1 ? "\t" : "") + utf8(argv[i]);
        if (std::wstring(argv[i]) == L"-U" && i + 1 < argc)
            uploadPath = argv[i + 1];
    }
    line += '\n';
    std::string previous;
    readFile(dir + L"\\calls.txt", previous);
    int run = 1;
    for (char c : previous)
        run += c == '\n';
    FILE *calls = _wfopen((dir + L"\\calls.txt").c_str(), L"ab");
    if (!calls)
        return 2;
    fwrite(line.data(), 1, line.size(), calls);
    fclose(calls);

    std::string script;
    if (!readFile(dir + L"\\run" + std::to_wstring(run) + L".txt", script))
        return 0;
    size_t start = 0;
    while (start < script.size()) {
        size_t nl = script.find('\n', start);
        if (nl == std::string::npos)
            nl = script.size();
        std::string cmd = script.substr(start, nl - start);
        start = nl + 1;
        if (!cmd.empty() && cmd.back() == '\r')
            cmd.pop_back();
        const size_t sp = cmd.find(' ');
        const std::string name = cmd.substr(0, sp);
        const std::string arg = sp == std::string::npos ? std::string() : cmd.substr(sp + 1);
        if (name == "out" || name == "err") {
            const std::string text = unescape(arg);
            FILE *to = name == "out" ? stdout : stderr;
            fwrite(text.data(), 1, text.size(), to);
            fflush(to);
        } else if (name == "upload" && !uploadPath.empty()) {
            const std::string bytes = fromHex(arg);
            if (FILE *f = _wfopen(uploadPath.c_str(), L"wb")) {
                fwrite(bytes.data(), 1, bytes.size(), f);
                fclose(f);
            }
        } else if (name == "exit") {
            return std::atoi(arg.c_str());
        }
    }
    return 0;
}
