#ifndef STROBIX_APPLICATION_H
#define STROBIX_APPLICATION_H

#include <QApplication>

namespace Strobix {

// Starts without Qt's OpenGL integration, and keeps failure texts: Qt does
// not support exceptions unwinding through its event loop. A failure
// text thrown by an event handler is caught here instead; the event loop is
// left with -1 and the start-up routine reports the text.
class Application : public QApplication
{
    Q_OBJECT

public:
    Application(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // The first failure text that reached notify() since the last call, or a null string.
    QString takeFailureText();

private:
    QString failure;
};

} // namespace Strobix

#endif
