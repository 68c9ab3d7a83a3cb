// strobix-release-check: before a release, checks every catalogue image on a firmware
// server the way a unit would meet it: downloaded with the updater's rules, checked
// as a DfuSe file for 0483:df11, written by the real dfu-util into a fresh virtual
// unit of its model with the updater's command line, and read back.

#include "releaserules.h"

#include "app/globals.h"
#include "app/startup.h"
#include "dfu/dfuutil.h"
#include "update/firmwarecatalogue.h"

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
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <memory>

using namespace ReleaseCheck;

namespace {

const int downloadTimeoutMs = 60000;
const int toolLimitMs = 120000; // a bound on a hung tool, not a speed target

struct Settings
{
    QString baseUrl;
    QString dfuUtil;
    QString vuLibDir;
};

struct ToolRun
{
    int exitCode = -1; // -1: did not start, crashed or hung
    QByteArray output;
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
QString profileFor(const QString &imageName)
{
    for (const vu::Profile &p : vu::allProfiles()) {
        if (!p.programmed)
            continue;
        const QString name = QStringLiteral("SX%1%2%3.dfu")
                                 .arg(p.identity[0], 2, 16, QLatin1Char('0'))
                                 .arg(p.identity[1], 2, 16, QLatin1Char('0'))
                                 .arg(p.identity[2], 2, 16, QLatin1Char('0'));
        if (name == imageName)
            return QString::fromStdString(p.name);
    }
    return QString();
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

ToolRun runTool(const QString &program, const QStringList &arguments, const QProcessEnvironment &env,
                const QString &logPath)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    ToolRun run;
    if (process.waitForStarted(toolLimitMs) && !process.waitForFinished(toolLimitMs)) {
        process.kill();
        process.waitForFinished(toolLimitMs);
    }
    run.output = process.readAll();
    if (process.exitStatus() == QProcess::NormalExit && process.error() != QProcess::FailedToStart
        && process.error() != QProcess::Timedout)
        run.exitCode = process.exitCode();
    QFile log(logPath);
    if (log.open(QIODevice::Append)) {
        log.write("$ " + program.toUtf8() + ' ' + arguments.join(QLatin1Char(' ')).toUtf8() + '\n');
        log.write(run.output);
        log.write(QByteArray("\n[exit ") + QByteArray::number(run.exitCode) + "]\n\n");
    }
    return run;
}

// What went wrong, in the tool's own words: its last error line, else its last line.
QString toolFailure(const QString &what, const ToolRun &run)
{
    if (run.exitCode < 0)
        return QStringLiteral("%1 did not finish").arg(what);
    QString lastError;
    QString lastLine;
    for (const QByteArray &raw : run.output.split('\n')) {
        const QString line = QString::fromUtf8(raw.split('\r').last()).trimmed();
        if (line.isEmpty())
            continue;
        lastLine = line;
        if (line.startsWith(QLatin1String("dfu-util: ")))
            lastError = line.mid(10);
    }
    const QString last = lastError.isEmpty() ? lastLine : lastError;
    return QStringLiteral("%1 exit %2: %3").arg(what).arg(run.exitCode).arg(last);
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
    const QByteArray image = download(manager, settings.baseUrl + imageName, &problem);
    if (!problem.isEmpty())
        return problem;
    const QString imagePath = dir.filePath(imageName);
    QFile saved(imagePath);
    if (!saved.open(QIODevice::WriteOnly) || saved.write(image) != image.size() || !saved.flush())
        return QStringLiteral("cannot write %1").arg(imagePath);
    saved.close();

    Strobix::DfuseImage dfuse;
    problem = checkReleaseImage(image, dfuse);
    if (!problem.isEmpty())
        return problem;
    const QVector<Strobix::DfuseImage::Element> &elements = dfuse.elements;

    const QString model = profileFor(imageName);
    if (model.isEmpty())
        return QStringLiteral("no virtual unit model has this image's identity");

    // The shim creates a factory-fresh unit of the model in the missing state file.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString libraryPath = env.value(QStringLiteral("LD_LIBRARY_PATH"));
    env.insert(QStringLiteral("LD_LIBRARY_PATH"),
               settings.vuLibDir + (libraryPath.isEmpty() ? QString() : QLatin1Char(':') + libraryPath));
    env.insert(QStringLiteral("STROBIX_VU_MODEL"), model);
    env.insert(QStringLiteral("STROBIX_VU_STATE"), dir.filePath(QStringLiteral("unit.state")));
    const QString log = dir.filePath(QStringLiteral("dfu-util.log"));
    const QStringList device{QStringLiteral("-d"), QString::fromLatin1(Strobix::dfuDeviceId),
                             QStringLiteral("-c"), QStringLiteral("1"),
                             QStringLiteral("-i"), QStringLiteral("0"),
                             QStringLiteral("-a"), QStringLiteral("0")};

    const ToolRun install = runTool(settings.dfuUtil, device + QStringList{QStringLiteral("-D"), imagePath}, env, log);
    if (install.exitCode != 0)
        return toolFailure(QStringLiteral("dfu-util -D"), install);

    for (int i = 0; i < elements.size(); ++i) {
        const Strobix::DfuseImage::Element &e = elements[i];
        const QString where = QStringLiteral("0x%1").arg(e.address, 8, 16, QLatin1Char('0'));
        const QString readPath = dir.filePath(QStringLiteral("element-%1.bin").arg(i + 1));
        const ToolRun upload = runTool(
            settings.dfuUtil,
            device + QStringList{QStringLiteral("-s"), QStringLiteral("%1:%2").arg(where).arg(e.data.size()),
                                 QStringLiteral("-U"), readPath},
            env, log);
        if (upload.exitCode != 0)
            return toolFailure(QStringLiteral("dfu-util -U %1").arg(where), upload);
        QFile read(readPath);
        const QByteArray held = read.open(QIODevice::ReadOnly) ? read.readAll() : QByteArray();
        const QString element = QStringLiteral("element %1 at %2 (%3 bytes)").arg(i + 1).arg(where).arg(e.data.size());
        if (held.size() != e.data.size())
            return QStringLiteral("%1 reads back %2 bytes").arg(element).arg(held.size());
        for (int at = 0; at < held.size(); ++at) {
            if (held[at] != e.data[at])
                return QStringLiteral("%1 reads back different from 0x%2")
                    .arg(element)
                    .arg(e.address + quint32(at), 8, 16, QLatin1Char('0'));
        }
    }
    return QString();
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
        "installation with dfu-util into a virtual unit of its model, read-back.\n"
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
    parser.addOption(serverOption);
    parser.addOption(keepOption);
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

    QTemporaryDir temporary;
    QString workDir = parser.value(keepOption);
    if (workDir.isEmpty()) {
        if (!temporary.isValid()) {
            err << "strobix-release-check: cannot create a temporary folder\n";
            return 2;
        }
        workDir = temporary.path();
    }

    QNetworkAccessManager manager;
    int failed = 0;
    int rows = 0;
    out << "server: " << settings.baseUrl << Qt::endl;
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
