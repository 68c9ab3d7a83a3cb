#ifndef STROBIX_TESTS_MODALWATCHER_H
#define STROBIX_TESTS_MODALWATCHER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

class QAbstractButton;
class QProgressDialog;

// Answers message boxes and watches progress dialogs while a widget test
// runs code that opens them (also from inside their nested event loops).
// Polls every 10 ms from construction on; use QTRY_COMPARE on boxes.size().
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

    void start();
    void stop();

    // Every visible QMessageBox, in the order seen. Each is answered with
    // `answer` if it has that button, else the button Esc would press, else
    // its default button, else the first one.
    QList<Box> boxes;
    QMessageBox::StandardButton answer = QMessageBox::Ok;

    // Each distinct non-empty label text of a visible QProgressDialog.
    QStringList progressLabels;
    // Close (which emits canceled()) the first progress dialog seen.
    bool closeProgressDialogOnce = false;
    int progressDialogsClosed = 0;

signals:
    void boxSeen();
    void progressLabelSeen(const QString &label);

private:
    void poll();
    void handleBox(QMessageBox *box);
    void handleProgress(QProgressDialog *dialog);
    static QAbstractButton *escapeButton(QMessageBox *box);

    QTimer m_timer;
    QList<QPointer<QMessageBox>> m_answered;
};

#endif
