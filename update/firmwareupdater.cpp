#include "update/firmwareupdater.h"

#include "app/globals.h"
#include "dfu/dfuutilinstaller.h"
#include "dfu/dfuutilotp.h"

#include <QFile>
#include <QThread>

namespace Strobix {

FirmwareUpdater::FirmwareUpdater()
{
    connect(&downloader, SIGNAL(finished()), this, SLOT(httpFinished()));
}

FirmwareUpdater::~FirmwareUpdater()
{
    for (const QPointer<QThread> &thread : qAsConst(workerThreads)) {
        if (!thread)
            continue;
        // Its quit() would come queued through the event loop we are blocking.
        thread->quit();
        thread->wait();
    }
    downloader.abandon();
    releaseImageFile();
}

void FirmwareUpdater::startUpdate(QWidget *parent)
{
    if (!errorText.isNull())
        errorText = QString();
    parentWidget = parent;
    runInThread(new DfuUtilOtp, SIGNAL(result(QString)), SLOT(otpFinished(QString)));
}

void FirmwareUpdater::runInThread(DfuUtil *worker, const char *resultSignal,
                                  const char *resultSlot)
{
    auto *thread = new QThread;
    worker->moveToThread(thread);
    connect(thread, SIGNAL(started()), worker, SLOT(process()));
    connect(worker, resultSignal, thread, SLOT(quit()));
    connect(worker, resultSignal, worker, SLOT(deleteLater()));
    connect(thread, SIGNAL(finished()), thread, SLOT(deleteLater()));
    connect(worker, SIGNAL(logOutput(QString)), this, SLOT(log(QString)));
    connect(worker, resultSignal, this, resultSlot);
    workerThreads.removeAll(nullptr);
    workerThreads.append(thread);
    thread->start();
}

void FirmwareUpdater::reportFailure(const QString &text)
{
    errorText = text;
    emit finished(false);
}

void FirmwareUpdater::releaseImageFile()
{
    delete imageFile;
    imageFile = nullptr;
}

void FirmwareUpdater::otpFinished(QString name)
{
    if (name == QLatin1String("?")) {
        reportFailure(QString::fromUtf8("dfu-util nicht gefunden / not found"));
        return;
    }
    if (name.isEmpty()) {
        reportFailure(QString::fromUtf8("Kein kompatibles Gerät gefunden / No compatible device found"));
        return;
    }
    releaseImageFile();
    imageFile = new QFile(dataFolder + name);
    downloader.download(QString::fromUtf8(firmwareBaseUrl) + name, imageFile, parentWidget);
}

void FirmwareUpdater::httpFinished()
{
    if (!imageFile->exists()) {
        reportFailure(QString::fromUtf8("Kann Imagedatei nicht herunterladen / Cannot download image file"));
        return;
    }
    showInstallDialog();
    runInThread(new DfuUtilInstaller(imageFile->fileName()),
                SIGNAL(result(bool)), SLOT(installFinished(bool)));
}

} // namespace Strobix
