#include "update/failuretexts.h"

#include <QtGlobal>

namespace Strobix {

const char updateOkText[] = "Firmware Update ok";
const char updateNotOkText[] = "Firmware upgrade NOT ok!";
const char toolNotFoundText[] = "dfu-util nicht gefunden / not found";
const char noDeviceText[] = "Kein kompatibles Gerät gefunden / No compatible device found";

#ifdef Q_OS_WIN
const char noDriverText[] =
    "Blitzgerät gefunden, aber ohne passenden USB-Treiber / Flash unit found, but without a suitable USB driver\n"
    "Klicken Sie auf „Treiber installieren“ und bestätigen Sie die Frage von Windows / "
    "Click \"Install driver\" and confirm Windows' question";
#else
const char noDriverText[] =
    "Blitzgerät gefunden, aber ohne passenden USB-Treiber / Flash unit found, but without a suitable USB driver\n"
    "Trennen Sie das Gerät, schließen Sie es neu an und klicken Sie erneut auf Start / "
    "Disconnect the unit, connect it again and press Start again";
#endif
// Linux only: Windows has no access rights on a unit, and the identification
// reads a refused open there as a unit in use.
const char accessDeniedText[] =
    "Blitzgerät gefunden, aber kein Zugriff erlaubt / Flash unit found, but access is denied\n"
    "Installieren Sie das Paket dfu-util (seine udev-Regel erlaubt den Zugriff), schließen Sie das Gerät neu an "
    "und starten Sie das Programm in der Sitzung am Bildschirm des Rechners / "
    "Install the dfu-util package (its udev rule grants access), connect the unit again "
    "and run the program in the session at the computer's own screen";

const char unitInUseText[] =
    "Blitzgerät wird von einem anderen Programm benutzt / Flash unit is in use by another program\n"
    "Beenden Sie andere Update- und Programmierwerkzeuge, dann klicken Sie erneut auf Start / "
    "Quit other update and programming tools, then press Start again";
const char severalUnitsText[] =
    "Mehr als ein Gerät im Update-Modus angeschlossen / More than one device in update mode connected\n"
    "Trennen Sie alle Geräte bis auf das Blitzgerät, dann klicken Sie erneut auf Start / "
    "Disconnect every device but the flash unit, then press Start again";
const char downloadFailureText[] = "Kann Imagedatei nicht herunterladen / Cannot download image file";
const char signatureFailureText[] = "Signatur der Imagedatei fehlt oder ist ungültig / Image file signature missing or invalid";
const char writeFailureText[] = "Datei kann nicht geschrieben werden! / Cannot write local file!";
const char anotherUpdateText[] = "Eine andere Aktualisierung läuft bereits / Another update is already running";

const char installDriverButtonText[] = "Treiber installieren / Install driver";
const char driverNotInstalledText[] =
    "USB-Treiber wurde nicht installiert: abgelehnt oder fehlgeschlagen / "
    "USB driver not installed: declined or failed\n"
    "Der Grund steht in driver\\install.log im Programmordner und in dfu-util.log / "
    "The reason is in driver\\install.log in the program folder and in dfu-util.log";

} // namespace Strobix
