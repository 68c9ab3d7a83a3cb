#ifndef STROBIX_TESTS_DIALOGRECORDER_H
#define STROBIX_TESTS_DIALOGRECORDER_H

#include <QObject>
#include <QStringList>

// Installed as an event filter on the application: records the label of every
// progress dialog when it is shown, however briefly, and whether a hidden one
// still has a timer running that would show it again.
class DialogRecorder : public QObject
{
public:
    QStringList labels;
    int armedWhenHidden = 0;
    bool eventFilter(QObject *object, QEvent *event) override;
};

#endif
