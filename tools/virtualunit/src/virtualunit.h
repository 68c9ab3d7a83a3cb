#pragma once
// One powered-up unit on the bus, as the host sees it through libusb.

#include "dfusedevice.h"
#include "fault.h"
#include "hold.h"
#include "statefile.h"
#include "timing.h"
#include "usbdescriptors.h"

#include <memory>
#include <string>

namespace vu {

struct UnitSettings {
    std::string model;        // STROBIX_VU_MODEL; empty: as the state file says
    std::string statePath;    // STROBIX_VU_STATE; empty: memory lives for one run only
    Fault fault;              // STROBIX_VU_FAULT
    Hold hold;                // STROBIX_VU_HOLD
    int timeoutCapMs = -1;    // STROBIX_VU_TIMEOUT_MS; shortens a silent unit's timeouts

    // Reads the environment. Throws std::invalid_argument on a bad value.
    static UnitSettings fromEnvironment();
};

class VirtualUnit {
public:
    explicit VirtualUnit(const UnitSettings &settings);

    bool present() const { return settings.fault.kind != Fault::Absent; }
    Fault::Kind fault() const { return settings.fault.kind; }
    const UsbDescriptors &descriptors() const { return *usbDescriptors; }
    void setAltSetting(int alt) { device->setAltSetting(alt); }
    bool hasAltSetting(int alt) const { return stateFile->memory().hasAlt(alt); }

    int controlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        uint8_t *data, uint16_t length, unsigned timeoutMs);

private:
    int timeOut(unsigned timeoutMs) const;

    UnitSettings settings;
    std::unique_ptr<StateFile> stateFile;
    std::unique_ptr<UsbDescriptors> usbDescriptors;
    Timing timing;
    std::unique_ptr<DfuseDevice> device;
};

} // namespace vu
