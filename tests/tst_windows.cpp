// The main window and the help dialog as the user sees them.

#include "ui/helpdialog.h"
#include "ui/updatewidget.h"

#include <QtTest>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QWindow>

using namespace Strobix;

// Records what would go to the browser instead of starting one.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mainWindow();
    void help();
    void homepage();
};

void TestWindows::initTestCase()
{
    Q_INIT_RESOURCE(images);
}

// The window is its background picture; the buttons' captions are their pictures.
void TestWindows::mainWindow()
{
    UpdateWidget window(nullptr);
    window.show();
    window.resize(800, 300);
    QCOMPARE(window.size(), QSize(480, 480));
    const auto buttons = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    const QStringList pictures{":images/Start.xpm", ":images/Help.xpm", ":images/Germany.xpm"};
    const QStringList names{"Start Update", "Hilfe / Help", "Homepage"};
    QCOMPARE(buttons.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QPushButton *button = buttons.at(i);
        const QImage picture = QPixmap(pictures.at(i)).toImage();
        QCOMPARE(button->icon().pixmap(152, 106).toImage().convertToFormat(picture.format()), picture);
        QVERIFY(button->width() >= 152 && button->height() >= 106);
        QVERIFY(button->geometry().bottom() < 480);
        QCOMPARE(button->accessibleName(), names.at(i));
    }
    // What the window manager gets: a close button, no minimise or maximise
    // (without CustomizeWindowHint the platform asks for its usual buttons).
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const Qt::WindowFlags flags = window.windowHandle()->flags();
    QVERIFY((flags & Qt::CustomizeWindowHint) && (flags & Qt::WindowCloseButtonHint)
            && !(flags & Qt::WindowMinMaxButtonsHint));
    // The pictures, centred in their buttons, stand in one row, evenly spaced, none over another.
    QList<QRect> shown;
    for (QPushButton *button : buttons) {
        shown << QRect(QPoint(), button->iconSize());
        shown.last().moveCenter(button->geometry().center());
    }
    QVERIFY(shown.at(0).top() == shown.at(1).top() && shown.at(1).top() == shown.at(2).top());
    QCOMPARE(shown.at(1).left() - shown.at(0).left(), shown.at(2).left() - shown.at(1).left());
    QVERIFY(!shown.at(0).intersects(shown.at(1)) && window.rect().contains(shown.at(0) | shown.at(2)));
}

void TestWindows::help()
{
    UpdateWidget window(nullptr);
    window.show();
    QPushButton *helpButton = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly).at(1);
    QTest::mouseClick(helpButton, Qt::LeftButton);
    QTest::mouseClick(helpButton, Qt::LeftButton);
    // Pressed twice, it is still one dialog.
    QList<HelpDialog *> shown;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<HelpDialog *>(w) && w->isVisible())
            shown << qobject_cast<HelpDialog *>(w);
    }
    QCOMPARE(shown.size(), 1);
    HelpDialog *dialog = shown.first();
    QVERIFY(!dialog->isModal());
    // It cannot be made smaller than this, and the window manager knows.
    QCOMPARE(dialog->windowHandle()->minimumSize(), QSize(560, 200));
    dialog->resize(1, 1);
    QCOMPARE(dialog->size(), QSize(560, 200));
    // The German lines arrive with their umlauts.
    QVERIFY(dialog->findChild<QLabel *>()->text().contains(QString::fromUtf8("Öffnet diese Anzeige mit dem Hilfetext.<br/>")));

    QPushButton *close = dialog->findChild<QPushButton *>();
    QCOMPARE(close->text(), QStringLiteral("Schliessen / Close"));
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QTest::mouseClick(helpButton, Qt::LeftButton);
    QVERIFY(dialog->isVisible());
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
}

void TestWindows::homepage()
{
    UrlRecorder handler;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &handler, "open");
    UpdateWidget window(nullptr);
    window.show();
    const auto buttons = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    QTest::mouseClick(buttons.at(2), Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(handler.urls, QList<QUrl>{QUrl(QStringLiteral("https://www.kelvio.example/"))});
    QVERIFY(buttons.at(0)->isEnabled());
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
