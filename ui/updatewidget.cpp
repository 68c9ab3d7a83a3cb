#include "ui/updatewidget.h"

#include "app/globals.h"
#include "update/failuretexts.h"
#ifdef Q_OS_WIN
#include "ui/driverrepair.h"
#endif

#include <QCoreApplication>
#include <QDesktopServices>
#include <QIcon>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>

namespace Strobix {

UpdateWidget::UpdateWidget(QWidget *parent, const QString &publicKeys)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint
                          | Qt::WindowCloseButtonHint)
    , updater(publicKeys)
    , helpDialog(nullptr)
{
    setWindowIcon(QIcon(QPixmap(QStringLiteral(":strobix.iconset/icon_128x128.png"))));
    setWindowTitle(QCoreApplication::applicationName());
    // The window is exactly its background picture.
    setMinimumSize(480, 480);
    setMaximumSize(480, 480);

    // Through QIcon, which takes the @2x picture by itself on a scaled display
    // and gives it the display's size (720 pixels at 150 %).
    QPalette palette;
    const QIcon background(QStringLiteral(":images/background_2.jpg"));
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(background.pixmap(480, 480)));
    setPalette(palette);
    setAutoFillBackground(true);

    // Start sits at x -2 so that the row lines up with the picture's light field.
    startButton = addPictureButton(QStringLiteral(":images/Start.xpm"), QPoint(-2, 336));
    helpButton = addPictureButton(QStringLiteral(":images/Help.xpm"), QPoint(159, 336));
    homepageButton = addPictureButton(QStringLiteral(":images/Germany.xpm"), QPoint(320, 336));
    startButton->setAccessibleName(QStringLiteral("Start Update"));
    helpButton->setAccessibleName(QStringLiteral("Hilfe / Help"));
    homepageButton->setAccessibleName(QStringLiteral("Homepage"));

    connect(&updater, SIGNAL(finished(bool)), this, SLOT(updateFinished(bool)));
    connect(startButton, SIGNAL(clicked()), this, SLOT(updateFirmware()));
    connect(helpButton, SIGNAL(clicked()), this, SLOT(showHelp()));
    connect(homepageButton, SIGNAL(clicked()), this, SLOT(showHomepage()));
}

QPushButton *UpdateWidget::addPictureButton(const QString &picture, const QPoint &topLeft)
{
    auto *button = new QPushButton(this);
    // From the file, so that QIcon adds the @2x picture where there is one.
    button->setIcon(QIcon(picture));
    // The captions are part of the pictures, so they show at their own size.
    button->setIconSize(QSize(152, 106));
    button->move(topLeft);
    button->show();
    return button;
}

void UpdateWidget::updateFirmware()
{
    startButton->setDisabled(true);
    updater.startUpdate(this);
}

void UpdateWidget::updateFinished(bool ok)
{
    startButton->setDisabled(false);
    if (ok) {
        QMessageBox::information(this, QCoreApplication::applicationName(),
                                 QString::fromUtf8(updateOkText),
                                 QMessageBox::Ok, QMessageBox::NoButton);
    } else {
#ifdef Q_OS_WIN
        // The one failure that the user can mend from here.
        if (updater.errorText == QString::fromUtf8(noDriverText)) {
            offerDriverRepair();
            return;
        }
#endif
        QMessageBox::critical(this, QCoreApplication::applicationName(), updater.errorText,
                              QMessageBox::Ok, QMessageBox::NoButton);
    }
}

#ifdef Q_OS_WIN
void UpdateWidget::offerDriverRepair()
{
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), updater.errorText,
                    QMessageBox::Ok, this);
    const QPushButton *install = box.addButton(QString::fromUtf8(installDriverButtonText), QMessageBox::AcceptRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    if (box.clickedButton() != install)
        return;
    // No second run while the tool works.
    startButton->setEnabled(false);
    if (DriverRepair::run(this)) {
        // The user pressed Start to update, not to repair.
        updateFirmware();
        return;
    }
    startButton->setEnabled(true);
    QMessageBox::critical(this, QCoreApplication::applicationName(), QString::fromUtf8(driverNotInstalledText),
                          QMessageBox::Ok, QMessageBox::NoButton);
}
#endif

void UpdateWidget::showHelp()
{
    helpDialog.show();
}

void UpdateWidget::showHomepage()
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(homepageUrl), QUrl::TolerantMode));
}

} // namespace Strobix
