// One whole update in process, as a user runs it: the main window's Start
// button is clicked, and the outcome box is answered as soon as it shows.
// Run it in a folder holding dfu-util/dfu-util.exe, with the virtual unit's
// variables set. Step boundaries are the moments the dialogs show:
//   identification: click .. download dialog, download: .. install dialog,
//   install: .. outcome box.
//
//   updatebench     prints "ident_ms=.. download_ms=.. install_ms=.. total_ms=.. box=<text>"
//
// Exits 1 unless the box says the update went well.

#include "app/startup.h"
#include "ui/updatewidget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>

#include <cstdio>

namespace {

class Stopwatch : public QObject
{
public:
    QElapsedTimer timer;
    double downloadShown = -1;
    double installShown = -1;
    double boxShown = -1;
    QString boxText;

    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() != QEvent::Show)
            return false;
        const double now = timer.nsecsElapsed() / 1e6;
        if (qobject_cast<QProgressDialog *>(object)) {
            if (downloadShown < 0)
                downloadShown = now;
            else if (installShown < 0)
                installShown = now;
        } else if (auto *box = qobject_cast<QMessageBox *>(object)) {
            if (boxShown < 0) {
                boxShown = now;
                boxText = box->text();
                // Queued: the box's own event loop must be running to be left.
                QMetaObject::invokeMethod(box, [box] {
                    box->accept();
                    QCoreApplication::exit(0);
                }, Qt::QueuedConnection);
            }
        }
        return false;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    Strobix::setApplicationIdentity();
    Strobix::prepareDataFolder();

    Strobix::UpdateWidget window(nullptr);
    window.show();
    const auto buttons = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    if (buttons.isEmpty())
        return 2;
    Stopwatch watch;
    app.installEventFilter(&watch);
    // Start once the window is up, as a user would.
    QMetaObject::invokeMethod(&app, [&] {
        watch.timer.start();
        buttons.first()->click();
    }, Qt::QueuedConnection);
    app.exec();

    const double total = watch.boxShown;
    std::printf("ident_ms=%.3f download_ms=%.3f install_ms=%.3f total_ms=%.3f box=%s\n",
                watch.downloadShown, watch.installShown - watch.downloadShown,
                watch.boxShown - watch.installShown, total, qPrintable(watch.boxText));
    return watch.boxText == QLatin1String("Firmware Update ok") ? 0 : 1;
}
