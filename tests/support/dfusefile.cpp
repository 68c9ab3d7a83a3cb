#include "dfusefile.h"

#include "dfu/dfuseimage.h"

QByteArray le32(quint32 value)
{
    const char bytes[4] = {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
    return QByteArray(bytes, 4);
}

QByteArray resealed(QByteArray file)
{
    file.chop(4);
    return file + le32(Strobix::DfuseImage::crc(file.constData(), file.size()));
}

QByteArray dfuseFile(const QList<QPair<quint32, QByteArray>> &elements, quint16 vendor, quint16 product)
{
    QByteArray body;
    for (const auto &element : elements)
        body += le32(element.first) + le32(quint32(element.second.size())) + element.second;
    const QByteArray target = "Target" + QByteArray(1, '\0') + le32(0) + QByteArray(255, '\0')
                              + le32(quint32(body.size())) + le32(quint32(elements.size())) + body;
    // bcdDevice, idProduct, idVendor, bcdDFU 1.1a, "UFD", its length, CRC
    const QByteArray suffix = QByteArray(2, '\0') + le32(quint32(vendor) << 16 | product)
                              + QByteArray::fromHex("1a01") + "UFD\x10" + le32(0);
    return resealed("DfuSe\x01" + le32(quint32(11 + target.size() + 16)) + '\x01' + target + suffix);
}
