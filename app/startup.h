#ifndef STROBIX_STARTUP_H
#define STROBIX_STARTUP_H

#include "app/globals.h"

#include <QString>

namespace Strobix {

class Application;

// Lets Qt scale the whole interface with the display's scaling (125 %, 150 %,
// 200 %), before the application object exists.
void useHighDpiScaling();

// Organisation name and domain, application name; the data location derives from them.
void setApplicationIdentity();

// The download goes through the desktop's proxy, as users behind one expect.
void useSystemProxy();

// Creates the data location and its "kelvio" subfolder and sets dataFolder.
// Failures are not reported here: whoever writes into the folder meets them.
void prepareDataFolder();

// Shows the main window and runs the event loop, downloads going through the
// desktop's proxy. Returns the loop's exit code, or -1 after a failure text
// escaped it (shown in a critical box first). publicKeys: as for FirmwareUpdater.
int runMainWindow(Application &app, const QString &publicKeys = QLatin1String(firmwarePublicKeys));

} // namespace Strobix

#endif
