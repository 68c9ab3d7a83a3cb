// Starts the main window and the help dialog as the updater does, on a display
// scaled as the platform reports it (QT_FONT_DPI on Linux, LogPixels under
// Wine), and checks that both keep their design in logical pixels: the window
// 480x480 and drawn at the display's scale, the help dialog at least 560x200
// with its text fitting, so that no horizontal scroll bar shows. Plain Qt, no
// QtTest: it runs on Windows as well, where our Qt has no test library.
// Usage: scaling-check <dpi> [screenshot.png]; exit code 0 when all holds.

#include "app/startup.h"
#include "ui/helpdialog.h"
#include "ui/updatewidget.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextStream>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <cstdlib>

using namespace Strobix;

namespace {

int failures = 0;

void check(bool ok, const QString &what)
{
    QTextStream(ok ? stdout : stderr) << (ok ? "ok: " : "FAIL: ") << what << '\n';
    failures += ok ? 0 : 1;
}

QString size(const QSize &s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

// The window and the dialog side by side, in device pixels.
void saveScreenshot(QWidget &window, QWidget &dialog, const QString &path)
{
    QPixmap left = window.grab();
    QPixmap right = dialog.grab();
    left.setDevicePixelRatio(1);
    right.setDevicePixelRatio(1);
    const int gap = 16;
    QImage shot(left.width() + gap + right.width(), qMax(left.height(), right.height()), QImage::Format_RGB32);
    shot.fill(Qt::white);
    QPainter painter(&shot);
    painter.drawPixmap(0, 0, left);
    painter.drawPixmap(left.width() + gap, 0, right);
    painter.end();
    check(shot.save(path), "screenshot " + path);
}

} // namespace

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    useHighDpiScaling();
    QApplication app(argc, argv);
    const int dpi = argc > 1 ? std::atoi(argv[1]) : 0;
    if (dpi <= 0) {
        QTextStream(stderr) << "usage: scaling-check <dpi> [screenshot.png]\n";
        return 2;
    }
    const qreal scale = dpi / 96.0;

    UpdateWidget window(nullptr);
    window.show();
    window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly).at(1)->click();
    HelpDialog *dialog = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        dialog = dialog ? dialog : qobject_cast<HelpDialog *>(w);
    QCoreApplication::processEvents();

    check(window.size() == QSize(480, 480), "main window " + size(window.size()) + " logical pixels");
    check(qFuzzyCompare(window.devicePixelRatioF(), scale),
          QStringLiteral("main window drawn at %1 device pixels per logical one").arg(window.devicePixelRatioF()));
#ifdef Q_OS_WIN
    RECT client;
    GetClientRect(reinterpret_cast<HWND>(window.winId()), &client);
    const QSize native(client.right - client.left, client.bottom - client.top);
    check(native == QSize(480, 480) * scale, "main window " + size(native) + " pixels on the screen");
#endif
    check(dialog && dialog->isVisible(), "help dialog shown");
    if (!dialog)
        return 1;
    const auto *area = dialog->findChild<QScrollArea *>();
    const auto *label = dialog->findChild<QLabel *>();
    check(dialog->minimumSize() == QSize(560, 200) && dialog->width() >= 560 && dialog->height() >= 200,
          "help dialog " + size(dialog->size()) + ", at least " + size(dialog->minimumSize()));
    check(!area->horizontalScrollBar()->isVisible(),
          QStringLiteral("help text %1 wide in a view %2 wide, no horizontal scroll bar")
              .arg(label->width()).arg(area->viewport()->width()));
    if (argc > 2)
        saveScreenshot(window, *dialog, QString::fromLocal8Bit(argv[2]));
    return failures == 0 ? 0 : 1;
}
