// Starts the main window and the help dialog as the updater does, on a display
// scaled as the platform reports it (Xft.dpi on Linux, LogPixels under Wine),
// and checks that both keep their design in logical pixels: the window 480x480
// and drawn at the display's scale, the help dialog at least 560x200 with its
// text fitting, so that no horizontal scroll bar shows. Plain Qt, no QtTest:
// it runs on Windows as well, where our Qt has no test library.
// Usage: scaling-check <dpi> [screenshot.png]; exit code 0 when all holds.

#include "app/startup.h"
#include "ui/helpdialog.h"
#include "ui/updatewidget.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextStream>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace Strobix;

static int failures = 0;

static void check(bool ok, const QString &what)
{
    QTextStream(ok ? stdout : stderr) << (ok ? "ok: " : "FAIL: ") << what << '\n';
    failures += ok ? 0 : 1;
}

static QString text(const QSize &s)
{
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

int main(int argc, char *argv[])
{
    Q_INIT_RESOURCE(images);
    useHighDpiScaling();
    QApplication app(argc, argv);
    const qreal scale = (argc > 1 ? QByteArray(argv[1]).toInt() : 96) / 96.0;

    UpdateWidget window(nullptr);
    window.show();
    const auto buttons = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    buttons.at(1)->click();
    QWidget *dialog = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        dialog = qobject_cast<HelpDialog *>(w) ? w : dialog;
    QCoreApplication::processEvents();
    const auto *area = dialog->findChild<QScrollArea *>();

    check(window.size() == QSize(480, 480), "main window " + text(window.size()) + " logical pixels");
    check(qFuzzyCompare(window.devicePixelRatioF(), scale),
          QStringLiteral("main window drawn at %1 pixels per logical one").arg(window.devicePixelRatioF()));
#ifdef Q_OS_WIN
    RECT client;
    GetClientRect(reinterpret_cast<HWND>(window.winId()), &client);
    const QSize native(client.right - client.left, client.bottom - client.top);
    check(native == QSize(480, 480) * scale, "main window " + text(native) + " pixels on the screen");
#endif
    // The pictures at the display's resolution, at 200 % exactly the @2x ones.
    const QImage background = window.palette().window().textureImage();
    const QImage start = buttons.at(0)->icon().pixmap(window.windowHandle(), QSize(152, 106)).toImage();
    check(background.size() == QSize(480, 480) * scale && start.size() == QSize(152, 106) * scale,
          "pictures " + text(background.size()) + " and " + text(start.size()));
    if (scale == 2) {
        check(background == QImage(":images/background_2@2x.jpg").convertToFormat(background.format())
                  && start == QImage(":images/Start@2x.xpm").convertToFormat(start.format()),
              "pictures from the @2x files");
    }
    check(dialog->isVisible() && dialog->minimumSize() == QSize(560, 200), "help dialog " + text(dialog->size())
              + ", at least " + text(dialog->minimumSize()));
    check(!area->horizontalScrollBar()->isVisible(),
          QStringLiteral("help text %1 wide in a view %2 wide, no horizontal scroll bar")
              .arg(area->widget()->width()).arg(area->viewport()->width()));

    if (argc > 2) {
        // The window and the dialog side by side, in the display's pixels.
        QPixmap left = window.grab(), right = dialog->grab();
        left.setDevicePixelRatio(1);
        right.setDevicePixelRatio(1);
        QImage shot(left.width() + 16 + right.width(), qMax(left.height(), right.height()), QImage::Format_RGB32);
        shot.fill(Qt::white);
        QPainter painter(&shot);
        painter.drawPixmap(0, 0, left);
        painter.drawPixmap(left.width() + 16, 0, right);
        painter.end();
        check(shot.save(QString::fromLocal8Bit(argv[2])), QStringLiteral("screenshot ") + argv[2]);
    }
    return failures == 0 ? 0 : 1;
}
