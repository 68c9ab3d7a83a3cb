#ifndef STROBIX_TESTS_FAKEDFUCONTROL_H
#define STROBIX_TESTS_FAKEDFUCONTROL_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// Sets up runs of the fake dfu-util (tests/fakedfu): <workDir>/dfu-util/dfu-util.exe
// links to it, and STROBIX_FAKE_DFU_DIR names a control folder for as long as
// this object lives. The updater starts the tool relative to its working
// directory, so the test makes workDir() current itself.
// Start N (from 1) runs the script of setScript(N, ...), else the default one.
class FakeDfuControl
{
public:
    explicit FakeDfuControl(const QString &fakePath);
    ~FakeDfuControl();

    bool isValid() const { return valid; }
    QString workDir() const { return work.path(); }
    QString toolPath() const { return work.path() + QStringLiteral("/dfu-util/dfu-util.exe"); }

    void setScript(int run, const QByteArray &script);
    void setDefaultScript(const QByteArray &script);
    // Argument lists of every start so far, oldest first.
    QList<QStringList> calls() const;

    // A script's "hold NAME": whether the tool waits there now, and letting it go on.
    bool isHeld(const QString &name) const;
    void release(const QString &name);

    // The updater's command lines: identification area 1, 2 or 3, and the installation.
    static QStringList identificationCall(int area, const QString &dump);
    static QStringList installCall(const QString &image);
    static QStringList readBackCall(const QString &range, const QString &file, int alternate = 0);

    // Script lines.
    static QByteArray out(const QByteArray &bytes) { return "out " + bytes.toHex() + '\n'; }
    static QByteArray err(const QByteArray &bytes) { return "err " + bytes.toHex() + '\n'; }
    static QByteArray upload(const QByteArray &bytes) { return "upload " + bytes.toHex() + '\n'; }
    // Only splits output into separate reads: nothing may depend on its length.
    static QByteArray pauseMs(int ms) { return "pause " + QByteArray::number(ms) + '\n'; }
    static QByteArray hold(const QByteArray &name) { return "hold " + name + '\n'; }
    static QByteArray exitCode(int code) { return "exit " + QByteArray::number(code) + '\n'; }
    static QByteArray flood(qint64 bytes, int chunk)
    {
        return "flood " + QByteArray::number(bytes) + ' ' + QByteArray::number(chunk) + '\n';
    }
    static QByteArray crash() { return "crash\n"; }
    static QByteArray hang() { return "hang\n"; }

private:
    void writeScript(const QString &name, const QByteArray &script);

    QTemporaryDir work;
    QTemporaryDir control;
    bool valid = false;
};

#endif
