/*
 * Adds the flash unit's USB driver package (strobix-dfu.inf and its signed
 * catalog) to Windows and takes it out again, for the installer; also shows
 * what an INF binds, as Windows reads it.
 *
 *   strobix-driver show <inf>       class, provider, catalog, device, hardware ID, install section
 *   strobix-driver install <inf>    into the driver store; a unit connected now gets it at once
 *   strobix-driver uninstall <inf>  every version of this package out of the driver store
 *
 * A third argument names a file that takes the lines instead of stdout.
 *
 * One line per step on stdout (the installer keeps them as its log). Exit
 * status 0 when done, 1 on failure, 2 on wrong use. Through SetupAPI rather
 * than pnputil: the same calls work under Wine, where the checks run them.
 * Must be a 64-bit program: device installation from a 32-bit process on
 * 64-bit Windows is refused.
 */
#include <windows.h>
#include <setupapi.h>
#include <newdev.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#define TEXT_MAX 512

typedef struct {
    WCHAR class_name[TEXT_MAX];
    WCHAR class_guid[40];
    WCHAR provider[TEXT_MAX];
    WCHAR catalog[TEXT_MAX];
    WCHAR driver_ver[TEXT_MAX];
    WCHAR device[TEXT_MAX];
    WCHAR hardware_id[TEXT_MAX];
    WCHAR install[TEXT_MAX];
} Package;

/* Prints a line, wide strings as UTF-8, so that no code page drops a character. */
static void say(const char *label, const WCHAR *text)
{
    char utf8[TEXT_MAX * 4];
    if (!WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL))
        strcpy(utf8, "?");
    printf("%s%s\n", label, utf8);
    fflush(stdout);
}

/* Says what went wrong, with Windows' error code and text; returns 1. */
static int report(const char *prefix, const char *what, const WCHAR *subject, DWORD error)
{
    WCHAR message[TEXT_MAX] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0,
                   message, TEXT_MAX, NULL);
    for (WCHAR *p = message + wcslen(message); p > message && (p[-1] == L'\r' || p[-1] == L'\n'); )
        *--p = 0;
    printf("%s%s ", prefix, what);
    say("", subject);
    printf("  error 0x%08lx", error);
    say(message[0] ? ": " : "", message);
    return 1;
}

static int fail(const char *what, const WCHAR *subject, DWORD error)
{
    return report("FAILED: ", what, subject, error);
}

static BOOL version_value(HINF inf, const WCHAR *key, WCHAR *out)
{
    return SetupGetLineTextW(NULL, inf, L"Version", key, out, TEXT_MAX, NULL);
}

/* The models section for 64-bit Windows, as [Manufacturer] decorates it. */
static BOOL models_section(HINF inf, WCHAR *out)
{
    INFCONTEXT line;
    WCHAR decoration[TEXT_MAX];
    if (!SetupFindFirstLineW(inf, L"Manufacturer", NULL, &line)
        || !SetupGetStringFieldW(&line, 1, out, TEXT_MAX, NULL))
        return FALSE;
    for (DWORD i = 2; SetupGetStringFieldW(&line, i, decoration, TEXT_MAX, NULL); i++) {
        if (!_wcsicmp(decoration, L"NTamd64")) {
            wcscat(out, L".NTamd64");
            return TRUE;
        }
    }
    SetLastError(ERROR_NOT_FOUND);
    return FALSE;
}

/* Reads the package as Windows does; on failure, says what is wrong. */
static int read_package(const WCHAR *path, Package *p)
{
    UINT error_line = 0;
    HINF inf = SetupOpenInfFileW(path, NULL, INF_STYLE_WIN4, &error_line);
    if (inf == INVALID_HANDLE_VALUE) {
        char what[64];
        snprintf(what, sizeof what, "the INF does not parse (line %u):", error_line);
        return fail(what, path, GetLastError());
    }
    int status = 1;
    GUID guid;
    WCHAR models[TEXT_MAX], services[TEXT_MAX + 16];
    INFCONTEXT line;
    memset(p, 0, sizeof *p);
    if (!SetupDiGetINFClassW(path, &guid, p->class_name, TEXT_MAX, NULL))
        fail("no device class in", path, GetLastError());
    else if (!version_value(inf, L"Provider", p->provider) || !version_value(inf, L"CatalogFile", p->catalog)
             || !version_value(inf, L"DriverVer", p->driver_ver))
        fail("no Provider, CatalogFile or DriverVer in", path, GetLastError());
    else if (!models_section(inf, models))
        fail("no models for 64-bit Windows (NTamd64) in", path, GetLastError());
    else if (!SetupFindFirstLineW(inf, models, NULL, &line)
             || !SetupGetStringFieldW(&line, 0, p->device, TEXT_MAX, NULL)
             || !SetupGetStringFieldW(&line, 1, p->install, TEXT_MAX, NULL)
             || !SetupGetStringFieldW(&line, 2, p->hardware_id, TEXT_MAX, NULL))
        fail("no device in the models section of", path, GetLastError());
    else if (swprintf(services, TEXT_MAX + 16, L"%ls.Services", p->install) < 0
             || SetupGetLineCountW(inf, p->install) < 0 || SetupGetLineCountW(inf, services) < 0)
        fail("no install or .Services section for the device in", path, ERROR_SECTION_NOT_FOUND);
    else {
        StringFromGUID2(&guid, p->class_guid, 40);
        status = 0;
    }
    SetupCloseInfFile(inf);
    return status;
}

static int show(const WCHAR *path)
{
    Package p;
    if (read_package(path, &p))
        return 1;
    say("class: ", p.class_name);
    say("class GUID: ", p.class_guid);
    say("provider: ", p.provider);
    say("catalog: ", p.catalog);
    say("driver version: ", p.driver_ver);
    say("device: ", p.device);
    say("hardware ID: ", p.hardware_id);
    say("install section: ", p.install);
    return 0;
}

static int install(const WCHAR *path)
{
    Package p;
    WCHAR staged[MAX_PATH];
    BOOL reboot = FALSE;
    if (read_package(path, &p))
        return 1;
    /* Windows checks the catalog's signature here, and asks the user about a
       publisher that is not trusted yet. */
    if (!SetupCopyOEMInfW(path, NULL, SPOST_PATH, 0, staged, MAX_PATH, NULL, NULL))
        return fail("Windows did not take the driver package", path, GetLastError());
    say("in the driver store as ", staged);
    if (UpdateDriverForPlugAndPlayDevicesW(NULL, p.hardware_id, path, 0, &reboot))
        say("given to the units connected now, if any: ", p.hardware_id);
    else if (GetLastError() == ERROR_NO_SUCH_DEVINST)
        printf("no unit connected now; Windows gives the driver to the unit when it is\n");
    else
        report("", "a connected unit keeps its driver:", p.hardware_id, GetLastError());
    if (reboot)
        printf("Windows needs a restart to finish\n");
    return 0;
}

/* Ours are the store's INFs with our provider and catalog: every version of
   the package that this program or an earlier one added, so that none is left
   to bind the unit after an update of the program and its uninstall. */
static BOOL ours(const WCHAR *candidate, const Package *p)
{
    WCHAR provider[TEXT_MAX], catalog[TEXT_MAX];
    HINF inf = SetupOpenInfFileW(candidate, NULL, INF_STYLE_WIN4, NULL);
    if (inf == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL same = version_value(inf, L"Provider", provider) && version_value(inf, L"CatalogFile", catalog)
                && !_wcsicmp(provider, p->provider) && !_wcsicmp(catalog, p->catalog);
    SetupCloseInfFile(inf);
    return same;
}

/* Windows stores a package's INF as oem<N>.inf; Wine keeps the INF's own
   name while it is free. Windows' own INFs are never looked at. */
static int uninstall(const WCHAR *path)
{
    Package p;
    if (read_package(path, &p))
        return 1;
    const WCHAR *own_name = wcsrchr(path, L'\\') ? wcsrchr(path, L'\\') + 1 : path;
    WCHAR dir[MAX_PATH], pattern[MAX_PATH], candidate[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    wcscat(dir, L"\\inf\\");
    swprintf(pattern, MAX_PATH, L"%ls*.inf", dir);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    int removed = 0, status = 0;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (_wcsnicmp(found.cFileName, L"oem", 3) && _wcsicmp(found.cFileName, own_name))
            continue;
        swprintf(candidate, MAX_PATH, L"%ls%ls", dir, found.cFileName);
        if (!ours(candidate, &p))
            continue;
        if (SetupUninstallOEMInfW(found.cFileName, SUOI_FORCEDELETE, NULL)) {
            say("removed from the driver store: ", found.cFileName);
            removed++;
        } else {
            status = fail("could not remove", found.cFileName, GetLastError());
        }
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    if (!removed && !status)
        printf("not in the driver store\n");
    return status;
}

int wmain(int argc, WCHAR **argv)
{
    WCHAR path[MAX_PATH];
    if (argc < 3 || argc > 4 || !GetFullPathNameW(argv[2], MAX_PATH, path, NULL)) {
        fprintf(stderr, "usage: strobix-driver show|install|uninstall <inf> [<log>]\n");
        return 2;
    }
    /* Run elevated from the updater, the tool has no console that anyone
       reads: its lines go to the log file instead. */
    if (argc == 4 && !_wfreopen(argv[3], L"w", stdout)) {
        fprintf(stderr, "cannot write the log\n");
        return 1;
    }
    if (!wcscmp(argv[1], L"show"))
        return show(path);
    if (!wcscmp(argv[1], L"install"))
        return install(path);
    if (!wcscmp(argv[1], L"uninstall"))
        return uninstall(path);
    fprintf(stderr, "usage: strobix-driver show|install|uninstall <inf> [<log>]\n");
    return 2;
}
