#pragma once
// Numbers of the DFU 1.1 protocol with the DfuSe extensions.

#include <cstdint>

namespace vu {

enum DfuRequest : uint8_t {
    DFU_DETACH = 0, DFU_DNLOAD = 1, DFU_UPLOAD = 2, DFU_GETSTATUS = 3,
    DFU_CLRSTATUS = 4, DFU_GETSTATE = 5, DFU_ABORT = 6
};

enum DfuState : uint8_t {
    appIDLE = 0, appDETACH = 1, dfuIDLE = 2, dfuDNLOAD_SYNC = 3, dfuDNBUSY = 4,
    dfuDNLOAD_IDLE = 5, dfuMANIFEST_SYNC = 6, dfuMANIFEST = 7, dfuMANIFEST_WAIT_RESET = 8,
    dfuUPLOAD_IDLE = 9, dfuERROR = 10
};

enum DfuStatus : uint8_t {
    OK = 0x00, errTARGET = 0x01, errFILE = 0x02, errWRITE = 0x03, errERASE = 0x04,
    errCHECK_ERASED = 0x05, errPROG = 0x06, errVERIFY = 0x07, errADDRESS = 0x08,
    errNOTDONE = 0x09, errFIRMWARE = 0x0A, errVENDOR = 0x0B, errUSBR = 0x0C,
    errPOR = 0x0D, errUNKNOWN = 0x0E, errSTALLEDPKT = 0x0F
};

// DfuSe commands, sent as DNLOAD block 0.
enum DfuseCommand : uint8_t {
    CMD_GET_COMMANDS = 0x00, CMD_SET_ADDRESS = 0x21, CMD_ERASE = 0x41, CMD_READ_UNPROTECT = 0x92
};

constexpr uint16_t kTransferSize = 2048;

} // namespace vu
