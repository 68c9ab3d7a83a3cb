#ifndef STROBIX_UPDATEWIDGET_H
#define STROBIX_UPDATEWIDGET_H

#include "ui/helpdialog.h"
#include "update/firmwareupdater.h"

#include <QWidget>

class QPushButton;

namespace Strobix {

// The one main window: a fixed picture with the Start, Help and Homepage buttons.
class UpdateWidget : public QWidget
{
    Q_OBJECT

public:
    // publicKeys: as for FirmwareUpdater.
    explicit UpdateWidget(QWidget *parent, const QString &publicKeys = QLatin1String(firmwarePublicKeys));

private slots:
    void updateFinished(bool ok);
    void updateFirmware();
    void showHelp();
    void showHomepage();

private:
    QPushButton *addPictureButton(const QString &picture, const QPoint &topLeft);
#ifdef Q_OS_WIN
    // The no-driver box, whose second button installs the driver.
    void offerDriverRepair();
#endif

    FirmwareUpdater updater;
    HelpDialog helpDialog;
    QPushButton *startButton = nullptr;
    QPushButton *helpButton = nullptr;
    QPushButton *homepageButton = nullptr;
};

} // namespace Strobix

#endif
