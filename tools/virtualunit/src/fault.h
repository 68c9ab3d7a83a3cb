#pragma once
// Misbehaviour a test can ask of the unit for one run of the host tool.

#include <string>

namespace vu {

struct Fault {
    enum Kind {
        None,
        Absent,             // no unit on the bus
        ProgramFail,        // data block n fails to program (errPROG), half of it written
        StatusFailAfterLast,// everything written, then the closing status request stalls
        StopAnswering,      // during an installation, silent after n data blocks: requests time out
        Unplug,             // during an installation, gone after n data blocks
        ReadProtected,      // read protection level 1: every read, erase and write fails
        WriteProtected,     // flash sector n is write-protected: its erase does nothing
        NoAccess,           // open refused: the user may not use the unit
        NoDriver,           // open refused as libusb's Windows backend refuses a unit without WinUSB
        Busy,               // claiming the interface refused: another program holds it
        TwoUnits            // a second unit in DFU mode on the bus
    };
    Kind kind = None;
    unsigned n = 0;

    // "none", "absent", "program-fail:N", "status-fail-after-last",
    // "stop-answering[:N]", "unplug[:N]", "read-protected", "write-protected:N",
    // "no-access", "no-driver", "busy", "two-units".
    // Throws std::invalid_argument.
    static Fault parse(const std::string &text);
};

} // namespace vu
