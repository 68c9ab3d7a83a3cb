#include "ui/driverrepair.h"

#include "app/globals.h"
#include "dfu/dfuutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QWidget>

#include <windows.h>
#include <shellapi.h>

namespace Strobix {

// Beside the program, where the installer and the zip put them.
const char DriverRepair::toolPath[] = "driver/strobix-driver.exe";
const char DriverRepair::infPath[] = "driver/strobix-dfu.inf";
const char DriverRepair::logPath[] = "driver/install.log";

namespace {

QString besideProgram(const char *path)
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(path));
}

void appendToToolLog(const QString &text)
{
    QFile log(dataFolder + QLatin1String(DfuUtil::logFileName));
    if (log.open(QIODevice::Append))
        log.write(text.toUtf8());
}

} // namespace

bool DriverRepair::run(QWidget *window)
{
    const QString log = besideProgram(logPath);
    // Elevated, the tool has no output that we could read: it writes the log.
    QFile::remove(log);
    const QString parameters = QStringLiteral("install \"%1\" \"%2\"").arg(besideProgram(infPath), log);
    const std::wstring tool = besideProgram(toolPath).toStdWString();
    const std::wstring wideParameters = parameters.toStdWString();
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.hwnd = window ? reinterpret_cast<HWND>(window->winId()) : nullptr;
    // Windows asks for an administrator, naming the tool's signer.
    info.lpVerb = L"runas";
    info.lpFile = tool.c_str();
    info.lpParameters = wideParameters.c_str();
    info.nShow = SW_HIDE;

    QString outcome = QStringLiteral("\nstrobix Firmware Updater: %1 install %2\n")
                          .arg(QLatin1String(toolPath), QLatin1String(infPath));
    DWORD exitCode = 1;
    if (!ShellExecuteExW(&info)) {
        const DWORD error = GetLastError();
        outcome += error == ERROR_CANCELLED ? QStringLiteral("not run: the administrator's rights were declined\n")
                                            : QStringLiteral("not run: Windows error %1\n").arg(error);
    } else {
        // The window keeps painting while Windows asks and the tool works.
        while (MsgWaitForMultipleObjects(1, &info.hProcess, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1)
            QCoreApplication::processEvents();
        GetExitCodeProcess(info.hProcess, &exitCode);
        CloseHandle(info.hProcess);
        QFile written(log);
        if (written.open(QIODevice::ReadOnly))
            outcome += QString::fromUtf8(written.readAll());
        outcome += QStringLiteral("exit status: %1\n").arg(exitCode);
    }
    appendToToolLog(outcome);
    return exitCode == 0;
}

} // namespace Strobix
