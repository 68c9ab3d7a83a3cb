#pragma once
// What the unit tells about itself on the bus: device and configuration
// descriptors, the DFU functional descriptor and the string descriptors.

#include "dfu.h"
#include "profiles.h"

#include <libusb.h>
#include <string>
#include <vector>

namespace vu {

class UsbDescriptors {
public:
    explicit UsbDescriptors(const Profile &profile);
    UsbDescriptors(const UsbDescriptors &) = delete;
    UsbDescriptors &operator=(const UsbDescriptors &) = delete;

    const libusb_device_descriptor &device() const { return deviceDescriptor; }
    const libusb_config_descriptor &config() const { return configDescriptor; }

    // A standard GET_DESCRIPTOR request; returns the bytes sent or LIBUSB_ERROR_PIPE.
    int get(uint16_t value, uint8_t *data, uint16_t length) const;

private:
    std::vector<uint8_t> serializedDevice() const;
    std::vector<uint8_t> serializedConfig() const;
    std::vector<uint8_t> stringDescriptor(uint8_t index) const;

    std::vector<std::string> strings; // index 1 upwards
    std::vector<uint8_t> functional;
    std::vector<libusb_interface_descriptor> altDescriptors;
    libusb_interface interfaceDescriptor{};
    libusb_device_descriptor deviceDescriptor{};
    libusb_config_descriptor configDescriptor{};
};

} // namespace vu
