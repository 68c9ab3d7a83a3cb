#include "dfusefile.h"

#include <zlib.h>

QByteArray le32(quint32 value)
{
    const char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    return QByteArray(bytes, 4);
}

QByteArray resealed(QByteArray file)
{
    file.chop(4);
    // The suffix's CRC is zlib's without the final inversion.
    const auto crc = quint32(crc32(0L, reinterpret_cast<const Bytef *>(file.constData()), uInt(file.size())));
    return file + le32(~crc);
}

QByteArray dfuseTargets(const QList<QPair<quint8, DfuseElements>> &targets)
{
    QByteArray all;
    for (const auto &target : targets) {
        QByteArray body;
        for (const auto &element : target.second)
            body += le32(element.first) + le32(quint32(element.second.size())) + element.second;
        all += "Target" + QByteArray(1, char(target.first)) + le32(0) + QByteArray(255, '\0')
               + le32(quint32(body.size())) + le32(quint32(target.second.size())) + body;
    }
    // bcdDevice, idProduct, idVendor, bcdDFU 1.1a, "UFD", its length, CRC
    const QByteArray suffix = QByteArray(2, '\0') + le32(quint32(0x0483) << 16 | 0xdf11)
                              + QByteArray::fromHex("1a01") + "UFD\x10" + le32(0);
    return resealed("DfuSe\x01" + le32(quint32(11 + all.size() + 16)) + char(targets.size()) + all + suffix);
}

QByteArray dfuseFile(const DfuseElements &elements, quint16 vendor, quint16 product)
{
    QByteArray file = dfuseTargets({{0, elements}});
    file.replace(file.size() - 14, 4, le32(quint32(vendor) << 16 | product));
    return resealed(file);
}
