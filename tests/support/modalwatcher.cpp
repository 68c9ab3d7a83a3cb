#include "modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QProgressDialog>

ModalWatcher::ModalWatcher(QObject *parent) : QObject(parent)
{
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, this, &ModalWatcher::poll);
    timer.start();
}

void ModalWatcher::poll()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible())
            continue;
        auto *dialog = qobject_cast<QProgressDialog *>(w);
        if (dialog && dialog->labelText() == closeLabel && dialog->value() >= closeAt && !progressDialogsClosed) {
            ++progressDialogsClosed;
            // Queued: closing opens a message box, whose nested event loop must
            // not run inside this poll, or the timer would never fire again.
            QMetaObject::invokeMethod(dialog, "close", Qt::QueuedConnection);
            QMetaObject::invokeMethod(this, &ModalWatcher::progressDialogClosed, Qt::QueuedConnection);
        }
        auto *box = qobject_cast<QMessageBox *>(w);
        // A box shown again after being answered counts as a new one.
        answered.removeAll(nullptr);
        if (!box || answered.contains(box) || box->buttons().isEmpty())
            continue;
        answered.append(box);
        boxes.append(Box{box->windowTitle(), box->text(), box->icon(), int(box->buttons().size())});
        emit boxSeen();
        box->buttons().constFirst()->click();
    }
}
