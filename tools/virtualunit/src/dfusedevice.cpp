#include "dfusedevice.h"

#include <cstdlib>

#include <algorithm>
#include <libusb.h>

namespace vu {

namespace {

// Poll timeouts in ms: short, because the host sleeps for each; never exactly 100
// on a mass erase, which the host would stretch to 35 s.
constexpr uint32_t kPollCommand = 1;
constexpr uint32_t kPollErasePage = 2;
constexpr uint32_t kPollMassErase = 20;
constexpr uint32_t kPollProgram = 1;

// STROBIX_VU_PROGRAM_MS slows programming down to the pace of a real unit, so that
// a person (or a screenshot) can watch the progress; the tool sleeps this long per block.
uint32_t programPoll()
{
    static const uint32_t poll = [] {
        const char *value = std::getenv("STROBIX_VU_PROGRAM_MS");
        const long ms = value ? std::strtol(value, nullptr, 10) : 0;
        return ms > 0 && ms < 10000 ? uint32_t(ms) : kPollProgram;
    }();
    return poll;
}

uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

DfuseDevice::DfuseDevice(UnitMemory &memory, Fault fault)
    : memory(memory), fault(fault), pointer(memory.altSettings().front().base())
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
    if (state != dfuIDLE && state != dfuDNLOAD_IDLE)
        return stall();
    if (length == 0) {
        // End of download: manifest, i.e. leave for the application.
        if (state != dfuDNLOAD_IDLE)
            return stall();
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
    if (state != dfuIDLE && state != dfuUPLOAD_IDLE)
        return stall();
    if (block == 1)
        return stall();
    uint32_t got = 0;
    if (block == 0) {
        const uint8_t commands[] = {CMD_GET_COMMANDS, CMD_SET_ADDRESS, CMD_ERASE, CMD_READ_UNPROTECT};
        got = std::min<uint32_t>(sizeof commands, length);
        std::copy_n(commands, got, data);
    } else {
        const uint32_t address = pointer + uint32_t(block - 2) * kTransferSize;
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
    if (pendingBlock == 0) {
        pendingResult = executeCommand();
        if (pending[0] != CMD_ERASE)
            return kPollCommand;
        return pending.size() == 1 ? kPollMassErase : kPollErasePage;
    }
    pendingResult = executeData();
    return programPoll();
}

DfuStatus DfuseDevice::executeCommand()
{
    const uint32_t address = pending.size() == 5 ? le32(&pending[1]) : 0;
    switch (pending[0]) {
    case CMD_SET_ADDRESS:
        if (!memory.altSettings()[size_t(alt)].segmentAt(address))
            return errTARGET;
        pointer = address;
        return OK;
    case CMD_ERASE:
        return pending.size() == 1 ? memory.massErase(alt) : memory.erasePage(alt, address);
    case CMD_READ_UNPROTECT:
        memory.massErase(0);
        gone = true; // the unit resets after wiping itself
        return OK;
    }
    return errTARGET;
}

DfuStatus DfuseDevice::executeData()
{
    const uint32_t address = pointer + uint32_t(pendingBlock - 2) * kTransferSize;
    const auto length = static_cast<uint32_t>(pending.size());
    ++dataBlocks;
    if (fault.kind == Fault::ProgramFail && dataBlocks == fault.n) {
        memory.program(alt, address, pending.data(), length / 2); // gave up halfway
        return errPROG;
    }
    return memory.program(alt, address, pending.data(), length);
}

} // namespace vu
