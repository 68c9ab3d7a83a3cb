#include "usbdescriptors.h"

#include <algorithm>

namespace vu {

namespace {

constexpr uint8_t kDfuFunctionalType = 0x21;
constexpr uint8_t kFirstAltString = 4;

void put16(std::vector<uint8_t> &out, uint16_t v)
{
    out.push_back(v & 0xff);
    out.push_back(v >> 8);
}

} // namespace

UsbDescriptors::UsbDescriptors(const Profile &profile)
{
    strings = {"Strobix", "Strobix flash unit in DFU mode", profile.serialNumber()};
    const auto alts = profile.altSettings();
    for (const AltSetting &alt : alts)
        strings.push_back(alt.name);

    // bmAttributes: can download, can upload, will detach. bcdDFU 1.1a = DfuSe.
    functional = {9, kDfuFunctionalType, 0x0b, 0xff, 0x00};
    put16(functional, kTransferSize);
    put16(functional, 0x011a);

    for (size_t i = 0; i < alts.size(); ++i) {
        libusb_interface_descriptor d{};
        d.bLength = LIBUSB_DT_INTERFACE_SIZE;
        d.bDescriptorType = LIBUSB_DT_INTERFACE;
        d.bAlternateSetting = static_cast<uint8_t>(i);
        d.bInterfaceClass = 0xfe;
        d.bInterfaceSubClass = 1;
        d.bInterfaceProtocol = 2;
        d.iInterface = static_cast<uint8_t>(kFirstAltString + i);
        altDescriptors.push_back(d);
    }
    // The functional descriptor follows the last alternate setting.
    altDescriptors.back().extra = functional.data();
    altDescriptors.back().extra_length = static_cast<int>(functional.size());
    interfaceDescriptor.altsetting = altDescriptors.data();
    interfaceDescriptor.num_altsetting = static_cast<int>(altDescriptors.size());

    configDescriptor.bLength = LIBUSB_DT_CONFIG_SIZE;
    configDescriptor.bDescriptorType = LIBUSB_DT_CONFIG;
    configDescriptor.bNumInterfaces = 1;
    configDescriptor.bConfigurationValue = 1;
    configDescriptor.bmAttributes = 0xc0;
    configDescriptor.MaxPower = 50;
    configDescriptor.interface = &interfaceDescriptor;
    configDescriptor.wTotalLength = static_cast<uint16_t>(serializedConfig().size());

    deviceDescriptor.bLength = LIBUSB_DT_DEVICE_SIZE;
    deviceDescriptor.bDescriptorType = LIBUSB_DT_DEVICE;
    deviceDescriptor.bcdUSB = 0x0200;
    deviceDescriptor.bMaxPacketSize0 = 64;
    deviceDescriptor.idVendor = 0x0483;
    deviceDescriptor.idProduct = 0xdf11;
    deviceDescriptor.bcdDevice = 0x2200;
    deviceDescriptor.iManufacturer = 1;
    deviceDescriptor.iProduct = 2;
    deviceDescriptor.iSerialNumber = 3;
    deviceDescriptor.bNumConfigurations = 1;
}

int UsbDescriptors::get(uint16_t value, uint8_t *data, uint16_t length) const
{
    std::vector<uint8_t> bytes;
    switch (value >> 8) {
    case LIBUSB_DT_DEVICE: bytes = serializedDevice(); break;
    case LIBUSB_DT_CONFIG: bytes = serializedConfig(); break;
    case LIBUSB_DT_STRING: bytes = stringDescriptor(value & 0xff); break;
    case kDfuFunctionalType: bytes = functional; break;
    default: break;
    }
    if (bytes.empty())
        return LIBUSB_ERROR_PIPE;
    const size_t n = std::min<size_t>(bytes.size(), length);
    std::copy_n(bytes.begin(), n, data);
    return static_cast<int>(n);
}

std::vector<uint8_t> UsbDescriptors::serializedDevice() const
{
    const auto &d = deviceDescriptor;
    std::vector<uint8_t> out = {d.bLength, d.bDescriptorType};
    put16(out, d.bcdUSB);
    out.insert(out.end(), {d.bDeviceClass, d.bDeviceSubClass, d.bDeviceProtocol, d.bMaxPacketSize0});
    put16(out, d.idVendor);
    put16(out, d.idProduct);
    put16(out, d.bcdDevice);
    out.insert(out.end(), {d.iManufacturer, d.iProduct, d.iSerialNumber, d.bNumConfigurations});
    return out;
}

std::vector<uint8_t> UsbDescriptors::serializedConfig() const
{
    std::vector<uint8_t> body;
    for (const auto &a : altDescriptors) {
        body.insert(body.end(), {a.bLength, a.bDescriptorType, a.bInterfaceNumber, a.bAlternateSetting,
                                 a.bNumEndpoints, a.bInterfaceClass, a.bInterfaceSubClass,
                                 a.bInterfaceProtocol, a.iInterface});
    }
    body.insert(body.end(), functional.begin(), functional.end());
    std::vector<uint8_t> out = {LIBUSB_DT_CONFIG_SIZE, LIBUSB_DT_CONFIG};
    put16(out, static_cast<uint16_t>(LIBUSB_DT_CONFIG_SIZE + body.size()));
    out.insert(out.end(), {configDescriptor.bNumInterfaces, configDescriptor.bConfigurationValue, configDescriptor.iConfiguration,
                           configDescriptor.bmAttributes, configDescriptor.MaxPower});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> UsbDescriptors::stringDescriptor(uint8_t index) const
{
    if (index == 0)
        return {4, LIBUSB_DT_STRING, 0x09, 0x04}; // English (US)
    if (index > strings.size())
        return {};
    const std::string &text = strings[index - 1u];
    std::vector<uint8_t> out = {static_cast<uint8_t>(2 + 2 * text.size()), LIBUSB_DT_STRING};
    for (char c : text)
        put16(out, static_cast<uint8_t>(c)); // UTF-16LE of ASCII
    return out;
}

} // namespace vu
