#ifndef STROBIX_RELEASECHECK_RELEASERULES_H
#define STROBIX_RELEASECHECK_RELEASERULES_H

#include "dfu/dfuseimage.h"

namespace ReleaseCheck {

// Reads file with the updater's DfuSe reader, then holds it to what a release
// needs beyond what the updater accepts: made for 0483:df11 by name, a prefix
// that gives the file's size, and only elements for alternate setting 0, the
// one the updater writes. Returns the first problem, or an empty string and
// the image.
QString checkReleaseImage(const QByteArray &file, Strobix::DfuseImage &image);

} // namespace ReleaseCheck

#endif
