#ifndef STROBIX_DRIVERREPAIR_H
#define STROBIX_DRIVERREPAIR_H

class QWidget;

namespace Strobix {

// Gives the unit our USB driver on Windows, with the installer's own call:
// driver\strobix-driver.exe install with the INF beside it, as an
// administrator. Also for a program unpacked from the zip, which had no
// installer to do it.
class DriverRepair
{
public:
    static const char toolPath[];
    static const char infPath[];
    static const char logPath[];

    // Asks Windows for the administrator's rights over window, runs the tool
    // and waits for it, then appends its outcome to dfu-util.log. True when
    // the tool ran and succeeded.
    static bool run(QWidget *window);
};

} // namespace Strobix

#endif
