#ifndef STROBIX_TESTS_DFUSEFILE_H
#define STROBIX_TESTS_DFUSEFILE_H

#include <QByteArray>
#include <QList>
#include <QPair>

// A DfuSe file of one target for alternate setting 0, as dfuse-pack writes it.
QByteArray dfuseFile(const QList<QPair<quint32, QByteArray>> &elements, quint16 vendor = 0x0483,
                     quint16 product = 0xdf11);
// The file with its suffix CRC made right again after a change.
QByteArray resealed(QByteArray file);
QByteArray le32(quint32 value);

#endif
