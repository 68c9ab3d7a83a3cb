#ifndef STROBIX_RELEASECHECK_DFUSECHECK_H
#define STROBIX_RELEASECHECK_DFUSECHECK_H

#include <QByteArray>
#include <QString>
#include <QVector>

namespace ReleaseCheck {

struct Element
{
    quint32 address = 0;
    QByteArray data;
};

// The DFU suffix's CRC: reflected CRC-32 (0xEDB88320) from 0xFFFFFFFF, no final XOR.
quint32 dfuCrc(const char *data, int size);

// Checks that file is a well-formed DfuSe image for vendor:product that the
// updater's installation (alternate setting 0) writes whole. Returns the first
// problem found, or an empty string; on success, elements holds the image's
// elements in file order.
QString checkDfuseImage(const QByteArray &file, quint16 vendor, quint16 product,
                        QVector<Element> *elements);

} // namespace ReleaseCheck

#endif
