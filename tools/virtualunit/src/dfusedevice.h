#pragma once
// The bootloader's DFU interface: the DFU 1.1 state machine with the DfuSe commands,
// on top of the unit's memory.

#include "dfu.h"
#include "fault.h"
#include "hold.h"
#include "timing.h"
#include "unitmemory.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace vu {

class DfuseDevice {
public:
    DfuseDevice(UnitMemory &memory, Fault fault, Timing timing = Timing(), Hold hold = Hold());

    enum class Presence { Answering, Silent, Gone };
    // Whether the next request gets through at all.
    Presence presence() const;

    void setAltSetting(int setting) { alt = setting; }
    // A class request to the DFU interface. Returns the bytes transferred, or a
    // negative libusb error code (a stall is LIBUSB_ERROR_PIPE).
    int request(uint8_t request, uint16_t value, uint8_t *data, uint16_t length);

private:
    int download(uint16_t block, const uint8_t *data, uint16_t length);
    int upload(uint16_t block, uint8_t *data, uint16_t length);
    int getStatus(uint8_t *data, uint16_t length);
    int abort();
    int clearStatus();
    int stall();
    bool validCommand(const uint8_t *data, uint16_t length) const;
    uint32_t execute();
    DfuStatus executeCommand(Busy &busy);
    DfuStatus executeData(Busy &busy);

    UnitMemory &memory;
    const Fault fault;
    const Timing timing;
    const Hold hold;
    int alt = 0;
    DfuState state = dfuIDLE;
    DfuStatus status = OK;
    uint32_t pointer;
    std::vector<uint8_t> pending;
    uint16_t pendingBlock = 0;
    DfuStatus pendingResult = OK;
    std::chrono::steady_clock::time_point busyUntil;
    unsigned dataBlocks = 0;
    unsigned erases = 0;
    bool installing = false; // an erase was asked for
    bool failNextStatus = false;
    bool resetting = false;  // leaves the bus once the work is done
    bool gone = false;       // left DFU mode
};

} // namespace vu
