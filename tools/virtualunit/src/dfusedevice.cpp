#include "dfusedevice.h"

#include <algorithm>
#include <libusb.h>
#include <thread>

namespace vu {

namespace {

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

DfuseDevice::DfuseDevice(UnitMemory &memory, Fault fault, Timing timing, Hold hold)
    : memory(memory), fault(fault), timing(timing), hold(hold), pointer(memory.altSettings().front().base())
{
}

DfuseDevice::Presence DfuseDevice::presence() const
{
    if (gone)
        return Presence::Gone;
    const bool dropped = installing && dataBlocks >= fault.n;
    if (fault.kind == Fault::StopAnswering && dropped)
        return Presence::Silent;
    if (fault.kind == Fault::Unplug && dropped)
        return Presence::Gone;
    return Presence::Answering;
}

int DfuseDevice::request(uint8_t request, uint16_t value, uint8_t *data, uint16_t length)
{
    switch (request) {
    case DFU_DETACH:
        return 0; // a DfuSe bootloader stays where it is
    case DFU_DNLOAD:
        return download(value, data, length);
    case DFU_UPLOAD:
        return upload(value, data, length);
    case DFU_GETSTATUS:
        return getStatus(data, length);
    case DFU_CLRSTATUS:
        return clearStatus();
    case DFU_GETSTATE:
        if (length < 1)
            return stall();
        data[0] = state;
        return 1;
    case DFU_ABORT:
        return abort();
    default:
        return stall();
    }
}

int DfuseDevice::stall()
{
    state = dfuERROR;
    status = errSTALLEDPKT;
    return LIBUSB_ERROR_PIPE;
}

bool DfuseDevice::validCommand(const uint8_t *data, uint16_t length) const
{
    switch (data[0]) {
    case CMD_SET_ADDRESS: return length == 5;
    case CMD_ERASE: return length == 1 || length == 5;
    case CMD_READ_UNPROTECT: return length == 1;
    default: return false;
    }
}

int DfuseDevice::download(uint16_t block, const uint8_t *data, uint16_t length)
{
    if ((state != dfuIDLE && state != dfuDNLOAD_IDLE) || length > kTransferSize)
        return stall();
    if (length == 0) {
        // "Leave": manifest, i.e. start the application, after a download or without one.
        state = dfuMANIFEST_SYNC;
        return 0;
    }
    if (block == 1 || (block == 0 && !validCommand(data, length)))
        return stall();
    if (block == 0 && data[0] == CMD_ERASE)
        installing = true;
    pending.assign(data, data + length);
    pendingBlock = block;
    state = dfuDNLOAD_SYNC;
    return length;
}

int DfuseDevice::upload(uint16_t block, uint8_t *data, uint16_t length)
{
    if ((state != dfuIDLE && state != dfuUPLOAD_IDLE) || block == 1 || length > kTransferSize)
        return stall();
    uint32_t got = 0;
    if (block == 0) {
        const uint8_t commands[] = {CMD_GET_COMMANDS, CMD_SET_ADDRESS, CMD_ERASE, CMD_READ_UNPROTECT};
        got = std::min<uint32_t>(sizeof commands, length);
        std::copy_n(commands, got, data);
    } else {
        // By the request's own length, unlike a download.
        const uint32_t address = pointer + uint32_t(block - 2) * length;
        const DfuStatus result = memory.read(alt, address, data, length, got);
        if (result != OK) {
            state = dfuERROR;
            status = result;
            return LIBUSB_ERROR_PIPE;
        }
    }
    // A short frame ends the upload.
    state = got < length ? dfuIDLE : dfuUPLOAD_IDLE;
    return static_cast<int>(got);
}

int DfuseDevice::getStatus(uint8_t *data, uint16_t length)
{
    if (length < 6)
        return stall();
    if (failNextStatus) {
        failNextStatus = false;
        return LIBUSB_ERROR_PIPE;
    }
    uint32_t poll = 0;
    DfuState reported = state;
    switch (state) {
    case dfuDNLOAD_SYNC:
        // The work starts with this request; the host hears "busy" and polls again.
        poll = execute();
        state = reported = dfuDNBUSY;
        break;
    case dfuDNBUSY:
        std::this_thread::sleep_until(busyUntil);
        if (resetting) {
            gone = true; // the part restarts without an answer
            return LIBUSB_ERROR_NO_DEVICE;
        }
        status = pendingResult;
        state = reported = status == OK ? dfuDNLOAD_IDLE : dfuERROR;
        break;
    case dfuMANIFEST_SYNC:
        reported = dfuMANIFEST;
        gone = true; // resets into the application
        break;
    default:
        break;
    }
    data[0] = status;
    data[1] = poll & 0xff;
    data[2] = (poll >> 8) & 0xff;
    data[3] = (poll >> 16) & 0xff;
    data[4] = reported;
    data[5] = 0;
    return 6;
}

int DfuseDevice::abort()
{
    if (state == dfuERROR || state == dfuDNBUSY || state == dfuMANIFEST_SYNC)
        return stall();
    state = dfuIDLE;
    if (fault.kind == Fault::StatusFailAfterLast && dataBlocks > 0)
        failNextStatus = true; // the host aborts once, after the last block
    return 0;
}

int DfuseDevice::clearStatus()
{
    if (state != dfuERROR)
        return stall();
    state = dfuIDLE;
    status = OK;
    return 0;
}

uint32_t DfuseDevice::execute()
{
    Busy busy = timing.command();
    pendingResult = pendingBlock == 0 ? executeCommand(busy) : executeData(busy);
    busyUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(busy.micros);
    return busy.pollMs;
}

DfuStatus DfuseDevice::executeCommand(Busy &busy)
{
    const uint32_t address = pending.size() == 5 ? le32(&pending[1]) : 0;
    const AltSetting &setting = memory.altSettings()[size_t(alt)];
    switch (pending[0]) {
    case CMD_SET_ADDRESS:
        if (!setting.segmentAt(address))
            return errTARGET;
        pointer = address;
        return OK;
    case CMD_ERASE:
        hold.at(Hold::Erase, ++erases);
        if (pending.size() == 1) {
            busy = timing.massErase(setting);
            return memory.massErase(alt);
        }
        if (const Segment *s = setting.segmentAt(address))
            busy = timing.erase(setting, s->pageSize);
        return memory.erasePage(alt, address);
    case CMD_READ_UNPROTECT:
        busy = timing.massErase(memory.altSettings().front());
        memory.readUnprotect();
        gone = true; // the unit resets after wiping itself
        return OK;
    }
    return errTARGET;
}

DfuStatus DfuseDevice::executeData(Busy &busy)
{
    const AltSetting &setting = memory.altSettings()[size_t(alt)];
    const uint32_t address = pointer + uint32_t(pendingBlock - 2) * kTransferSize;
    const auto length = static_cast<uint32_t>(pending.size());
    busy = timing.program(setting, length);
    ++dataBlocks;
    hold.at(Hold::Block, dataBlocks);
    if (fault.kind == Fault::ProgramFail && dataBlocks == fault.n) {
        memory.program(alt, address, pending.data(), length / 2); // gave up halfway
        return errPROG;
    }
    const DfuStatus result = memory.program(alt, address, pending.data(), length);
    // New option bytes take effect through a reset.
    resetting = result == OK && setting.medium == Medium::OptionBytes;
    return result;
}

} // namespace vu
