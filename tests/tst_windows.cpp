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
    void whatTheUserSees_data();
    void whatTheUserSees();
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
}

void TestWindows::whatTheUserSees_data()
{
    QTest::addColumn<QString>("what");
    // As the window manager gets them: the window has a fixed size.
    QTest::newRow("a close button, no minimise or maximise") << "buttons";
    QTest::newRow("the three buttons in one row, centred on the picture, evenly spaced") << "row";
    QTest::newRow("the help dialog cannot be made smaller than 560 x 200") << "help";
}

void TestWindows::whatTheUserSees()
{
    QFETCH(QString, what);
    UpdateWidget window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto buttons = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    if (what == QLatin1String("buttons")) {
        const Qt::WindowFlags flags = window.windowHandle()->flags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    } else if (what == QLatin1String("row")) {
        // The captions are the pictures, centred in their buttons.
        QList<QRect> pictures;
        for (QPushButton *button : buttons) {
            QRect picture(QPoint(), button->iconSize());
            picture.moveCenter(button->geometry().center());
            pictures << picture;
        }
        QVERIFY(pictures.at(0).top() == pictures.at(1).top() && pictures.at(1).top() == pictures.at(2).top());
        QCOMPARE(pictures.at(1).left() - pictures.at(0).left(), pictures.at(2).left() - pictures.at(1).left());
        QVERIFY(!pictures.at(0).intersects(pictures.at(1)));
        QVERIFY(window.rect().contains(pictures.at(0)) && window.rect().contains(pictures.at(2)));
    } else {
        QTest::mouseClick(buttons.at(1), Qt::LeftButton);
        HelpDialog *dialog = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            dialog = dialog ? dialog : qobject_cast<HelpDialog *>(w);
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        // The window manager gets the limit with the window.
        QCOMPARE(dialog->windowHandle()->minimumSize(), QSize(560, 200));
        dialog->resize(1, 1);
        QCOMPARE(dialog->size(), QSize(560, 200));
        dialog->close();
    }
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
