#include "dialogrecorder.h"

#include <QEvent>
#include <QProgressDialog>
#include <QTimer>

bool DialogRecorder::eventFilter(QObject *object, QEvent *event)
{
    auto *dialog = qobject_cast<QProgressDialog *>(object);
    if (dialog && event->type() == QEvent::Show)
        labels << dialog->labelText();
    if (dialog && event->type() == QEvent::Hide) {
        for (QTimer *timer : dialog->findChildren<QTimer *>())
            armedWhenHidden += timer->isActive();
    }
    return false;
}
