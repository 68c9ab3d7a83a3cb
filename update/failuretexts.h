#ifndef STROBIX_FAILURETEXTS_H
#define STROBIX_FAILURETEXTS_H

// Every text that a message box of the updater shows, in one place so that a
// reviewer or a translator finds them together. German first, then English;
// where the cause alone does not say what to do, a second line does.
namespace Strobix {

extern const char updateOkText[];
extern const char updateNotOkText[];
extern const char toolNotFoundText[];
extern const char noDeviceText[];
extern const char noDriverText[];
extern const char accessDeniedText[];
extern const char unitInUseText[];
extern const char severalUnitsText[];
extern const char downloadFailureText[];
extern const char signatureFailureText[];
extern const char writeFailureText[];
extern const char anotherUpdateText[];
// The no-driver box's second button on Windows, and the box after it failed.
extern const char installDriverButtonText[];
extern const char driverNotInstalledText[];

} // namespace Strobix

#endif
