#include "modalwatcher.h"

#include <QPushButton>
#include <QApplication>
#include <QProgressDialog>

#include <algorithm>

ModalWatcher::ModalWatcher(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    start();
}

void ModalWatcher::start()
{
    m_timer.start();
}

void ModalWatcher::stop()
{
    m_timer.stop();
}

void ModalWatcher::poll()
{
    // Top-level widgets rather than activeModalWidget() alone, so window-
    // modal and non-modal dialogs are seen as well.
    QList<QWidget *> windows = QApplication::topLevelWidgets();
    if (QWidget *modal = QApplication::activeModalWidget(); modal && !windows.contains(modal))
        windows.append(modal);
    for (QWidget *w : qAsConst(windows)) {
        if (!w->isVisible())
            continue;
        if (auto *box = qobject_cast<QMessageBox *>(w))
            handleBox(box);
        else if (auto *dialog = qobject_cast<QProgressDialog *>(w))
            handleProgress(dialog);
    }
}

void ModalWatcher::handleBox(QMessageBox *box)
{
    // A box shown again after being answered counts as a new one.
    m_answered.erase(std::remove_if(m_answered.begin(), m_answered.end(),
                                    [](const QPointer<QMessageBox> &b) {
                                        return !b || !b->isVisible();
                                    }),
                     m_answered.end());
    if (m_answered.contains(box))
        return;
    m_answered.append(box);
    boxes.append(Box{box->windowTitle(), box->text(), box->icon(), box->buttons().size()});
    QAbstractButton *button = box->button(answer);
    if (!button)
        button = escapeButton(box);
    if (!button)
        button = box->defaultButton();
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().constFirst();
    emit boxSeen();
    if (button)
        button->click();
    else
        box->done(0);
}

QAbstractButton *ModalWatcher::escapeButton(QMessageBox *box)
{
    // QMessageBox::escapeButton() only returns one set explicitly; this picks
    // the button Esc would press, in the order QMessageBox itself uses.
    if (QAbstractButton *set = box->escapeButton())
        return set;
    const QList<QAbstractButton *> buttons = box->buttons();
    if (buttons.size() == 1)
        return buttons.constFirst();
    if (QAbstractButton *cancel = box->button(QMessageBox::Cancel))
        return cancel;
    for (QMessageBox::ButtonRole role : {QMessageBox::RejectRole, QMessageBox::NoRole}) {
        for (QAbstractButton *b : buttons) {
            if (box->buttonRole(b) == role)
                return b;
        }
    }
    return nullptr;
}

void ModalWatcher::handleProgress(QProgressDialog *dialog)
{
    const QString label = dialog->labelText();
    if (!label.isEmpty() && !progressLabels.contains(label)) {
        progressLabels.append(label);
        emit progressLabelSeen(label);
    }
    if (closeProgressDialogOnce && progressDialogsClosed == 0) {
        ++progressDialogsClosed;
        // Queued: closing may open a message box whose nested event loop must
        // not run inside this poll, as the timer would then never fire again.
        QMetaObject::invokeMethod(dialog, "close", Qt::QueuedConnection);
    }
}
