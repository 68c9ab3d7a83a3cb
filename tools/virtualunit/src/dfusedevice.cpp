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
    : memory_(memory), fault_(fault), pointer_(memory.altSettings().front().base())
{
}

DfuseDevice::Presence DfuseDevice::presence() const
{
    if (gone_)
        return Presence::Gone;
    const bool dropped = installing_ && dataBlocks_ >= fault_.n;
    if (fault_.kind == Fault::StopAnswering && dropped)
        return Presence::Silent;
    if (fault_.kind == Fault::Unplug && dropped)
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
        data[0] = state_;
        return 1;
    case DFU_ABORT:
        return abort();
    default:
        return stall();
    }
}

int DfuseDevice::stall()
{
    state_ = dfuERROR;
    status_ = errSTALLEDPKT;
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
    if (state_ != dfuIDLE && state_ != dfuDNLOAD_IDLE)
        return stall();
    if (length == 0) {
        // End of download: manifest, i.e. leave for the application.
        if (state_ != dfuDNLOAD_IDLE)
            return stall();
        state_ = dfuMANIFEST_SYNC;
        return 0;
    }
    if (block == 1 || (block == 0 && !validCommand(data, length)))
        return stall();
    if (block == 0 && data[0] == CMD_ERASE)
        installing_ = true;
    pending_.assign(data, data + length);
    pendingBlock_ = block;
    state_ = dfuDNLOAD_SYNC;
    return length;
}

int DfuseDevice::upload(uint16_t block, uint8_t *data, uint16_t length)
{
    if (state_ != dfuIDLE && state_ != dfuUPLOAD_IDLE)
        return stall();
    if (block == 1)
        return stall();
    uint32_t got = 0;
    if (block == 0) {
        const uint8_t commands[] = {CMD_GET_COMMANDS, CMD_SET_ADDRESS, CMD_ERASE, CMD_READ_UNPROTECT};
        got = std::min<uint32_t>(sizeof commands, length);
        std::copy_n(commands, got, data);
    } else {
        const uint32_t address = pointer_ + uint32_t(block - 2) * kTransferSize;
        const DfuStatus result = memory_.read(alt_, address, data, length, got);
        if (result != OK) {
            state_ = dfuERROR;
            status_ = result;
            return LIBUSB_ERROR_PIPE;
        }
    }
    // A short frame ends the upload.
    state_ = got < length ? dfuIDLE : dfuUPLOAD_IDLE;
    return static_cast<int>(got);
}

int DfuseDevice::getStatus(uint8_t *data, uint16_t length)
{
    if (length < 6)
        return stall();
    if (failNextStatus_) {
        failNextStatus_ = false;
        return LIBUSB_ERROR_PIPE;
    }
    uint32_t poll = 0;
    DfuState reported = state_;
    switch (state_) {
    case dfuDNLOAD_SYNC:
        // The work starts with this request; the host hears "busy" and polls again.
        poll = execute();
        state_ = reported = dfuDNBUSY;
        break;
    case dfuDNBUSY:
        status_ = pendingResult_;
        state_ = reported = status_ == OK ? dfuDNLOAD_IDLE : dfuERROR;
        break;
    case dfuMANIFEST_SYNC:
        reported = dfuMANIFEST;
        gone_ = true; // resets into the application
        break;
    default:
        break;
    }
    data[0] = status_;
    data[1] = poll & 0xff;
    data[2] = (poll >> 8) & 0xff;
    data[3] = (poll >> 16) & 0xff;
    data[4] = reported;
    data[5] = 0;
    return 6;
}

int DfuseDevice::abort()
{
    if (state_ == dfuERROR || state_ == dfuDNBUSY || state_ == dfuMANIFEST_SYNC)
        return stall();
    state_ = dfuIDLE;
    if (fault_.kind == Fault::StatusFailAfterLast && dataBlocks_ > 0)
        failNextStatus_ = true; // the host aborts once, after the last block
    return 0;
}

int DfuseDevice::clearStatus()
{
    if (state_ != dfuERROR)
        return stall();
    state_ = dfuIDLE;
    status_ = OK;
    return 0;
}

uint32_t DfuseDevice::execute()
{
    if (pendingBlock_ == 0) {
        pendingResult_ = executeCommand();
        if (pending_[0] != CMD_ERASE)
            return kPollCommand;
        return pending_.size() == 1 ? kPollMassErase : kPollErasePage;
    }
    pendingResult_ = executeData();
    return programPoll();
}

DfuStatus DfuseDevice::executeCommand()
{
    const uint32_t address = pending_.size() == 5 ? le32(&pending_[1]) : 0;
    switch (pending_[0]) {
    case CMD_SET_ADDRESS:
        if (!memory_.altSettings()[size_t(alt_)].segmentAt(address))
            return errTARGET;
        pointer_ = address;
        return OK;
    case CMD_ERASE:
        return pending_.size() == 1 ? memory_.massErase(alt_) : memory_.erasePage(alt_, address);
    case CMD_READ_UNPROTECT:
        memory_.massErase(0);
        gone_ = true; // the unit resets after wiping itself
        return OK;
    }
    return errTARGET;
}

DfuStatus DfuseDevice::executeData()
{
    const uint32_t address = pointer_ + uint32_t(pendingBlock_ - 2) * kTransferSize;
    const auto length = static_cast<uint32_t>(pending_.size());
    ++dataBlocks_;
    if (fault_.kind == Fault::ProgramFail && dataBlocks_ == fault_.n) {
        memory_.program(alt_, address, pending_.data(), length / 2); // gave up halfway
        return errPROG;
    }
    return memory_.program(alt_, address, pending_.data(), length);
}

} // namespace vu
