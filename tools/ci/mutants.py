#!/usr/bin/env python3
"""Mutant check: do the tests catch faults that a real change could bring?

Each mutant below changes one place of the product code. For each one the
script applies it to a scratch copy of the working tree, rebuilds, runs the
tests that can catch it (fast ones first, stopping at the first failure) and
prints "caught" or "SURVIVED". A mutant that does not build tests nothing:
it is "stillborn", counted apart, and must be mended. At the end it prints the
score over the mutants that built.

    tools/ci/mutants.py [--only NAME_PART]... [--list] [--keep] [--build-only]

--build-only builds each mutant and runs no test: a quick search for stillborn
ones after a change to the product code.

Runs in a network namespace of its own where it can, so that the tests that
serve the build's fixed port may run beside anything else. A test is a CTest
name, or NAME:FUNCTION to run one function of a Qt test binary. Takes about a
minute a mutant on a 2-core machine; not part of CI.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

# name, file, text in the file (must occur once), its replacement, tests
MUTANTS = [
    # --- running dfu-util
    ("missing tool counts as started", "dfu/dfuutil.cpp",
     "if (!process.waitForStarted(startTimeoutMs))\n        return false;",
     "if (!process.waitForStarted(startTimeoutMs))\n        return true;", ["tst_dfuutil"]),
    ("stderr no longer merged", "dfu/dfuutil.cpp",
     "QProcess::MergedChannels", "QProcess::SeparateChannels", ["tst_dfuutil"]),
    ("text not cut at the first NUL", "dfu/dfuutil.cpp",
     "nul ? int(static_cast<const char *>(nul) - data) : chunk.size()", "chunk.size()",
     ["tst_dfuutil"]),
    ("output at the tool's end lost", "dfu/dfuutil.cpp",
     "    if (!tail.isEmpty())\n        forward(tail);", "", ["tst_dfuutil", "tst_workflow"]),
    ("log not written", "dfu/dfuutil.cpp", "        log.write(chunk);", "", ["tst_dfuutil"]),
    ("log appended, not emptied", "dfu/dfuutil.cpp",
     "log.open(logMode == AppendToLog ? QIODevice::Append : QIODevice::WriteOnly);", "log.open(QIODevice::Append);",
     ["tst_dfuutil"]),
    ("a configuration named on every command line", "dfu/dfuutil.cpp",
     "if (configuration != anyConfiguration)", "if (true)", ["tst_dfuutil"]),
    ("crash counts as a normal end", "dfu/dfuutil.cpp",
     "const bool ok = process.exitStatus() == QProcess::NormalExit;", "const bool ok = true;",
     ["tst_dfuutil"]),
    ("exit code ignored", "dfu/dfuutil.cpp",
     "*exitCode = process.exitCode();", "*exitCode = 0;", ["tst_dfuutil"]),
    ("killed tool reports exit code 0", "dfu/dfuutil.cpp",
     "    if (exitCode)\n        *exitCode = -1;", "    if (exitCode)\n        *exitCode = 0;",
     ["tst_dfuutil:silentToolIsKilled"]),
    ("tool dies of a closed pipe", "dfu/dfuutil.cpp",
     "{SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM}", "{SIGINT, SIGQUIT, SIGHUP, SIGTERM}", ["signals"]),
    ("tool dies of Ctrl-C, a closed terminal or a logout", "dfu/dfuutil.cpp",
     "{SIGPIPE, SIGINT, SIGQUIT, SIGHUP, SIGTERM}", "{SIGPIPE}", ["signals"]),
    # --- installation
    ("install without -c 1", "dfu/dfuutilinstaller.cpp",
     'unitSelection(1, 0) << QStringLiteral("-D")', 'unitSelection(anyConfiguration, 0) << QStringLiteral("-D")',
     ["tst_dfuutil"]),
    ("install verdict ignores the exit code", "dfu/dfuutilinstaller.cpp",
     "bool ok = execute(arguments, &exitCode) && exitCode == 0;", "bool ok = execute(arguments, &exitCode);",
     ["tst_dfuutil"]),
    ("image not read back", "dfu/dfuutilinstaller.cpp", "ok = unitHoldsImage() && identifiesAsBefore();",
     "ok = identifiesAsBefore();", ["tst_dfuutil"]),
    ("short last block read with the others", "dfu/dfuutilinstaller.cpp",
     "const int whole = element.data.size() / transferSize * transferSize;",
     "const int whole = element.data.size();", ["tst_dfuutil"]),
    ("only the first element read back", "dfu/dfuutilinstaller.cpp",
     "for (const DfuseImage::Element &element : image.elements) {",
     "for (const DfuseImage::Element &element : image.elements.mid(0, 1)) {", ["tst_dfuutil"]),
    ("every element read back from alternate setting 0", "dfu/dfuutilinstaller.cpp",
     "unitSelection(1, alternate)", "unitSelection(1, 0)",
     ["tst_dfuutil"]),
    ("identity not read again after the write", "dfu/dfuutilinstaller.cpp",
     "ok = unitHoldsImage() && identifiesAsBefore();", "ok = unitHoldsImage();", ["tst_dfuutil"]),
    ("a re-identification that could not run logged as a name", "dfu/dfuutilinstaller.cpp",
     "if (after == QLatin1String(failed.answer))", "if (false)", ["tst_dfuutil"]),
    ("a model's bootloader reports another transfer size", "tools/virtualunit/src/dfu.h",
     "kTransferSize = 2048;", "kTransferSize = 1024;", ["virtualunit_memory"]),
    # --- identification
    ("first area reads 4 bytes", "dfu/dfuutilotp.cpp", '"0x0800F800:8"', '"0x0800F800:4"',
     ["tst_dfuutil"]),
    ("second area on alternate setting 0", "dfu/dfuutilotp.cpp",
     '{anyConfiguration, 2, "0x1FFF7800"', '{anyConfiguration, 0, "0x1FFF7800"',
     ["tst_dfuutil"]),
    ("third area without -c 1", "dfu/dfuutilotp.cpp",
     '{1, 2, "0x08080080:8"', '{anyConfiguration, 2, "0x08080080:8"',
     ["tst_dfuutil"]),
    ("short record off by one", "dfu/dfuutilotp.cpp",
     "const int shortRecordSize = 8;", "const int shortRecordSize = 7;",
     ["tst_identification", "tst_dfuutil"]),
    ("long record off by one", "dfu/dfuutilotp.cpp",
     "const int longRecordSize = 256;", "const int longRecordSize = 255;",
     ["tst_identification", "tst_dfuutil"]),
    ("zero third byte accepted", "dfu/dfuutilotp.cpp",
     "models.end() || third == 0)", "models.end())", ["tst_identification"]),
    ("X33 no longer a third-area model", "dfu/dfuutilotp.cpp", "{0x07, 0x33}", "{0x07}",
     ["tst_identification", "tst_dfuutil"]),
    ("second area scans from byte 1", "dfu/dfuutilotp.cpp",
     "for (int i = offset + 2; i < longRecordSize; ++i)",
     "for (int i = offset + 1; i < longRecordSize; ++i)", ["tst_identification"]),
    ("name without leading zeros", "dfu/dfuutilotp.cpp",
     ".arg(model, 2, 16, QLatin1Char('0'))", ".arg(model, 1, 16, QLatin1Char('0'))",
     ["tst_identification"]),
    ("dump kept after a read", "dfu/dfuutilotp.cpp",
     "        QFile::remove(dumpPath);\n        if (!name.isEmpty())",
     "        if (!name.isEmpty())", ["tst_dfuutil"]),
    ("old dump read when it cannot be removed", "dfu/dfuutilotp.cpp",
     "if (QFileInfo::exists(dumpPath))", "if (false)", ["tst_dfuutil"]),
    ("failed run answers no device", "dfu/dfuutilotp.cpp",
     'return QStringLiteral("?");', "return QString();", ["tst_dfuutil"]),
    ("unusable unit: output not read", "dfu/dfuutilotp.cpp",
     "        if (!unreachable.isEmpty())\n            return unreachable;\n", "", ["tst_dfuutil"]),
    ("unusable unit: two units not told apart", "dfu/dfuutilotp.cpp",
     'output.contains(QLatin1String("More than one DFU capable USB device found"))', "false", ["tst_dfuutil"]),
    ("unusable unit: busy unit not told apart", "dfu/dfuutilotp.cpp",
     'output.contains(QLatin1String("Cannot claim interface - LIBUSB_ERROR_BUSY"))', "false", ["tst_dfuutil"]),
    ("unusable unit: no WinUSB binding not told apart", "dfu/dfuutilotp.cpp",
     'error == QLatin1String("LIBUSB_ERROR_NOT_SUPPORTED")', "false", ["tst_dfuutil"]),
    ("unusable unit: refused access not told apart", "dfu/dfuutilotp.cpp",
     'error == QLatin1String("LIBUSB_ERROR_ACCESS")', "false", ["tst_dfuutil"]),
    ("first area takes another model byte", "dfu/dfuutilotp.cpp",
     "nameFromShortRecord(dumpPath, offset, {0x21})", "nameFromShortRecord(dumpPath, offset, {0x21, 0x07})",
     ["tst_identification"]),
    ("offset bound off by one", "dfu/dfuutilotp.cpp",
     "offset > shortRecordSize - 3", "offset > shortRecordSize - 2", ["tst_identification"]),
    # --- progress and verdict
    ("figure needs only three characters before it", "update/installprogress.cpp",
     "if (p <= 3)", "if (p < 3)", ["tst_progress"]),
    ("figure read from the wrong place", "update/installprogress.cpp",
     "text.mid(p - 3, 3)", "text.mid(p - 2, 2)", ["tst_progress"]),
    ("first figure instead of the last", "update/installprogress.cpp",
     "text.lastIndexOf(QLatin1Char('%'))", "text.indexOf(QLatin1Char('%'))", ["tst_progress"]),
    ("a figure in pieces is lost", "update/installprogress.cpp",
     "const QString joined = unfinishedLine + text;", "const QString joined = text;", ["tst_workflow"]),
    ("open line kept too short for a figure", "update/installprogress.cpp",
     "joined.size() - 4", "joined.size() - 3", ["tst_workflow"]),
    ("100 out of range", "update/installprogress.cpp", "value <= 100 ? value", "value < 100 ? value",
     ["tst_progress"]),
    ("99 counts as done", "update/installprogress.cpp", "if (ok && value == 100) {",
     "if (ok && value >= 99) {", ["tst_workflow"]),
    ("installer's answer ignored", "update/installprogress.cpp", "if (ok && value == 100) {",
     "if (value == 100) {", ["tst_workflow"]),
    ("closing the install dialog resets it", "update/installprogress.cpp",
     "    disconnect(installDialog, SIGNAL(canceled()), installDialog, SLOT(cancel()));\n", "",
     ["tst_workflow"]),
    ("install dialog resets at 100", "update/installprogress.cpp",
     "installDialog->setAutoReset(false);", "installDialog->setAutoReset(true);", ["tst_workflow"]),
    ("catalogue text misspelt", "update/firmwarecatalogue.cpp", '"Firmware Update X33 Fuji"',
     '"Firmware Update X33 Fujl"', ["tst_progress", "tst_workflow", "tst_endtoend"]),
    ("catalogue name swapped", "update/firmwarecatalogue.cpp", '"SX580173.dfu"', '"SX580137.dfu"',
     ["tst_progress", "tst_workflow", "tst_endtoend"]),
    ("fallback text changed", "update/firmwarecatalogue.cpp",
     'catalogueFallbackText[] = "Firmware Update";', 'catalogueFallbackText[] = "Firmware-Update";',
     ["tst_progress", "tst_workflow"]),
    # --- the run
    ("tool failure text", "update/failuretexts.cpp", '"dfu-util nicht gefunden / not found"',
     '"dfu-util nicht gefunden/not found"', ["tst_workflow"]),
    ("no device text", "update/failuretexts.cpp", '"Kein kompatibles Gerät gefunden / No compatible device found"',
     '"Kein kompatibles Geraet gefunden / No compatible device found"', ["tst_workflow"]),
    ("refused download left on disk", "update/firmwareupdater.cpp",
     "        imageFile->remove();\n", "", ["tst_workflow"]),
    ("image for another device installed", "update/firmwareupdater.cpp",
     "DfuseImage::read(bytes, &image).isEmpty()\n                    && image.isFor(",
     "DfuseImage::read(bytes, &image).isEmpty()\n                    || image.isFor(",
     ["tst_workflow", "tst_endtoend"]),
    ("no lock on the data folder", "update/firmwareupdater.cpp",
     "if (runLock->isLocked() && DfuUtilInstaller::clearReadBackFile())", "if (true)", ["tst_workflow"]),
    ("read-back file checked only after the write", "update/firmwareupdater.cpp",
     "if (runLock->isLocked() && DfuUtilInstaller::clearReadBackFile())", "if (runLock->isLocked())",
     ["tst_workflow"]),
    ("lock failure always blames a second updater", "update/firmwareupdater.cpp",
     "!runLock->isLocked() && QFileInfo(path).isFile() &&", "!runLock->isLocked() &&", ["tst_workflow"]),
    ("lock kept after a failed run", "update/firmwareupdater.cpp",
     "    endRun();\n    errorText = text;", "    errorText = text;", ["tst_workflow"]),
    ("empty lock never given up", "update/firmwareupdater.cpp",
     "lastModified().msecsTo(QDateTime::currentDateTime())) > startingLockMs;",
     "lastModified().msecsTo(QDateTime::currentDateTime())) < 0;", ["tst_workflow"]),
    ("a starting updater's empty lock taken over", "update/firmwareupdater.cpp",
     "lastModified().msecsTo(QDateTime::currentDateTime())) > startingLockMs;",
     "lastModified().msecsTo(QDateTime::currentDateTime())) >= 0;", ["tst_workflow"]),
    ("another computer's lock never given up", "update/firmwareupdater.cpp",
     "return !host.isEmpty() && ", "return false && ", ["tst_workflow"]),
    ("the thread waited for at the end never deleted", "update/firmwareupdater.cpp",
     "        delete thread.data();\n", "", ["tst_workflow:destroyedUpdaterDeletesItsThread"]),
    ("full disk reads as a network problem", "update/firmwareupdater.cpp",
     "downloader.localWriteFailed() ? writeFailureText : text", "text",
     ["tst_workflow"]),
    ("lock kept after the run", "update/installprogress.cpp", "    endRun();\n", "",
     ["tst_workflow"]),
    ("dump that cannot be written reads as no device", "update/firmwareupdater.cpp",
     "if (name == QLatin1String(DfuUtilOtp::unwritableDump)) {", "if (false) {",
     ["tst_workflow"]),
    ("unusable unit: its answer read as a file name", "update/firmwareupdater.cpp",
     "if (const char *unusable = unusableUnitText(name)) {", "if (const char *unusable = nullptr) {",
     ["tst_endtoend"]),
    ("unusable unit: busy unit gets another case's text", "update/firmwareupdater.cpp",
     "{DfuUtilOtp::unitInUse, unitInUseText},", "{DfuUtilOtp::unitInUse, severalUnitsText},", ["tst_endtoend"]),
    ("failed signature reads as a failed download", "update/firmwareupdater.cpp",
     "downloadFailure(downloader, signatureFailureText)", "downloadFailure(downloader)", ["tst_workflow"]),
    ("leftover lock in a folder that takes no file blames a second updater", "update/firmwareupdater.cpp",
     " && folderTakesFiles(dataFolder);", ";", ["tst_workflow"]),
    ("closing the window kills the running tool", "update/firmwareupdater.cpp",
     "        thread->wait();\n", "", ["close_phases"]),
    # --- the DfuSe reader
    ("CRC computed from another start value", "dfu/dfuseimage.cpp",
     "quint32 crc = 0xffffffffu;", "quint32 crc = 0;", ["tst_dfuseimage"]),
    ("target without elements accepted", "dfu/dfuseimage.cpp", "if (count == 0)", "if (false)",
     ["tst_dfuseimage"]),
    ("empty element accepted", "dfu/dfuseimage.cpp", "if (elementSize == 0)", "if (false)",
     ["tst_dfuseimage"]),
    ("CRC not checked", "dfu/dfuseimage.cpp",
     "if (u32(suffix + 12) != crc(file.constData(), int(size - 4)))", "if (false)",
     ["tst_dfuseimage"]),
    ("element may run past its target", "dfu/dfuseimage.cpp",
     "u32(at + 4) > quint64(end - at - elementHeaderSize)",
     "u32(at + 4) > quint64(end - at)", ["tst_dfuseimage"]),
    ("wildcard product not accepted", "dfu/dfuseimage.cpp",
     "(product == anyId || product == deviceProduct)", "(product == deviceProduct)",
     ["tst_dfuseimage"]),
    # --- the download
    ("compressed answers allowed", "net/http.cpp",
     '    request.setRawHeader("Accept-Encoding", "identity");\n', "", ["tst_http"]),
    ("redirect kept as an image", "net/http.cpp", "status < 200 || status > 299",
     "status < 200 || status > 399", ["tst_http"]),
    ("body shorter than its length kept", "net/http.cpp",
     "length.toLongLong() == bytesWritten", "length.toLongLong() >= bytesWritten", ["tst_http"]),
    ("size limit off by one", "net/http.cpp", "largestImage = 16 * 1024 * 1024;",
     "largestImage = 16 * 1024 * 1024 + 1;", ["tst_http"]),
    ("stalled server waits forever", "net/http.cpp",
     "    request.setTransferTimeout(silenceTimeoutMs);\n", "", ["tst_http"]),
    ("Escape only hides the download", "net/http.cpp",
     "    connect(progressDialog, SIGNAL(rejected()), this, SLOT(canceled()));\n", "",
     ["tst_http"]),
    ("closing the dialog does not abort", "net/http.cpp",
     "    if (reply)\n        reply->abort();\n}", "}", ["tst_http"]),
    ("failed download left on disk", "net/http.cpp",
     "        if (!transferSucceeded())\n            file->remove();",
     "        transferSucceeded();", ["tst_http"]),
    ("write errors ignored", "net/http.cpp",
     "if (file->write(data) != data.size() || file->error() != QFileDevice::NoError) {",
     "if (false) { file->write(data);", ["tst_http"]),
    ("closing the window leaves the partial image", "net/http.cpp",
     "    file->close();\n    file->remove();\n    if (progressDialog)", "    file->close();\n    if (progressDialog)",
     ["tst_http"]),
    ("full disk not told apart", "net/http.h", "{ return writeFailed; }", "{ return false; }", ["tst_workflow"]),
    ("unwritable image file goes unreported", "net/http.cpp",
     "        throw QString::fromUtf8(writeFailureText);", "        return;", ["tst_http"]),
    ("a late signal of the last reply acts on the next download", "net/http.cpp",
     "        reply->disconnect(this);\n        reply->deleteLater();", "        reply->deleteLater();",
     ["tst_http:lateSignalOfTheReplyBefore"]),
    # --- image signatures
    ("signature: check skipped", "update/firmwareupdater.cpp", "    if (problem.isEmpty()) {\n        install();",
     "    if (true) {\n        install();", ["tst_workflow"]),
    ("signature: refused one left on disk", "update/firmwareupdater.cpp", "    signature->remove();\n", "",
     ["tst_workflow"]),
    ("signature: asked for by a build without keys", "update/firmwareupdater.cpp",
     "if (ImageSignature(publicKeys).required())", "if (true)", ["tst_workflow"]),
    ("signature: wrong key accepted", "update/imagesignature.cpp", "if (!verifies(signatureBytes, message, key->publicKey))",
     "if (!verifies(signatureBytes, message, key->publicKey) && false)", ["tst_imagesignature"]),
    ("signature: unknown key id tried with the first key", "update/imagesignature.cpp",
     "    const Key *key = keyWithId(id);", "    const Key *key = keys.isEmpty() ? nullptr : &keys.first();",
     ["tst_imagesignature"]),
    ("signature: trusted comment not verified", "update/imagesignature.cpp",
     "if (!verifies(globalSignature, signatureBytes + comment, key->publicKey))", "if (false)",
     ["tst_imagesignature"]),
    ("signature: file name not checked", "update/imagesignature.cpp",
     "if (!comment.split('\\t').contains(\"file:\" + fileName.toUtf8()))", "if (false)", ["tst_imagesignature"]),
    ("signature: legacy one checked over the hash", "update/imagesignature.cpp", 'if (algorithm == "ED") {', "if (true) {",
     ["tst_imagesignature"]),
    ("signature: key id loses its leading zeros", "update/imagesignature.cpp", "16, 16, QLatin1Char('0'))",
     "0, 16, QLatin1Char('0'))", ["tst_imagesignature"]),
    ("signature: a mistyped key turns the check off", "update/imagesignature.h",
     "return !keys.isEmpty() || !keyProblem.isEmpty();", "return !keys.isEmpty();", ["tst_imagesignature"]),
    ("signature: skipped by the release check", "tools/release-check/main.cpp", "    if (signature.required()) {",
     "    if (false) {", ["release_check"]),
    # --- start-up and window
    ("data folder without its trailing slash", "app/startup.cpp", 'QStringLiteral("/kelvio/")',
     'QStringLiteral("/kelvio")', ["tst_startup"]),
    ("failure text ends the program with 1", "app/startup.cpp", "        result = -1;", "        result = 1;",
     ["tst_startup"]),
    ("OpenGL setting leaks to children", "app/application.cpp",
     "    qunsetenv(glIntegration);", "", ["tst_startup"]),
    ("system proxy never switched on", "app/startup.cpp", "    useSystemProxy();\n", "", ["tst_startup"]),
    ("a burst of signals blocks the handler", "app/unixsignals.cpp",
     "    ::fcntl(signalPair[0], F_SETFL, ::fcntl(signalPair[0], F_GETFL) | O_NONBLOCK);\n", "",
     ["tst_startup:signalBurstDoesNotBlock"]),
    ("SIGTERM kills mid-write", "app/unixsignals.cpp", "for (int number : {SIGTERM, SIGHUP, SIGINT})",
     "for (int number : {SIGHUP, SIGINT})", ["signals"]),
    ("SIGHUP kills mid-write", "app/unixsignals.cpp", "{SIGTERM, SIGHUP, SIGINT}", "{SIGTERM, SIGINT}",
     ["signals"]),
    ("SIGINT kills mid-write", "app/unixsignals.cpp", "{SIGTERM, SIGHUP, SIGINT}", "{SIGTERM, SIGHUP}",
     ["signals"]),
    ("file size limit kills the program", "app/unixsignals.cpp",
     "    std::signal(SIGXFSZ, SIG_IGN);\n", "", ["signals"]),
    ("success shown as a failure box", "ui/updatewidget.cpp",
     "        QMessageBox::information(this", "        QMessageBox::critical(this", ["tst_workflow"]),
    ("Start stays enabled during a run", "ui/updatewidget.cpp",
     "    startButton->setDisabled(true);\n", "", ["tst_workflow"]),
    ("window gets minimise and maximise buttons", "ui/updatewidget.cpp",
     "Qt::WindowTitleHint | Qt::CustomizeWindowHint", "Qt::WindowTitleHint", ["tst_windows"]),
    ("window without a close button", "ui/updatewidget.cpp",
     "\n                          | Qt::WindowCloseButtonHint)", ")", ["tst_windows"]),
    ("Help button out of the row", "ui/updatewidget.cpp", "QPoint(159, 336)", "QPoint(159, 330)",
     ["tst_windows"]),
    ("help dialog shrinks below its least size", "ui/helpdialog.cpp", "setMinimumSize(560, 200);",
     "setMinimumSize(480, 200);", ["tst_windows"]),
    ("no high-DPI scaling: fonts grow, sizes do not", "app/startup.cpp",
     "    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);\n", "", ["scaling"]),
    ("150 % rounded to 200 %", "app/startup.cpp", "HighDpiScaleFactorRoundingPolicy::PassThrough",
     "HighDpiScaleFactorRoundingPolicy::Round", ["scaling"]),
    ("pictures drawn at 100 % and stretched", "app/startup.cpp",
     "    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);\n", "", ["scaling"]),
    ("buttons without their @2x pictures", "ui/updatewidget.cpp", "button->setIcon(QIcon(picture));",
     "button->setIcon(QIcon(QPixmap(picture)));", ["scaling"]),
    ("help text loses an umlaut", "ui/helpdialog.cpp", '"\\u00d6ffnet diese Anzeige', '"Oeffnet diese Anzeige',
     ["tst_windows"]),
    ("homepage address wrong", "app/globals.cpp", '"https://www.kelvio.example/"',
     '"http://www.kelvio.example/"', ["tst_windows"]),
]


def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def own_loopback(source):
    """Runs this script again in a network namespace of its own, as the test scripts do."""
    if not os.environ.get("STROBIX_OWN_LOOPBACK"):
        os.execvp("bash", ["bash", os.path.join(source, "tests/support/own-loopback.sh"), sys.executable] + sys.argv)


def test_command(build, test):
    """A test as a command: the CTest test, or one function of a Qt test binary."""
    if ":" not in test:
        return ["ctest", "--test-dir", build, "-R", "^" + test + "$", "--timeout", "600",
                "--output-on-failure"]
    binary, function = test.split(":", 1)
    return [os.path.join(build, "tests", binary), function]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", action="append", help="run only mutants whose name contains this (repeatable)")
    parser.add_argument("--list", action="store_true", help="list the mutants and exit")
    parser.add_argument("--keep", action="store_true", help="keep the scratch copy")
    parser.add_argument("--build-only", action="store_true", help="only build each mutant: find stillborn ones")
    args = parser.parse_args()
    mutants = [m for m in MUTANTS if not args.only or any(o in m[0] for o in args.only)]
    if args.list:
        for name, path, *_ in mutants:
            print(f"{path}: {name}")
        return 0
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    # Each text must name one place, or its mutant would test nothing; checked
    # before an hour of runs, not in the middle of them.
    stale = [(name, path, n) for name, path, before, *_ in mutants
             if (n := open(os.path.join(source, path), encoding="utf-8").read().count(before)) != 1]
    for name, path, n in stale:
        print(f"{name}: its text occurs {n} times in {path}; fix the list")
    if stale:
        return 2
    own_loopback(source)

    scratch = tempfile.mkdtemp(prefix="strobix-mutants-")
    src, build = os.path.join(scratch, "src"), os.path.join(scratch, "build")
    ignore = shutil.ignore_patterns(".git", "build*", ".run")
    shutil.copytree(source, src, ignore=ignore, symlinks=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    for step in (["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"],
                 ["cmake", "--build", build, "-j", str(os.cpu_count() or 2)]):
        result = run(step)
        if result.returncode != 0:
            print(result.stdout[-3000:])
            return 2
    # The unmutated tests must pass, or nothing below means anything.
    for test in [] if args.build_only else sorted({t for m in mutants for t in m[4]}):
        result = run(test_command(build, test), env=env, cwd=build)
        if result.returncode != 0:
            print(f"baseline: {test} fails without any mutant:\n{result.stdout[-3000:]}")
            return 2

    caught, survived, stillborn = 0, [], []
    for name, path, before, after, tests in mutants:
        started = time.time()
        target = os.path.join(src, path)
        original = open(target, encoding="utf-8").read()
        open(target, "w", encoding="utf-8").write(original.replace(before, after))
        try:
            built = run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2)])
            if built.returncode != 0:
                verdict, by = "STILLBORN", ""
                errors = [line for line in built.stdout.splitlines() if "error" in line]
                print("\n".join(errors[:3]))
            elif args.build_only:
                verdict, by = "built", ""
            else:
                verdict, by = "SURVIVED", ""
                for test in tests:
                    if run(test_command(build, test), env=env, cwd=build).returncode != 0:
                        verdict, by = "caught", test
                        break
        finally:
            open(target, "w", encoding="utf-8").write(original)
        if verdict == "caught":
            caught += 1
        elif verdict == "STILLBORN":
            stillborn.append(name)
        elif verdict == "SURVIVED":
            survived.append(name)
        print(f"{verdict:9} {name} ({path}{', by ' + by if by else ''}, {time.time() - started:.0f} s)",
              flush=True)
    run(["cmake", "--build", build, "-j", str(os.cpu_count() or 2)])
    if not args.keep:
        shutil.rmtree(scratch, ignore_errors=True)
    built = len(mutants) - len(stillborn)
    if not args.build_only:
        print(f"score: {caught}/{built} built mutants caught ({100.0 * caught / max(built, 1):.1f} %)")
    print(f"stillborn: {len(stillborn)} of {len(mutants)} did not build")
    for name in survived:
        print(f"survived: {name}")
    for name in stillborn:
        print(f"stillborn: {name}")
    return 1 if stillborn else 0


if __name__ == "__main__":
    sys.exit(main())
