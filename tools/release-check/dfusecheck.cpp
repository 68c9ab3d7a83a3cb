#include "dfusecheck.h"

#include <QtEndian>

namespace ReleaseCheck {

namespace {

constexpr int prefixSize = 11;
constexpr int targetPrefixSize = 274;
constexpr int elementHeaderSize = 8;
constexpr int suffixSize = 16;
constexpr quint16 dfuVersion = 0x011a;

QString hex(quint32 value, int digits)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

QString deviceId(quint16 vendor, quint16 product)
{
    return QStringLiteral("%1:%2").arg(vendor, 4, 16, QLatin1Char('0')).arg(product, 4, 16, QLatin1Char('0'));
}

} // namespace

quint32 dfuCrc(const char *data, int size)
{
    quint32 crc = 0xffffffffu;
    for (int i = 0; i < size; ++i) {
        crc ^= quint8(data[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc;
}

QString checkDfuseImage(const QByteArray &file, quint16 vendor, quint16 product,
                        QVector<Element> *elements)
{
    const auto *bytes = reinterpret_cast<const uchar *>(file.constData());
    const qint64 size = file.size();
    const auto u16 = [bytes](qint64 at) { return qFromLittleEndian<quint16>(bytes + at); };
    const auto u32 = [bytes](qint64 at) { return qFromLittleEndian<quint32>(bytes + at); };

    if (size < prefixSize + suffixSize)
        return QStringLiteral("%1 bytes, too short for a DfuSe image").arg(size);
    if (!file.startsWith("DfuSe"))
        return QStringLiteral("no DfuSe prefix");
    if (bytes[5] != 1)
        return QStringLiteral("DfuSe version %1, not 1").arg(bytes[5]);
    // A file cut short (or padded) on its way to the server shows here first.
    if (u32(6) != size)
        return QStringLiteral("prefix image size %1, but the file has %2 bytes").arg(u32(6)).arg(size);

    const qint64 suffix = size - suffixSize;
    if (file.mid(int(suffix) + 8, 3) != "UFD")
        return QStringLiteral("no DFU suffix (signature \"UFD\" missing)");
    if (bytes[suffix + 11] != suffixSize)
        return QStringLiteral("suffix length %1, not %2").arg(bytes[suffix + 11]).arg(suffixSize);
    if (u16(suffix + 6) != dfuVersion)
        return QStringLiteral("suffix bcdDFU %1, not %2").arg(hex(u16(suffix + 6), 4), hex(dfuVersion, 4));
    if (u16(suffix + 4) != vendor || u16(suffix + 2) != product)
        return QStringLiteral("suffix is for %1, not %2")
            .arg(deviceId(u16(suffix + 4), u16(suffix + 2)), deviceId(vendor, product));
    const quint32 crc = dfuCrc(file.constData(), int(size - 4));
    if (u32(suffix + 12) != crc)
        return QStringLiteral("suffix CRC mismatch (file %1, computed %2)").arg(hex(u32(suffix + 12), 8), hex(crc, 8));

    const int targets = bytes[10];
    if (targets == 0)
        return QStringLiteral("no targets");
    QVector<Element> found;
    qint64 at = prefixSize;
    for (int t = 1; t <= targets; ++t) {
        if (suffix - at < targetPrefixSize)
            return QStringLiteral("target %1 of %2 runs into the suffix").arg(t).arg(targets);
        if (file.mid(int(at), 6) != "Target")
            return QStringLiteral("target %1 has no \"Target\" signature").arg(t);
        // The updater writes with -a 0; dfu-util skips other settings' elements and still succeeds.
        if (bytes[at + 6] != 0)
            return QStringLiteral("target %1 is for alternate setting %2, the updater writes 0")
                .arg(t)
                .arg(bytes[at + 6]);
        const quint32 targetSize = u32(at + 266);
        const quint32 count = u32(at + 270);
        if (count == 0)
            return QStringLiteral("target %1 has no elements").arg(t);
        at += targetPrefixSize;
        if (targetSize > quint64(suffix - at))
            return QStringLiteral("target %1 size %2 runs into the suffix").arg(t).arg(targetSize);
        const qint64 end = at + targetSize;
        for (quint32 e = 1; e <= count; ++e) {
            if (end - at < elementHeaderSize)
                return QStringLiteral("target %1: element %2 of %3 lies beyond the target size %4")
                    .arg(t).arg(e).arg(count).arg(targetSize);
            Element element;
            element.address = u32(at);
            const quint32 elementSize = u32(at + 4);
            at += elementHeaderSize;
            if (elementSize > quint64(end - at))
                return QStringLiteral("target %1: element %2 (%3 bytes) runs past the target size %4")
                    .arg(t).arg(e).arg(elementSize).arg(targetSize);
            if (elementSize == 0)
                return QStringLiteral("target %1: element %2 is empty").arg(t).arg(e);
            element.data = file.mid(int(at), int(elementSize));
            at += elementSize;
            found << element;
        }
        if (at != end)
            return QStringLiteral("target %1: its %2 elements take %3 bytes, its size says %4")
                .arg(t).arg(count).arg(targetSize - (end - at)).arg(targetSize);
    }
    if (at != suffix)
        return QStringLiteral("%1 stray bytes between the last target and the suffix").arg(suffix - at);
    if (elements)
        *elements = found;
    return QString();
}

} // namespace ReleaseCheck
