#include "update/firmwareupdater.h"

#include "app/globals.h"
#include "dfu/dfuseimage.h"
#include "dfu/dfuutilinstaller.h"
#include "dfu/dfuutilotp.h"
#include "update/failuretexts.h"
#include "update/imagesignature.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QStorageInfo>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

namespace Strobix {

namespace {

// Only a DfuSe image for the unit counts as downloaded: a captive portal's
// login page or a cut-off body would otherwise reach dfu-util, whose refusal
// reads as a failed update.
bool holdsImageForUnit(QFile &file)
{
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    const uchar *mapped = size > 0 ? file.map(0, size) : nullptr;
    const QByteArray bytes = mapped ? QByteArray::fromRawData(reinterpret_cast<const char *>(mapped), int(size))
                                    : file.readAll();
    DfuseImage image;
    const QList<QByteArray> device = QByteArray(dfuDeviceId).split(':');
    const bool ok = DfuseImage::read(bytes, &image).isEmpty()
                    && image.isFor(device.at(0).toUShort(nullptr, 16), device.at(1).toUShort(nullptr, 16));
    file.close();
    return ok;
}

// A full disk is the folder's problem, not the network's: the help for a
// failed download would send the user the wrong way.
QString downloadFailure(const Http &downloader, const char *text = downloadFailureText)
{
    return QString::fromUtf8(downloader.localWriteFailed() ? writeFailureText : text);
}

// The text for an answer that names a unit which dfu-util sees but cannot
// use, or null for any other answer.
const char *unusableUnitText(const QString &answer)
{
    const struct {
        const char *answer;
        const char *text;
    } cases[] = {
        {DfuUtilOtp::unitWithoutDriver, noDriverText},
        {DfuUtilOtp::unitAccessDenied, accessDeniedText},
        {DfuUtilOtp::unitInUse, unitInUseText},
        {DfuUtilOtp::severalUnits, severalUnitsText},
    };
    for (const auto &unusable : cases) {
        if (answer == QLatin1String(unusable.answer))
            return unusable.text;
    }
    return nullptr;
}

// Whether the folder takes a new file. A lock that is there but cannot be
// taken in a folder that takes none is a leftover, not a second updater.
bool folderTakesFiles(const QString &folder)
{
    QFile probe(folder + QString::fromLatin1(FirmwareUpdater::probeFileName));
    if (!probe.open(QIODevice::WriteOnly))
        return false;
    probe.remove();
    return true;
}

// On a network share an updater on another computer may hold the lock.
bool isLocal(const QString &folder)
{
    const QByteArray type = QStorageInfo(folder).fileSystemType();
    for (const char *network : {"nfs", "cifs", "smb", "fuse.sshfs", "9p", "afs"}) {
        if (type.startsWith(network))
            return false;
    }
    return true;
}

// Far longer than a starting updater's lock stays empty, far shorter than a
// restart after a power cut.
const qint64 startingLockMs = 10000;

// Qt gives a lock up only when it knows its owner is gone, which it cannot
// tell for an empty lock (a power cut soon after Start) or one from another
// computer. Neither can be a running updater's: the lock is stale. But a
// starting updater's lock is empty too, for the instant before Qt locks and
// fills it: only an older empty lock counts. Once Qt holds a lock, its file
// lock keeps removeStaleLockFile() from taking it.
bool ownerCannotBeRunning(const QLockFile &lock, const QString &path)
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!lock.getLockInfo(&pid, &host, &application))
        return qAbs(QFileInfo(path).lastModified().msecsTo(QDateTime::currentDateTime())) > startingLockMs;
    return !host.isEmpty() && host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0
           && isLocal(dataFolder);
}

// Support reads dfu-util.log. The refusal goes after the output of the last
// run there, marked as ours, and the next run of the tool replaces it.
void logRefusal(const QString &imageName, const QString &problem)
{
    QFile log(dataFolder + QLatin1String(DfuUtil::logFileName));
    if (log.open(QIODevice::Append))
        log.write(QStringLiteral("\nstrobix Firmware Updater: %1 not installed, its signature check failed: %2\n")
                      .arg(imageName, problem).toUtf8());
}

} // namespace

const char FirmwareUpdater::lockFileName[] = "strobix.lock";
const char FirmwareUpdater::probeFileName[] = "strobix.probe";

FirmwareUpdater::FirmwareUpdater(const QString &publicKeys)
    : publicKeys(publicKeys)
{
    connect(&downloader, SIGNAL(finished()), this, SLOT(httpFinished()));
}

FirmwareUpdater::~FirmwareUpdater()
{
    for (const QPointer<QThread> &thread : qAsConst(workerThreads)) {
        if (!thread)
            continue;
        // Its quit() would come queued through the event loop we are blocking,
        // and so would its deleteLater(), if that loop ever runs again.
        thread->quit();
        thread->wait();
        delete thread.data();
    }
    downloader.abandon();
    // An image whose signature was still on its way is unchecked.
    if (signatureFile)
        QFile::remove(imageFile->fileName());
    delete signatureFile;
    releaseImageFile();
}

void FirmwareUpdater::startUpdate(QWidget *parent)
{
    if (!errorText.isNull())
        errorText = QString();
    parentWidget = parent;
    if (!lockDataFolder())
        return;
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

bool FirmwareUpdater::lockDataFolder()
{
    const QString path = dataFolder + QString::fromLatin1(lockFileName);
    runLock.reset(new QLockFile(path));
    // An update takes minutes: only a lock whose owner is gone counts as stale.
    runLock->setStaleLockTime(0);
    if (!runLock->tryLock(0) && QFileInfo(path).isFile() && ownerCannotBeRunning(*runLock, path)
        && runLock->removeStaleLockFile())
        runLock->tryLock(0);
    // A folder that could take no read-back fails now, before the unit is written.
    if (runLock->isLocked() && DfuUtilInstaller::clearReadBackFile())
        return true;
    // Anything else at the lock's path is the folder's problem, not a second updater.
    const bool heldByAnother = !runLock->isLocked() && QFileInfo(path).isFile() && folderTakesFiles(dataFolder);
    const QString text = QString::fromUtf8(heldByAnother ? anotherUpdateText : writeFailureText);
    runLock.reset();
    // startUpdate() returns before the outcome, as with every other run.
    QTimer::singleShot(0, this, [this, text] { reportFailure(text); });
    return false;
}

void FirmwareUpdater::endRun()
{
    runLock.reset();
}

void FirmwareUpdater::reportFailure(const QString &text)
{
    endRun();
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
        reportFailure(QString::fromUtf8(toolNotFoundText));
        return;
    }
    if (name.isEmpty()) {
        reportFailure(QString::fromUtf8(noDeviceText));
        return;
    }
    if (name == QLatin1String(DfuUtilOtp::unwritableDump)) {
        reportFailure(QString::fromUtf8(writeFailureText));
        return;
    }
    if (const char *unusable = unusableUnitText(name)) {
        reportFailure(QString::fromUtf8(unusable));
        return;
    }
    releaseImageFile();
    imageFile = new QFile(dataFolder + name);
    downloader.download(QString::fromUtf8(firmwareBaseUrl) + name, imageFile, parentWidget);
}

void FirmwareUpdater::httpFinished()
{
    if (signatureFile) {
        signatureFinished();
        return;
    }
    if (!imageFile->exists() || !holdsImageForUnit(*imageFile)) {
        imageFile->remove();
        reportFailure(downloadFailure(downloader));
        return;
    }
    // Queued as the image's download starts: the failure text that it throws
    // must not unwind through QtNetwork, which is emitting finished() now.
    if (ImageSignature(publicKeys).required())
        QTimer::singleShot(0, this, &FirmwareUpdater::fetchSignature);
    else
        install();
}

void FirmwareUpdater::fetchSignature()
{
    const QString suffix = QString::fromLatin1(ImageSignature::fileSuffix);
    signatureFile = new QFile(imageFile->fileName() + suffix);
    downloader.download(QString::fromUtf8(firmwareBaseUrl) + QFileInfo(*imageFile).fileName() + suffix,
                        signatureFile, parentWidget);
}

void FirmwareUpdater::signatureFinished()
{
    const std::unique_ptr<QFile> signature(signatureFile);
    signatureFile = nullptr;
    const QString problem = ImageSignature(publicKeys).problemWithFiles(imageFile->fileName(), signature->fileName());
    if (problem.isEmpty()) {
        install();
        return;
    }
    signature->remove();
    imageFile->remove();
    logRefusal(QFileInfo(*imageFile).fileName(), problem);
    reportFailure(downloadFailure(downloader, signatureFailureText));
}

void FirmwareUpdater::install()
{
    showInstallDialog();
    runInThread(new DfuUtilInstaller(imageFile->fileName()),
                SIGNAL(result(bool)), SLOT(installFinished(bool)));
}

} // namespace Strobix
