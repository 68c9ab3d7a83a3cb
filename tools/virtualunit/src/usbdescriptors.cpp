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
    strings_ = {"Strobix", "Strobix flash unit in DFU mode", profile.serialNumber()};
    const auto alts = profile.altSettings();
    for (const AltSetting &alt : alts)
        strings_.push_back(alt.name);

    // bmAttributes: can download, can upload, will detach. bcdDFU 1.1a = DfuSe.
    functional_ = {9, kDfuFunctionalType, 0x0b, 0xff, 0x00};
    put16(functional_, kTransferSize);
    put16(functional_, 0x011a);

    for (size_t i = 0; i < alts.size(); ++i) {
        libusb_interface_descriptor d{};
        d.bLength = LIBUSB_DT_INTERFACE_SIZE;
        d.bDescriptorType = LIBUSB_DT_INTERFACE;
        d.bAlternateSetting = static_cast<uint8_t>(i);
        d.bInterfaceClass = 0xfe;
        d.bInterfaceSubClass = 1;
        d.bInterfaceProtocol = 2;
        d.iInterface = static_cast<uint8_t>(kFirstAltString + i);
        alts_.push_back(d);
    }
    // The functional descriptor follows the last alternate setting.
    alts_.back().extra = functional_.data();
    alts_.back().extra_length = static_cast<int>(functional_.size());
    interface_.altsetting = alts_.data();
    interface_.num_altsetting = static_cast<int>(alts_.size());

    config_.bLength = LIBUSB_DT_CONFIG_SIZE;
    config_.bDescriptorType = LIBUSB_DT_CONFIG;
    config_.bNumInterfaces = 1;
    config_.bConfigurationValue = 1;
    config_.bmAttributes = 0xc0;
    config_.MaxPower = 50;
    config_.interface = &interface_;
    config_.wTotalLength = static_cast<uint16_t>(serializedConfig().size());

    device_.bLength = LIBUSB_DT_DEVICE_SIZE;
    device_.bDescriptorType = LIBUSB_DT_DEVICE;
    device_.bcdUSB = 0x0200;
    device_.bMaxPacketSize0 = 64;
    device_.idVendor = 0x0483;
    device_.idProduct = 0xdf11;
    device_.bcdDevice = 0x2200;
    device_.iManufacturer = 1;
    device_.iProduct = 2;
    device_.iSerialNumber = 3;
    device_.bNumConfigurations = 1;
}

int UsbDescriptors::get(uint16_t value, uint8_t *data, uint16_t length) const
{
    std::vector<uint8_t> bytes;
    switch (value >> 8) {
    case LIBUSB_DT_DEVICE: bytes = serializedDevice(); break;
    case LIBUSB_DT_CONFIG: bytes = serializedConfig(); break;
    case LIBUSB_DT_STRING: bytes = stringDescriptor(value & 0xff); break;
    case kDfuFunctionalType: bytes = functional_; break;
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
    const auto &d = device_;
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
    for (const auto &a : alts_) {
        body.insert(body.end(), {a.bLength, a.bDescriptorType, a.bInterfaceNumber, a.bAlternateSetting,
                                 a.bNumEndpoints, a.bInterfaceClass, a.bInterfaceSubClass,
                                 a.bInterfaceProtocol, a.iInterface});
    }
    body.insert(body.end(), functional_.begin(), functional_.end());
    std::vector<uint8_t> out = {LIBUSB_DT_CONFIG_SIZE, LIBUSB_DT_CONFIG};
    put16(out, static_cast<uint16_t>(LIBUSB_DT_CONFIG_SIZE + body.size()));
    out.insert(out.end(), {config_.bNumInterfaces, config_.bConfigurationValue, config_.iConfiguration,
                           config_.bmAttributes, config_.MaxPower});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> UsbDescriptors::stringDescriptor(uint8_t index) const
{
    if (index == 0)
        return {4, LIBUSB_DT_STRING, 0x09, 0x04}; // English (US)
    if (index > strings_.size())
        return {};
    const std::string &text = strings_[index - 1u];
    std::vector<uint8_t> out = {static_cast<uint8_t>(2 + 2 * text.size()), LIBUSB_DT_STRING};
    for (char c : text)
        put16(out, static_cast<uint8_t>(c)); // UTF-16LE of ASCII
    return out;
}

} // namespace vu
