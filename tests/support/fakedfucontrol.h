#ifndef STROBIX_TESTS_FAKEDFUCONTROL_H
#define STROBIX_TESTS_FAKEDFUCONTROL_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// Prepares runs of the fake dfu-util (tests/fakedfu).
//
// It places <workDir>/dfu-util/dfu-util.exe (a symlink to the fake) and a
// separate control directory, and points STROBIX_FAKE_DFU_DIR at the latter
// for the lifetime of this object (the previous value is restored after).
// The product starts the tool by a path relative to the working directory,
// so the test must call QDir::setCurrent(control.workDir()) itself.
//
// Every start of the tool appends its arguments to calls(); run N (1-based)
// executes the script set with setScript(N, ...), else the default script,
// else it exits 0 silently. Script lines (build them with the helpers below):
//   out <text> / err <text>   one write() to stdout / stderr; text uses the
//                             escapes \n \r \t \0 \\ \xHH
//   pause <ms>                sleep, so writes arrive as separate reads
//   upload <hex>              create/truncate the file given by -U
//   upload-append <hex>       append to it; upload-fill <count> <hexbyte>
//   exit <code>               exit at once with that code
//   crash / abort             die by SIGSEGV / SIGABRT (CrashExit)
//   hang                      block silently until killed
//   flood <bytes> <chunk>     write ASCII text (64-byte lines) in chunks
//   sigterm-ignore            ignore SIGTERM from then on
// The end of a script exits 0. A malformed script makes the tool print a
// "fakedfu: bad script" line to stderr and exit 99.
class FakeDfuControl
{
public:
    // fakePath: the fake's binary (FAKEDFU_PATH). baseDir: an existing
    // directory to use as workDir; empty means a fresh temporary one.
    explicit FakeDfuControl(const QString &fakePath, const QString &baseDir = QString());
    ~FakeDfuControl();
    FakeDfuControl(const FakeDfuControl &) = delete;
    FakeDfuControl &operator=(const FakeDfuControl &) = delete;

    bool isValid() const { return m_valid; }
    QString workDir() const { return m_workDir; }
    QString controlDir() const;
    QString toolPath() const;

    void setScript(int run, const QByteArray &script);
    void setDefaultScript(const QByteArray &script);

    // Argument lists of every start so far, oldest first.
    QList<QStringList> calls() const;
    // The raw calls.jsonl bytes, for checking the escaping itself.
    QByteArray callsFileContents() const;
    // Forgets calls and scripts; the next start is run 1 again.
    void reset();

    // Script line builders; each returns one complete line ending in '\n'.
    static QByteArray escape(const QByteArray &raw);
    static QByteArray out(const QByteArray &raw);
    static QByteArray err(const QByteArray &raw);
    static QByteArray upload(const QByteArray &bytes);
    static QByteArray uploadAppend(const QByteArray &bytes);
    static QByteArray uploadFill(qint64 count, char byte);
    static QByteArray pauseMs(int ms);
    static QByteArray exitCode(int code);
    static QByteArray crash();
    static QByteArray abortTool();
    static QByteArray hang();
    static QByteArray flood(qint64 bytes, int chunk);
    static QByteArray ignoreSigterm();

private:
    void writeFile(const QString &name, const QByteArray &contents);

    std::unique_ptr<QTemporaryDir> m_ownWorkDir;
    QTemporaryDir m_controlDir;
    QString m_workDir;
    QByteArray m_previousEnv;
    bool m_hadEnv = false;
    bool m_valid = false;
};

#endif
