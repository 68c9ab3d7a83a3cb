#include "app/globals.h"

namespace Strobix {

QString dataFolder;

const char firmwareBaseUrl[] = STROBIX_FIRMWARE_BASE_URL;

const char firmwarePublicKeys[] = STROBIX_FIRMWARE_PUBLIC_KEYS;

const char organisationName[] = "Orvane kelvio GmbH";
const char organisationDomain[] = "kelvio.example";
const char applicationName[] = "strobix Firmware Updater";
const char homepageUrl[] = "https://www.kelvio.example/";

} // namespace Strobix
