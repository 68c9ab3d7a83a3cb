#include "virtualunit.h"

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace vu {

namespace {

std::string env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// What the fault protects; a fresh unit's option bytes protect nothing.
Protection protectionFor(const Profile &profile, const Fault &fault)
{
    Protection protection;
    protection.read = fault.kind == Fault::ReadProtected;
    if (fault.kind == Fault::WriteProtected) {
        const auto sector = profile.flashSector(fault.n);
        if (sector.first == sector.second)
            throw std::invalid_argument("the unit has no flash sector " + std::to_string(fault.n));
        protection.writeProtected.push_back(sector);
    }
    return protection;
}

} // namespace

UnitSettings UnitSettings::fromEnvironment()
{
    UnitSettings s;
    s.model = env("STROBIX_VU_MODEL");
    s.statePath = env("STROBIX_VU_STATE");
    const std::string fault = env("STROBIX_VU_FAULT");
    if (!fault.empty())
        s.fault = Fault::parse(fault);
    const std::string hold = env("STROBIX_VU_HOLD");
    if (!hold.empty())
        s.hold = Hold::parse(hold);
    const std::string cap = env("STROBIX_VU_TIMEOUT_MS");
    if (!cap.empty()) {
        char *end = nullptr;
        s.timeoutCapMs = static_cast<int>(std::strtol(cap.c_str(), &end, 10));
        if (*end != '\0' || s.timeoutCapMs < 0)
            throw std::invalid_argument("bad STROBIX_VU_TIMEOUT_MS '" + cap + "'");
    }
    return s;
}

VirtualUnit::VirtualUnit(const UnitSettings &settings)
    : settings(settings),
      stateFile(StateFile::open(settings.statePath, settings.model)),
      usbDescriptors(std::make_unique<UsbDescriptors>(stateFile->profile())),
      timing(Timing::fromEnvironment(stateFile->profile().family)),
      device(std::make_unique<DfuseDevice>(stateFile->memory(), settings.fault, timing, settings.hold))
{
    stateFile->memory().setProtection(protectionFor(stateFile->profile(), settings.fault));
}

int VirtualUnit::timeOut(unsigned timeoutMs) const
{
    // libusb's 0 means "wait for ever"; a test still wants its run to end.
    unsigned ms = timeoutMs ? timeoutMs : 5000;
    if (settings.timeoutCapMs >= 0 && ms > unsigned(settings.timeoutCapMs))
        ms = unsigned(settings.timeoutCapMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return LIBUSB_ERROR_TIMEOUT;
}

int VirtualUnit::controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                 uint8_t *data, uint16_t length, unsigned timeoutMs)
{
    switch (device->presence()) {
    case DfuseDevice::Presence::Gone: return LIBUSB_ERROR_NO_DEVICE;
    case DfuseDevice::Presence::Silent: return timeOut(timeoutMs);
    case DfuseDevice::Presence::Answering: break;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(timing.transferMicros(length)));
    const bool in = requestType & LIBUSB_ENDPOINT_IN;
    const int type = requestType & (0x03 << 5);
    const int recipient = requestType & 0x1f;
    if (type == LIBUSB_REQUEST_TYPE_STANDARD && request == LIBUSB_REQUEST_GET_DESCRIPTOR && in)
        return usbDescriptors->get(value, data, length);
    if (type == LIBUSB_REQUEST_TYPE_CLASS && recipient == LIBUSB_RECIPIENT_INTERFACE && index == 0)
        return device->request(request, value, data, length);
    return LIBUSB_ERROR_PIPE;
}

} // namespace vu
