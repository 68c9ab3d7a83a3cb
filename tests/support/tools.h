#ifndef STROBIX_TESTS_TOOLS_H
#define STROBIX_TESTS_TOOLS_H

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// Runs a helper program to its end (bounded, for hangs); exitCode is -1 when
// it did not end by itself. Output is stdout and stderr merged.
struct ToolRun
{
    int exitCode = -1;
    QString output;
};
ToolRun runTool(const QString &program, const QStringList &arguments,
                const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);

// The real minisign: a throwaway key pair in dir (returns the public key as
// -P takes it, empty on failure), and the .minisig it makes for a file with
// that key and these further arguments (-l: legacy, -t: trusted comment).
QString minisignKey(const QString &dir);
QByteArray minisignSign(const QString &dir, const QString &file, const QStringList &arguments = {});

// Builds the catalogue's images into `images` and the broken sets into `broken`
// with tools/firmware/make-images.sh (the script at `script`). Returns an empty
// string, or what went wrong.
QString buildFirmwareImages(const QString &script, const QString &images, const QString &broken);

#endif
