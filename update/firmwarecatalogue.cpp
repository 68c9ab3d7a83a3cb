#include "update/firmwarecatalogue.h"

#include "app/globals.h"

namespace Strobix {

const CatalogueEntry firmwareCatalogue[17] = {
    {"SX2100b0.dfu", "Firmware Update X21 Canon"},
    {"SX2100b1.dfu", "Firmware Update X21 Nikon"},
    {"SX2100b2.dfu", "Firmware Update X21 Olympus"},
    {"SX2100b4.dfu", "Firmware Update X21 Sony"},
    {"SX2100b6.dfu", "Firmware Update X21 Fuji"},
    {"SX330190.dfu", "Firmware Update X33 Canon"},
    {"SX330191.dfu", "Firmware Update X33 Nikon"},
    {"SX330192.dfu", "Firmware Update X33 Olympus"},
    {"SX330193.dfu", "Firmware Update X33 Pentax"},
    {"SX330194.dfu", "Firmware Update X33 Sony"},
    {"SX330196.dfu", "Firmware Update X33 Fuji"},
    {"SX580170.dfu", "Firmware Update X58 Canon"},
    {"SX580171.dfu", "Firmware Update X58 Nikon"},
    {"SX580172.dfu", "Firmware Update X58 Olympus"},
    {"SX580173.dfu", "Firmware Update X58 Pentax"},
    {"SX580174.dfu", "Firmware Update X58 Sony"},
    {"SX0701a0.dfu", "Firmware Update X7"},
};

const char catalogueFallbackText[] = "Firmware Update";

QString installTextFor(const QString &imagePath)
{
    for (const CatalogueEntry &entry : firmwareCatalogue) {
        if (dataFolder + QString::fromLatin1(entry.imageName) == imagePath)
            return QString::fromLatin1(entry.installText);
    }
    return QString::fromLatin1(catalogueFallbackText);
}

} // namespace Strobix
