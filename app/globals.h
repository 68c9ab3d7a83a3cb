#ifndef STROBIX_GLOBALS_H
#define STROBIX_GLOBALS_H

#include <QString>

namespace Strobix {

// The folder of every file the updater writes; ends in "/". Written once at
// start-up before any thread exists, read-only afterwards.
extern QString dataFolder;

// Base URL of the firmware server (UTF-8), fixed at build time; ends in "/firmware/".
extern const char firmwareBaseUrl[];

// The maker's minisign public keys (base64, as `minisign -P` takes them),
// separated by ';'. Empty: images need no signature. Fixed at build time.
extern const char firmwarePublicKeys[];

extern const char organisationName[];
extern const char organisationDomain[];
extern const char applicationName[];
extern const char homepageUrl[];

} // namespace Strobix

#endif
