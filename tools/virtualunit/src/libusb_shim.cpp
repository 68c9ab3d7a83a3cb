// Stands in for libusb-1.0.so.0 so that a host tool finds the virtual unit on its bus.
// Only the calls a DFU host makes are here; libusb.h's inline helpers (string and
// other descriptors) arrive as control transfers.

#include "virtualunit.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <exception>
#include <libusb.h>
#include <memory>
#ifdef _WIN32
#include <fstream>
#include <iterator>
#include <string>
#include <windows.h>
#endif

struct libusb_context {
    int unused;
};

struct libusb_device {
    int refs;
};

struct libusb_device_handle {
    libusb_device *device;
    int altSetting;
};

namespace {

std::unique_ptr<vu::VirtualUnit> unit;
libusb_context defaultContext{};
// The same device object every time, as a host expects from one physical unit.
libusb_device theDevice{1};
// With two-units, a second one of the same kind, on the next port.
libusb_device secondDevice{1};
constexpr uint8_t kBus = 1;
constexpr uint8_t kAddress = 7;
constexpr uint8_t kPort = 2;

bool present()
{
    return unit && unit->present();
}

bool isSecond(const libusb_device *dev)
{
    return dev == &secondDevice;
}

#ifdef _WIN32
// Under Wine, a unit without WinUSB gets it once our package is in the
// driver store: an INF there that names our catalog, under any name. The
// package's INF is UTF-16; an INF may be plain text too.
bool driverPackageInStore()
{
    const std::string catalog = "strobix-dfu.cat";
    std::string wideCatalog;
    for (char c : catalog)
        wideCatalog += std::string{c, '\0'};
    char dir[MAX_PATH];
    if (!GetWindowsDirectoryA(dir, MAX_PATH))
        return false;
    const std::string folder = std::string(dir) + "\\inf\\";
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*.inf").c_str(), &found);
    bool ours = false;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more && !ours; more = FindNextFileA(search, &found)) {
        std::ifstream inf(folder + found.cFileName, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(inf)), std::istreambuf_iterator<char>());
        ours = text.find(catalog) != std::string::npos || text.find(wideCatalog) != std::string::npos;
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return ours;
}
#else
bool driverPackageInStore()
{
    return false;
}
#endif

// What libusb_open gives: libusb's Windows backend has no open for a unit
// whose driver is not WinUSB (or libusbK, libusb0), and says NOT_SUPPORTED.
int openError()
{
    switch (unit->fault()) {
    case vu::Fault::NoAccess:
        return LIBUSB_ERROR_ACCESS;
    case vu::Fault::NoDriver:
        return driverPackageInStore() ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_SUPPORTED;
    default:
        return LIBUSB_SUCCESS;
    }
}

} // namespace

extern "C" {

int LIBUSB_CALL libusb_init(libusb_context **ctx)
{
    if (!unit) {
        try {
            unit = std::make_unique<vu::VirtualUnit>(vu::UnitSettings::fromEnvironment());
        } catch (const std::exception &e) {
            std::fprintf(stderr, "virtual unit: %s\n", e.what());
            return LIBUSB_ERROR_OTHER;
        }
    }
    if (ctx)
        *ctx = &defaultContext;
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_exit(libusb_context *)
{
    unit.reset();
}

int LIBUSB_CALL libusb_set_option(libusb_context *, enum libusb_option, ...)
{
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_set_debug(libusb_context *, int) {}

const struct libusb_version *LIBUSB_CALL libusb_get_version(void)
{
    static const libusb_version version = {1, 0, 26, 0, "", "strobix virtual unit"};
    return &version;
}

const char *LIBUSB_CALL libusb_error_name(int code)
{
    switch (code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    default: return "**UNKNOWN**";
    }
}

ssize_t LIBUSB_CALL libusb_get_device_list(libusb_context *, libusb_device ***list)
{
    const ssize_t count = !present() ? 0 : unit->fault() == vu::Fault::TwoUnits ? 2 : 1;
    auto **devices = static_cast<libusb_device **>(std::calloc(size_t(count) + 1, sizeof(libusb_device *)));
    if (!devices)
        return LIBUSB_ERROR_NO_MEM;
    if (count)
        devices[0] = libusb_ref_device(&theDevice);
    if (count > 1)
        devices[1] = libusb_ref_device(&secondDevice);
    *list = devices;
    return count;
}

void LIBUSB_CALL libusb_free_device_list(libusb_device **list, int unrefDevices)
{
    if (!list)
        return;
    for (libusb_device **d = list; unrefDevices && *d; ++d)
        libusb_unref_device(*d);
    std::free(list);
}

libusb_device *LIBUSB_CALL libusb_ref_device(libusb_device *dev)
{
    ++dev->refs;
    return dev;
}

void LIBUSB_CALL libusb_unref_device(libusb_device *dev)
{
    if (dev->refs > 1) // the bus keeps the last reference
        --dev->refs;
}

int LIBUSB_CALL libusb_get_device_descriptor(libusb_device *, struct libusb_device_descriptor *desc)
{
    if (!unit)
        return LIBUSB_ERROR_NO_DEVICE;
    *desc = unit->descriptors().device();
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_get_config_descriptor(libusb_device *, uint8_t index, struct libusb_config_descriptor **config)
{
    if (!unit)
        return LIBUSB_ERROR_NO_DEVICE;
    if (index != 0)
        return LIBUSB_ERROR_NOT_FOUND;
    // The descriptors live as long as the unit; freeing is a no-op.
    *config = const_cast<libusb_config_descriptor *>(&unit->descriptors().config());
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_get_active_config_descriptor(libusb_device *dev, struct libusb_config_descriptor **config)
{
    return libusb_get_config_descriptor(dev, 0, config);
}

void LIBUSB_CALL libusb_free_config_descriptor(struct libusb_config_descriptor *) {}

uint8_t LIBUSB_CALL libusb_get_bus_number(libusb_device *)
{
    return kBus;
}

uint8_t LIBUSB_CALL libusb_get_device_address(libusb_device *dev)
{
    return kAddress + isSecond(dev);
}

uint8_t LIBUSB_CALL libusb_get_port_number(libusb_device *dev)
{
    return kPort + isSecond(dev);
}

int LIBUSB_CALL libusb_get_port_numbers(libusb_device *dev, uint8_t *ports, int length)
{
    if (length < 1)
        return LIBUSB_ERROR_OVERFLOW;
    ports[0] = libusb_get_port_number(dev);
    return 1;
}

int LIBUSB_CALL libusb_open(libusb_device *dev, libusb_device_handle **handle)
{
    if (!present())
        return LIBUSB_ERROR_NO_DEVICE;
    if (const int error = openError())
        return error;
    *handle = new libusb_device_handle{libusb_ref_device(dev), 0};
    return LIBUSB_SUCCESS;
}

void LIBUSB_CALL libusb_close(libusb_device_handle *handle)
{
    if (!handle)
        return;
    libusb_unref_device(handle->device);
    delete handle;
}

int LIBUSB_CALL libusb_set_configuration(libusb_device_handle *, int configuration)
{
    return configuration == 1 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_claim_interface(libusb_device_handle *, int interface)
{
    if (unit && unit->fault() == vu::Fault::Busy)
        return LIBUSB_ERROR_BUSY;
    return interface == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_release_interface(libusb_device_handle *, int interface)
{
    return interface == 0 ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_set_interface_alt_setting(libusb_device_handle *handle, int interface, int alt)
{
    if (!unit)
        return LIBUSB_ERROR_NO_DEVICE;
    if (interface != 0 || !unit->hasAltSetting(alt))
        return LIBUSB_ERROR_NOT_FOUND;
    handle->altSetting = alt;
    unit->setAltSetting(alt);
    return LIBUSB_SUCCESS;
}

int LIBUSB_CALL libusb_reset_device(libusb_device_handle *)
{
    // A DfuSe bootloader comes back as itself; the host's next run sees it anew.
    return LIBUSB_ERROR_NOT_FOUND;
}

int LIBUSB_CALL libusb_control_transfer(libusb_device_handle *, uint8_t requestType, uint8_t request,
                                        uint16_t value, uint16_t index, unsigned char *data,
                                        uint16_t length, unsigned int timeout)
{
    if (!unit)
        return LIBUSB_ERROR_NO_DEVICE;
    return unit->controlTransfer(requestType, request, value, index, data, length, timeout);
}

} // extern "C"
