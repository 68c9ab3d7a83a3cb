#ifndef STROBIX_FIRMWARECATALOGUE_H
#define STROBIX_FIRMWARECATALOGUE_H

#include <QString>

namespace Strobix {

struct CatalogueEntry
{
    const char *imageName;
    const char *installText;
};

extern const CatalogueEntry firmwareCatalogue[17];
extern const char catalogueFallbackText[];

// The install dialog's text for the image at imagePath (the data folder
// followed by the image file name).
QString installTextFor(const QString &imagePath);

} // namespace Strobix

#endif
