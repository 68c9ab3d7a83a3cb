#ifndef STROBIX_TESTS_FIRMWAREIMAGES_H
#define STROBIX_TESTS_FIRMWAREIMAGES_H

#include <QString>

// Builds the catalogue's images into `images` and the broken sets into `broken`
// with tools/firmware/make-images.sh (the script at `script`), both at once:
// that takes most of a test's setup time. Returns an empty string, or what went wrong.
QString buildFirmwareImages(const QString &script, const QString &images, const QString &broken);

#endif
