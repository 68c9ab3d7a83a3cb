#include "dfu/dfuseimage.h"

#include <QtEndian>

namespace Strobix {

namespace {

const int prefixSize = 11;
const int targetPrefixSize = 274;
const int elementHeaderSize = 8;
const int suffixSize = 16;
const quint16 dfuseVersion = 0x011a;
const quint16 anyId = 0xffff;

} // namespace

quint32 DfuseImage::crc(const char *data, int size)
{
    quint32 crc = 0xffffffffu;
    for (int i = 0; i < size; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc;
}

QString DfuseImage::read(const QByteArray &file, DfuseImage *image)
{
    const auto *bytes = reinterpret_cast<const uchar *>(file.constData());
    const qint64 size = file.size();
    const auto u16 = [bytes](qint64 at) { return qFromLittleEndian<quint16>(bytes + at); };
    const auto u32 = [bytes](qint64 at) { return qFromLittleEndian<quint32>(bytes + at); };

    if (size < prefixSize + suffixSize || !file.startsWith("DfuSe") || bytes[5] != 1)
        return QStringLiteral("no DfuSe prefix");
    const qint64 suffix = size - suffixSize;
    if (file.mid(int(suffix) + 8, 3) != "UFD" || bytes[suffix + 11] != suffixSize)
        return QStringLiteral("no DFU suffix");
    if (u16(suffix + 6) != dfuseVersion)
        return QStringLiteral("DFU version %1, not 1.1a").arg(u16(suffix + 6), 4, 16, QLatin1Char('0'));
    // A file cut short or spoilt on its way shows here, whatever its parts say.
    if (u32(suffix + 12) != crc(file.constData(), int(size - 4)))
        return QStringLiteral("suffix CRC does not match");

    const int targets = bytes[10];
    if (targets == 0)
        return QStringLiteral("no targets");
    QVector<Element> found;
    qint64 at = prefixSize;
    for (int t = 1; t <= targets; ++t) {
        if (suffix - at < targetPrefixSize || file.mid(int(at), 6) != "Target")
            return QStringLiteral("target %1 is missing").arg(t);
        const quint8 alternate = bytes[at + 6];
        const quint32 targetSize = u32(at + 266);
        const quint32 count = u32(at + 270);
        at += targetPrefixSize;
        if (targetSize > quint64(suffix - at))
            return QStringLiteral("target %1 runs into the suffix").arg(t);
        const qint64 end = at + targetSize;
        // dfu-util refuses a file with an empty target or element: it could never be installed.
        if (count == 0)
            return QStringLiteral("target %1 has no elements").arg(t);
        for (quint32 e = 1; e <= count; ++e) {
            if (end - at < elementHeaderSize || u32(at + 4) > quint64(end - at - elementHeaderSize))
                return QStringLiteral("target %1: element %2 runs past the target").arg(t).arg(e);
            const quint32 elementSize = u32(at + 4);
            if (elementSize == 0)
                return QStringLiteral("target %1: element %2 is empty").arg(t).arg(e);
            if (image)
                found.append({alternate, u32(at), file.mid(int(at + elementHeaderSize), int(elementSize))});
            at += elementHeaderSize + elementSize;
        }
        if (at != end)
            return QStringLiteral("target %1: its elements do not fill it").arg(t);
    }
    if (at != suffix)
        return QStringLiteral("stray bytes before the suffix");
    if (image) {
        image->product = u16(suffix + 2);
        image->vendor = u16(suffix + 4);
        image->elements = found;
    }
    return QString();
}

bool DfuseImage::isFor(quint16 deviceVendor, quint16 deviceProduct) const
{
    return (vendor == anyId || vendor == deviceVendor) && (product == anyId || product == deviceProduct);
}

} // namespace Strobix
