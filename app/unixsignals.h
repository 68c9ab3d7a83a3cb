#ifndef STROBIX_UNIXSIGNALS_H
#define STROBIX_UNIXSIGNALS_H

#include <QObject>

namespace Strobix {

// SIGTERM ("End process", a logout), SIGHUP (a closed terminal) and SIGINT
// (Ctrl-C) end the program as closing its window does: a running dfu-util is
// let finish first. Sent to the whole process group or session, they reach
// the tool as well, which ignores them (DfuUtil starts it so): the unit is
// never left half-written. A file size limit shows up as a failed write
// instead of killing the program (SIGXFSZ is ignored). Qt's pattern for Unix
// signals: the handler only writes a byte to a socket pair, and the event
// loop does the rest.
class UnixSignals : public QObject
{
    Q_OBJECT

public:
    explicit UnixSignals(QObject *parent = nullptr);

private slots:
    void signalArrived();
};

} // namespace Strobix

#endif
