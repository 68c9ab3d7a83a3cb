// The main window and the help dialog as the user sees them.

#include "fakedfucontrol.h"
#include "ui/helpdialog.h"
#include "ui/updatewidget.h"

#include <QtTest>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

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
    void cleanup();
    void mainWindowFrame();
    void buttons_data();
    void buttons();
    void backgroundAndIcon();
    void helpOpensOnceAndAgain();
    void helpText();
    void helpLayout();
    void helpKeepsScrollPosition();
    void homepageLeavesTheWindowAlone();
};

void TestWindows::initTestCase()
{
    Q_INIT_RESOURCE(images);
    QCoreApplication::setApplicationName(QStringLiteral("strobix Firmware Updater"));
}

void TestWindows::cleanup()
{
    QTRY_VERIFY(std::none_of(QApplication::topLevelWidgets().cbegin(), QApplication::topLevelWidgets().cend(),
                             [](QWidget *w) { return w->isVisible(); }));
}

void TestWindows::mainWindowFrame()
{
    UpdateWidget window(nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Qt adds the system menu hint for the close button on its own.
    QCOMPARE(window.windowFlags() & ~Qt::WindowSystemMenuHint,
             Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    QCOMPARE(window.windowTitle(), QStringLiteral("strobix Firmware Updater"));
    QCOMPARE(window.size(), QSize(480, 480));
    window.resize(800, 300);
    QCOMPARE(window.size(), QSize(480, 480));
    QCOMPARE(window.minimumSize(), QSize(480, 480));
    QCOMPARE(window.maximumSize(), QSize(480, 480));
}

void TestWindows::buttons_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QPoint>("topLeft");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("accessibleName");

    QTest::newRow("Start") << 0 << QPoint(-2, 336) << ":images/Start.xpm" << "Start Update";
    QTest::newRow("Help") << 1 << QPoint(159, 336) << ":images/Help.xpm" << "Hilfe / Help";
    QTest::newRow("Homepage") << 2 << QPoint(320, 336) << ":images/Germany.xpm" << "Homepage";
}

void TestWindows::buttons()
{
    QFETCH(int, index);
    QFETCH(QPoint, topLeft);
    QFETCH(QString, picture);
    QFETCH(QString, accessibleName);

    UpdateWidget window(nullptr);
    window.show();
    const auto buttons = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
    QCOMPARE(buttons.size(), 3);
    QPushButton *button = buttons.at(index);
    QCOMPARE(button->pos(), topLeft);
    QVERIFY(button->text().isEmpty());
    QVERIFY(button->isVisible());
    QCOMPARE(button->iconSize(), QSize(152, 106));
    QCOMPARE(button->accessibleName(), accessibleName);
    // The whole picture shows: the button is at least its picture's size and inside the window.
    QVERIFY(button->width() >= 152 && button->height() >= 106);
    QVERIFY(button->geometry().bottom() < 480);

    const QImage expected = QPixmap(picture).toImage();
    QCOMPARE(expected.size(), QSize(152, 106));
    QCOMPARE(button->icon().pixmap(152, 106).toImage().convertToFormat(expected.format()), expected);
}

void TestWindows::backgroundAndIcon()
{
    UpdateWidget window(nullptr);
    const QImage background = window.palette().brush(QPalette::Window).texture().toImage();
    QCOMPARE(background.size(), QSize(480, 480));
    QCOMPARE(background, QPixmap(QStringLiteral(":images/background_2.jpg")).toImage());
    QVERIFY(window.autoFillBackground());
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(QPixmap(QStringLiteral(":strobix.iconset/icon_128x128.png")).size(), QSize(128, 128));
    // The unused second backdrop is still shipped.
    QCOMPARE(QPixmap(QStringLiteral(":images/background.jpg")).size(), QSize(480, 480));
}

static HelpDialog *visibleHelpDialog()
{
    HelpDialog *found = nullptr;
    int visible = 0;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *dialog = qobject_cast<HelpDialog *>(w)) {
            if (dialog->isVisible()) {
                found = dialog;
                ++visible;
            }
        }
    }
    return visible == 1 ? found : nullptr;
}

void TestWindows::helpOpensOnceAndAgain()
{
    UpdateWidget window(nullptr);
    window.show();
    QPushButton *help = window.findChildren<QPushButton *>(QString(), Qt::FindDirectChildrenOnly).at(1);
    QTest::mouseClick(help, Qt::LeftButton);
    HelpDialog *dialog = visibleHelpDialog();
    QVERIFY(dialog);
    // Not modal: the main window stays usable beside it.
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->windowModality(), Qt::NonModal);
    QTest::mouseClick(help, Qt::LeftButton);
    QCOMPARE(visibleHelpDialog(), dialog);

    QPushButton *close = dialog->findChild<QPushButton *>();
    QCOMPARE(close->text(), QStringLiteral("Schliessen / Close"));
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QTest::mouseClick(help, Qt::LeftButton);
    QCOMPARE(visibleHelpDialog(), dialog);
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
}

void TestWindows::helpText()
{
    HelpDialog dialog(nullptr);
    dialog.show();
    const QLabel *label = dialog.findChild<QLabel *>();
    QVERIFY(label);
    // Its natural size: the area scrolls it rather than squeezing it.
    QCOMPARE(label->size(), label->sizeHint());
    const QStringList lines = label->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 29);
    QCOMPARE(lines.at(0), QStringLiteral("<b>Funktionen</b><br/>"));
    QCOMPARE(lines.at(3), QString::fromUtf8("Hier starten Sie die automatische Aktualisierung. Ihr Blitzgerät muss<br/>"));
    QCOMPARE(lines.at(8), QString::fromUtf8("Ihr Gerät. Ist dieser Vorgang abgeschlossen, erscheint diesbezüglich<br/>"));
    QCOMPARE(lines.at(12), QString::fromUtf8("Öffnet diese Anzeige mit dem Hilfetext.<br/>"));
    QCOMPARE(lines.at(14), QStringLiteral("<b>Functions</b><br/>"));
    QCOMPARE(lines.at(28), QStringLiteral("<br/>"));
    for (const QString &line : lines)
        QVERIFY2(line.endsWith(QLatin1String("<br/>")), qPrintable(line));
    QVERIFY(!label->text().contains(QLatin1String("Homepage:")));
    QCOMPARE(label->margin(), 8);
    QVERIFY(!label->wordWrap());
    QCOMPARE(label->textFormat(), Qt::AutoText);
}

void TestWindows::helpLayout()
{
    HelpDialog dialog(nullptr);
    dialog.show();
    QCOMPARE(dialog.minimumSize(), QSize(560, 200));
    dialog.resize(100, 100);
    QCOMPARE(dialog.size(), QSize(560, 200));
    dialog.resize(900, 700);
    QApplication::processEvents();
    auto *area = dialog.findChild<QScrollArea *>();
    auto *close = dialog.findChild<QPushButton *>();
    QVERIFY(area && close);
    QVERIFY(!area->widgetResizable());
    // The scroll area takes the extra room; the button stays at the bottom left.
    QVERIFY(area->height() > 600);
    QVERIFY(close->x() < 30);
    QVERIFY(close->geometry().bottom() > 650);
    QVERIFY(close->width() < 300);
    dialog.close();
}

void TestWindows::helpKeepsScrollPosition()
{
    HelpDialog dialog(nullptr);
    dialog.resize(560, 200);
    dialog.show();
    auto *area = dialog.findChild<QScrollArea *>();
    QScrollBar *bar = area->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    bar->setValue(bar->maximum() / 2);
    const int position = bar->value();
    dialog.close();
    dialog.show();
    QCOMPARE(bar->value(), position);
    dialog.close();
}

void TestWindows::homepageLeavesTheWindowAlone()
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
    QVERIFY(window.isVisible());
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
