#ifndef STROBIX_FIRMWAREUPDATER_H
#define STROBIX_FIRMWAREUPDATER_H

#include "app/globals.h"
#include "net/http.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <memory>

class QFile;
class QLockFile;
class QProgressDialog;
class QThread;
class QWidget;

namespace Strobix {

class DfuUtil;

// Runs one update: identification, download, installation. Each step hands
// over to the next by a signal, so no call blocks; the outcome is finished().
class FirmwareUpdater : public QObject
{
    Q_OBJECT

public:
    // publicKeys: those that images must be signed with, as firmwarePublicKeys.
    explicit FirmwareUpdater(const QString &publicKeys = QLatin1String(firmwarePublicKeys));
    ~FirmwareUpdater() override;

    // Held in the data folder from Start to the outcome.
    static const char lockFileName[];
    // Created and removed at once when the lock cannot be taken.
    static const char probeFileName[];

    // Begins a run; dialogs of the run are shown over parent.
    void startUpdate(QWidget *parent);

    // The percentage in one piece of tool output, or -1 if it holds none.
    static int progressIn(const QString &text);

signals:
    void finished(bool ok);
    void fortschritt(int percent);

private slots:
    void otpFinished(QString name);
    void httpFinished();
    void installFinished(bool ok);
    void log(const QString &text);

private:
    void runInThread(DfuUtil *worker, const char *resultSignal, const char *resultSlot);
    void reportFailure(const QString &text);
    void releaseImageFile();
    void showInstallDialog();
    void closeInstallDialog();
    bool lockDataFolder();
    void endRun();
    void fetchSignature();
    void signatureFinished();
    void install();

    QWidget *parentWidget = nullptr;
    QFile *imageFile = nullptr;
    // The image's signature while it is fetched; set only then.
    QFile *signatureFile = nullptr;
    QProgressDialog *installDialog = nullptr;

public:
    // Failure text of the last run; null while a run goes on and after success.
    QString errorText;

private:
    const QString publicKeys;
    QString installLabel;
    // Tool output after its last line end, which the next piece may complete.
    QString unfinishedLine;
    Http downloader;
    // Only so that the destructor can let a running dfu-util finish: a unit
    // must never be left half-written because the window was closed.
    QList<QPointer<QThread>> workerThreads;
    // Held from Start to the outcome: two updaters on one data folder would
    // read each other's dump and write each other's image.
    std::unique_ptr<QLockFile> runLock;
};

} // namespace Strobix

#endif
