// The install-progress members of FirmwareUpdater: the install dialog, the
// progress parser and the final verdict.

#include "update/firmwareupdater.h"

#include "update/failuretexts.h"
#include "update/firmwarecatalogue.h"

#include "ui/progressdialogs.h"

#include <QFile>
#include <QProgressDialog>

namespace Strobix {

void FirmwareUpdater::showInstallDialog()
{
    closeInstallDialog();
    unfinishedLine.clear();
    installLabel = installTextFor(imageFile->fileName());
    installDialog = new QProgressDialog(installLabel, QString(), 0, 100, parentWidget);
    installDialog->setWindowModality(Qt::WindowModal);
    // installFinished() reads the value: reaching 100 must neither hide nor reset it.
    installDialog->setAutoClose(false);
    installDialog->setAutoReset(false);
    installDialog->setValue(0);
    showProgressDialogNow(installDialog);
    // canceled() stays unconnected on purpose: a write into the unit cannot be stopped
    // safely. QProgressDialog connects it to its own cancel(), which would reset the
    // value read at the end (a good update reported as not ok) and let the next
    // progress show the dialog again; closing the window must only hide it.
    disconnect(installDialog, SIGNAL(canceled()), installDialog, SLOT(cancel()));
    connect(this, SIGNAL(fortschritt(int)), installDialog, SLOT(setValue(int)));
}

void FirmwareUpdater::closeInstallDialog()
{
    if (!installDialog)
        return;
    installDialog->hide();
    installDialog->deleteLater();
    installDialog = nullptr;
}

int FirmwareUpdater::progressIn(const QString &text)
{
    const int p = text.lastIndexOf(QLatin1Char('%'));
    // The tool prints "%3d%%" after a label, so a figure needs at least four characters before it.
    if (p <= 3)
        return -1;
    bool ok = false;
    const int value = text.mid(p - 3, 3).toInt(&ok, 10);
    return ok && value >= 0 && value <= 100 ? value : -1;
}

void FirmwareUpdater::log(const QString &text)
{
    // A figure may arrive in pieces (dfu-util.exe writes its bar a character
    // at a time): the end of the open line goes with the next piece. Only as
    // much as a figure needs (progressIn: three digits and one more before the
    // '%'); a broken tool's endless line would otherwise be scanned anew for
    // every piece.
    const QString joined = unfinishedLine + text;
    const int lineStart = qMax(joined.lastIndexOf(QLatin1Char('\r')), joined.lastIndexOf(QLatin1Char('\n'))) + 1;
    unfinishedLine = joined.mid(qMax(lineStart, joined.size() - 4));
    const int value = progressIn(joined);
    if (value >= 0)
        emit fortschritt(value);
}

void FirmwareUpdater::installFinished(bool ok)
{
    const int value = installDialog->value();
    closeInstallDialog();
    endRun();
    if (ok && value == 100) {
        emit finished(true);
        return;
    }
    errorText = QString::fromUtf8(updateNotOkText);
    emit finished(false);
}

} // namespace Strobix
