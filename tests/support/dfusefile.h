#ifndef STROBIX_TESTS_DFUSEFILE_H
#define STROBIX_TESTS_DFUSEFILE_H

#include <QByteArray>
#include <QList>
#include <QPair>

// Elements of one target: address and bytes.
using DfuseElements = QList<QPair<quint32, QByteArray>>;

// A DfuSe file of one target for alternate setting 0, as dfuse-pack writes it.
QByteArray dfuseFile(const DfuseElements &elements, quint16 vendor = 0x0483, quint16 product = 0xdf11);
// A DfuSe file with one target for each alternate setting given.
QByteArray dfuseTargets(const QList<QPair<quint8, DfuseElements>> &targets);
// The file with its suffix CRC made right again after a change, by zlib's
// CRC-32 and not by the reader's own.
QByteArray resealed(QByteArray file);
QByteArray le32(quint32 value);

#endif
