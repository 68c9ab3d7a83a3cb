#ifndef STROBIX_TESTS_MODALWATCHER_H
#define STROBIX_TESTS_MODALWATCHER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

// Reads and answers every message box while a widget test runs code that
// opens them (also from inside their nested event loops), polling every
// 10 ms from construction on; use QTRY_COMPARE on boxes.size().
class ModalWatcher : public QObject
{
    Q_OBJECT
public:
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int buttonCount = 0;
    };

    explicit ModalWatcher(QObject *parent = nullptr);

    // Every box seen, in order; each is answered with its first button.
    QList<Box> boxes;
    // Closes, as the user does, the first progress dialog with this label once
    // its value reaches closeAt.
    QString closeLabel;
    int closeAt = 0;
    int progressDialogsClosed = 0;

signals:
    void boxSeen();
    // The dialog of closeLabel has been closed.
    void progressDialogClosed();

private:
    void poll();

    QTimer timer;
    QList<QPointer<QMessageBox>> answered;
};

#endif
