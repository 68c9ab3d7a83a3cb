// strobix-release-check: before a release, checks every catalogue image on a firmware
// server the way a unit would meet it: downloaded with the updater's rules, checked
// as a DfuSe file for 0483:df11, written into a fresh virtual unit of its model by
// the updater's own installation code, read back, and the unit identified again by
// the updater's own identification code: an image must never destroy the identity
// record that the next update depends on. With keys, each image's signature is
// checked as the updater checks it.

#include "releaserules.h"

#include "app/globals.h"
#include "app/startup.h"
#include "dfu/dfuutil.h"
#include "dfu/dfuutilinstaller.h"
#include "dfu/dfuutilotp.h"
#include "update/firmwarecatalogue.h"
#include "update/imagesignature.h"

#include "profiles.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <QTextStream>

#include <memory>

using namespace ReleaseCheck;
using Strobix::DfuseImage;

namespace {

const int downloadTimeoutMs = 60000;
// Read-backs ask for whole transfers: how the part addresses a short last upload
// block is not documented.
const quint32 transferSize = Strobix::DfuUtilInstaller::transferSize;

struct Settings
{
    QString baseUrl;
    QString keys;
    QString dfuUtil;
    QString vuLibDir;
};

// The model as the install dialog names it.
QString modelText(const Strobix::CatalogueEntry &entry)
{
    QString text = QString::fromLatin1(entry.installText);
    const QString fallback = QString::fromLatin1(Strobix::catalogueFallbackText);
    if (text.startsWith(fallback))
        text = text.mid(fallback.size()).trimmed();
    return text;
}

// The virtual unit whose identity bytes name this image, as a real unit's would.
const vu::Profile *profileFor(const QString &imageName)
{
    for (const vu::Profile &p : vu::allProfiles()) {
        if (p.hasRecord && p.programmed && Strobix::DfuUtilOtp::imageName(p.identity[0], p.identity[1], p.identity[2]) == imageName)
            return &p;
    }
    return nullptr;
}

QString hex(quint32 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

// The same rules as the updater's download: no redirects, 2xx only, the whole
// announced length.
QByteArray download(QNetworkAccessManager &manager, const QString &url, QString *problem)
{
    QNetworkRequest request{QUrl(url, QUrl::TolerantMode)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(downloadTimeoutMs);
    std::unique_ptr<QNetworkReply> reply(manager.get(request));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    const QByteArray body = reply->readAll();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        *problem = QStringLiteral("download: HTTP %1 %2")
                       .arg(status.toInt())
                       .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
        const QByteArray location = reply->rawHeader("Location");
        if (!location.isEmpty())
            *problem += QStringLiteral(" to %1 (the updater follows no redirects)").arg(QString::fromUtf8(location));
        return QByteArray();
    }
    // Qt reports a connection closed early as an error or, at times, as a success.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && reply->rawHeader("Content-Encoding").isEmpty() && length.toLongLong() != body.size()) {
        *problem = QStringLiteral("download: %1 of %2 bytes arrived").arg(body.size()).arg(length.toLongLong());
        return QByteArray();
    }
    if (reply->error() != QNetworkReply::NoError) {
        *problem = QStringLiteral("download: %1").arg(reply->errorString());
        return QByteArray();
    }
    return body;
}

// Runs the updater's dfu-util workers in this thread, against the unit that the
// environment names, in the data folder of one row; keeps all their output.
class Unit
{
public:
    explicit Unit(const QString &rowDir) : log(rowDir + QStringLiteral("/release-check.log")) {}

    // The image name the updater's identification forms; empty: none.
    QString identify()
    {
        Strobix::DfuUtilOtp otp;
        QString name;
        QObject::connect(&otp, &Strobix::DfuUtilOtp::result, [&name](const QString &result) { name = result; });
        run(otp);
        return name;
    }

    // Whether the updater's installation counts the image as written.
    bool install(const QString &imagePath)
    {
        Strobix::DfuUtilInstaller installer(imagePath);
        bool ok = false;
        QObject::connect(&installer, &Strobix::DfuUtilInstaller::result, [&ok](bool result) { ok = result; });
        run(installer);
        return ok;
    }

    // Reads length bytes at address of the internal flash into path.
    bool upload(quint32 address, quint32 length, const QString &path)
    {
        Strobix::DfuUtil tool;
        int exitCode = -1;
        lastOutput.clear();
        QObject::connect(&tool, &Strobix::DfuUtil::logOutput, [this](const QString &text) { keep(text); });
        tool.execute(Strobix::DfuUtil::unitSelection(1, 0) << QStringLiteral("-s")
                                                          << QStringLiteral("%1:%2").arg(hex(address)).arg(length)
                                                          << QStringLiteral("-U") << path,
                     &exitCode);
        return exitCode == 0;
    }

    // What went wrong in the last run, in the tool's own words: its last error line, else its last line.
    QString lastWords() const
    {
        QString lastError;
        QString lastLine;
        for (const QString &raw : lastOutput.split(QLatin1Char('\n'))) {
            const QString line = raw.section(QLatin1Char('\r'), -1).trimmed();
            if (line.isEmpty())
                continue;
            lastLine = line;
            if (line.startsWith(QLatin1String("dfu-util: ")))
                lastError = line.mid(10);
        }
        return lastError.isEmpty() ? lastLine : lastError;
    }

private:
    void run(Strobix::DfuUtil &worker)
    {
        lastOutput.clear();
        QObject::connect(&worker, &Strobix::DfuUtil::logOutput, [this](const QString &text) { keep(text); });
        worker.process();
    }

    void keep(const QString &text)
    {
        lastOutput += text;
        if (log.isOpen() || log.open(QIODevice::Append))
            log.write(text.toUtf8());
    }

    QFile log;
    QString lastOutput;
};

// Which element of the image overlaps the erase page or sector holding the identity record.
QString recordOverlap(const vu::Profile &profile, const DfuseImage &image)
{
    const auto place = profile.identityPlace();
    const vu::AltSetting alt = profile.altSettings().at(size_t(place.first));
    const vu::Segment *s = alt.segmentAt(place.second);
    const quint32 page = s->start + (place.second - s->start) / s->pageSize * s->pageSize;
    for (int i = 0; i < image.elements.size(); ++i) {
        const DfuseImage::Element &e = image.elements.at(i);
        if (e.alternate == place.first && e.address < page + s->pageSize
            && e.address + quint64(e.data.size()) > page)
            return QStringLiteral(": element %1 at %2 (%3 bytes) overlaps the sector %4..%5 that holds it at %6")
                .arg(i + 1)
                .arg(hex(e.address))
                .arg(e.data.size())
                .arg(hex(page), hex(page + s->pageSize - 1), hex(place.second));
    }
    return QString();
}

QString readBack(Unit &unit, const DfuseImage &image, const QDir &dir)
{
    for (int i = 0; i < image.elements.size(); ++i) {
        const DfuseImage::Element &e = image.elements.at(i);
        const QString element = QStringLiteral("element %1 at %2 (%3 bytes)").arg(i + 1).arg(hex(e.address)).arg(e.data.size());
        const QString path = dir.filePath(QStringLiteral("element-%1.bin").arg(i + 1));
        const quint32 length = (quint32(e.data.size()) + transferSize - 1) / transferSize * transferSize;
        if (!unit.upload(e.address, length, path))
            return QStringLiteral("dfu-util -U %1 failed: %2").arg(hex(e.address), unit.lastWords());
        QFile read(path);
        const QByteArray held = read.open(QIODevice::ReadOnly) ? read.read(e.data.size()) : QByteArray();
        if (held.size() != e.data.size())
            return QStringLiteral("%1 reads back %2 bytes").arg(element).arg(held.size());
        for (int at = 0; at < held.size(); ++at) {
            if (held[at] != e.data[at])
                return QStringLiteral("%1 did not land: it reads back different from %2")
                    .arg(element, hex(e.address + quint32(at)));
        }
    }
    return QString();
}

// Checks one catalogue row in rowDir (emptied first); returns the problem, or empty.
QString checkRow(QNetworkAccessManager &manager, const Settings &settings, const QString &imageName,
                 const QString &rowDir)
{
    QDir(rowDir).removeRecursively();
    if (!QDir().mkpath(rowDir))
        return QStringLiteral("cannot create %1").arg(rowDir);
    const QDir dir(rowDir);

    QString problem;
    const QByteArray bytes = download(manager, settings.baseUrl + imageName, &problem);
    if (!problem.isEmpty())
        return problem;
    const QString imagePath = dir.filePath(imageName);
    QFile saved(imagePath);
    if (!saved.open(QIODevice::WriteOnly) || saved.write(bytes) != bytes.size() || !saved.flush())
        return QStringLiteral("cannot write %1").arg(imagePath);
    saved.close();

    DfuseImage image;
    problem = checkReleaseImage(bytes, image);
    if (!problem.isEmpty())
        return problem;
    const Strobix::ImageSignature signature(settings.keys);
    if (signature.required()) {
        const QString signatureName = imageName + QLatin1String(Strobix::ImageSignature::fileSuffix);
        const QByteArray signatureFile = download(manager, settings.baseUrl + signatureName, &problem);
        if (problem.isEmpty())
            problem = signature.problem(bytes, signatureFile, imageName);
        if (!problem.isEmpty())
            return signatureName + QStringLiteral(": ") + problem;
    }
    const vu::Profile *profile = profileFor(imageName);
    if (!profile)
        return QStringLiteral("no virtual unit model has this image's identity");

    // The stand-in creates a factory-fresh unit of the model in the missing state file.
    qputenv("STROBIX_VU_MODEL", QByteArray::fromStdString(profile->name));
    qputenv("STROBIX_VU_STATE", QFile::encodeName(dir.filePath(QStringLiteral("unit.state"))));
    Strobix::dataFolder = rowDir + QLatin1Char('/');
    Unit unit(rowDir);
    const QString before = unit.identify();
    if (before != imageName)
        return QStringLiteral("before writing, the unit identifies as %1: %2")
            .arg(before.isEmpty() ? QStringLiteral("nothing") : before, unit.lastWords());
    // When dfu-util went through but the updater refuses what landed, the
    // identity and the read-back below say why.
    if (!unit.install(imagePath) && !unit.lastWords().contains(QLatin1String("Done parsing DfuSe file")))
        return QStringLiteral("dfu-util -D failed: %1").arg(unit.lastWords());
    const QString after = unit.identify();
    if (after != before)
        return QStringLiteral("the image destroys the unit's identity: after writing, it identifies as %1, not %2%3")
            .arg(after.isEmpty() ? QStringLiteral("nothing") : after, before, recordOverlap(*profile, image));
    return readBack(unit, image, dir);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("strobix-release-check"));
    Strobix::useSystemProxy();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Checks every catalogue image on a firmware server: download, DfuSe format for 0483:df11,\n"
        "the maker's signature (with keys), installation with dfu-util into a virtual unit of its\n"
        "model, identification, read-back.\n"
        "Exit 0: all images ok; 1: at least one failed; 2: the check could not run."));
    parser.addHelpOption();
    const QCommandLineOption serverOption(
        QStringLiteral("server"), QStringLiteral("Base URL of the server, ending in /firmware/ (default %1).")
                                      .arg(QString::fromUtf8(Strobix::firmwareBaseUrl)),
        QStringLiteral("URL"), QString::fromUtf8(Strobix::firmwareBaseUrl));
    const QCommandLineOption keepOption(
        QStringLiteral("keep"),
        QStringLiteral("Keep per image a folder such as DIR/SX2100b0/ with the download, the unit's state file, "
                       "the read-back elements and dfu-util's output (replaced on each run)."),
        QStringLiteral("DIR"));
    const QCommandLineOption keysOption(
        QStringLiteral("keys"),
        QStringLiteral("Public keys (minisign -P) that the images must be signed with, separated by ; "
                       "(default: the build's, \"%1\"; empty: no signature asked for).")
            .arg(QLatin1String(Strobix::firmwarePublicKeys)),
        QStringLiteral("KEYS"), QLatin1String(Strobix::firmwarePublicKeys));
    parser.addOption(serverOption);
    parser.addOption(keepOption);
    parser.addOption(keysOption);
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    if (!parser.positionalArguments().isEmpty()) {
        err << "strobix-release-check: unexpected argument " << parser.positionalArguments().first() << '\n'
            << parser.helpText();
        return 2;
    }
    Settings settings;
    settings.baseUrl = parser.value(serverOption);
    settings.keys = parser.value(keysOption);
    // The updater appends the image name to exactly this.
    if (!settings.baseUrl.endsWith(QLatin1String("/firmware/")) || !QUrl(settings.baseUrl).isValid()) {
        err << "strobix-release-check: the server URL must end in /firmware/: " << settings.baseUrl << '\n';
        return 2;
    }
    settings.dfuUtil = qEnvironmentVariable("STROBIX_DFU_UTIL", QStringLiteral("/usr/bin/dfu-util"));
    settings.vuLibDir = qEnvironmentVariable("STROBIX_VU_LIB", QStringLiteral(VU_LIB_DIR));
    if (!QFileInfo(settings.dfuUtil).isExecutable()) {
        err << "strobix-release-check: " << settings.dfuUtil << " is not executable (package dfu-util)\n";
        return 2;
    }
    if (!QFileInfo::exists(settings.vuLibDir + QStringLiteral("/libusb-1.0.so.0"))) {
        err << "strobix-release-check: no virtual unit (libusb-1.0.so.0) in " << settings.vuLibDir << '\n';
        return 2;
    }

    // The updater's workers run dfu-util/dfu-util.exe from the working directory:
    // here the launcher that points the system's dfu-util at the virtual unit.
    QTemporaryDir toolDir;
    QTemporaryDir temporary;
    if (!toolDir.isValid() || !temporary.isValid() || !QDir(toolDir.path()).mkdir(QStringLiteral("dfu-util"))
        || !QFile::link(QStringLiteral(STROBIX_LAUNCHER), toolDir.filePath(QString::fromLatin1(Strobix::DfuUtil::programPath)))
        || !QDir::setCurrent(toolDir.path())) {
        err << "strobix-release-check: cannot set up a temporary folder\n";
        return 2;
    }
    qputenv("STROBIX_VU_LIB", QFile::encodeName(settings.vuLibDir));
    qputenv("STROBIX_DFU_UTIL", QFile::encodeName(settings.dfuUtil));
    const QString keep = parser.value(keepOption);
    const QString workDir = keep.isEmpty() ? temporary.path() : QDir(keep).absolutePath();

    QNetworkAccessManager manager;
    int failed = 0;
    int rows = 0;
    out << "server: " << settings.baseUrl << Qt::endl;
    out << "signatures: " << (Strobix::ImageSignature(settings.keys).required() ? "required" : "none asked for")
        << Qt::endl;
    for (const Strobix::CatalogueEntry &entry : Strobix::firmwareCatalogue) {
        const QString name = QString::fromLatin1(entry.imageName);
        const QString problem = checkRow(manager, settings, name, QDir(workDir).filePath(name.section(QLatin1Char('.'), 0, 0)));
        ++rows;
        if (!problem.isEmpty())
            ++failed;
        out << name.leftJustified(12) << "  " << modelText(entry).leftJustified(12) << "  "
            << (problem.isEmpty() ? QStringLiteral("ok") : QStringLiteral("FAIL: ") + problem) << Qt::endl;
    }
    if (failed)
        out << "verdict: FAILED, " << failed << " of " << rows << " images failed" << Qt::endl;
    else
        out << "verdict: ok, all " << rows << " images passed" << Qt::endl;
    return failed ? 1 : 0;
}
