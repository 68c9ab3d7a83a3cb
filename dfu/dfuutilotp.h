#ifndef STROBIX_DFUUTILOTP_H
#define STROBIX_DFUUTILOTP_H

#include "dfu/dfuutil.h"

namespace Strobix {

// Identifies the unit: reads up to three identification areas and forms the
// image file name from the first one that holds a valid record.
class DfuUtilOtp : public DfuUtil
{
    Q_OBJECT

public:
    static const char dumpFileName[];
    // The answer when an old dump cannot be removed: the tool would refuse to
    // write a new one, and the old one must never be read.
    static const char unwritableDump[];
    // The answers for a unit that dfu-util sees but cannot use. The later
    // areas would meet the same, so the identification stops at the first.
    static const char unitWithoutDriver[];
    static const char unitAccessDenied[];
    static const char unitInUse[];
    static const char severalUnits[];

    // Which of those answers one run's output shows, or an empty string.
    static QString unreachableUnit(const QString &output);

    // The area rules. Each reads the dump at dumpPath and returns the image
    // file name, or an empty string when the dump does not qualify.
    static QString nameFromFirstArea(const QString &dumpPath, int offset);
    static QString nameFromSecondArea(const QString &dumpPath, int offset);
    static QString nameFromThirdArea(const QString &dumpPath, int offset);

    static QString imageName(quint8 model, quint8 second, quint8 third);

    // Reads the areas in turn and returns what result() carries; a check
    // after an installation keeps the installation's log (AppendToLog).
    QString identify(LogMode logMode = NewLog);

signals:
    // An image file name; empty: no compatible unit; "?": the tool failed to
    // run; unwritableDump: the data folder cannot take the dump; or one of
    // the answers for a unit that cannot be used.
    void result(QString name);

public slots:
    void process() override;
};

} // namespace Strobix

#endif
