#ifndef STROBIX_DFUSEIMAGE_H
#define STROBIX_DFUSEIMAGE_H

#include <QByteArray>
#include <QString>
#include <QVector>

namespace Strobix {

// A DfuSe file as dfu-util writes it into the unit: a prefix, targets that
// hold the elements (an address and the bytes that go there), a DFU suffix.
struct DfuseImage
{
    struct Element
    {
        quint8 alternate = 0;
        quint32 address = 0;
        QByteArray data;
    };

    quint16 vendor = 0;
    quint16 product = 0;
    QVector<Element> elements;

    // Checks the prefix, the size of every target and element against the
    // file (none may be empty), and the suffix: signature, length, DFU
    // version and CRC. Returns the first problem found, or an empty string;
    // then, if image is given, fills it in.
    static QString read(const QByteArray &file, DfuseImage *image = nullptr);

    // Whether dfu-util takes it for vendor:product; 0xffff in the file matches any.
    bool isFor(quint16 deviceVendor, quint16 deviceProduct) const;

    // The suffix's CRC: reflected CRC-32 (0xEDB88320) from 0xFFFFFFFF, no final XOR.
    static quint32 crc(const char *data, int size);
};

} // namespace Strobix

#endif
