#ifndef STROBIX_DFUUTIL_H
#define STROBIX_DFUUTIL_H

#include <QObject>

class QByteArray;

namespace Strobix {

// USB vendor:product of the unit in DFU mode; follows "-d" on every command line.
extern const char dfuDeviceId[];

// Runs dfu-util once per call and forwards its console output. Base class of
// the workers; each worker runs in a thread of its own, as execute() blocks.
class DfuUtil : public QObject
{
    Q_OBJECT

public:
    static const char programPath[];
    static const char logFileName[];
    static const int startTimeoutMs = 30000;
    static const int silenceTimeoutMs = 30000;

    // What a run does with the log file: replace the last run's output, or
    // keep it and add its own, for runs that belong together.
    enum LogMode { NewLog, AppendToLog };

    // dfu-util's choice when no "-c" is given: the unit in any configuration.
    static const int anyConfiguration = 0;

    // The arguments that start every command line and select the unit: "-d",
    // dfuDeviceId, "-c" and the configuration unless it is anyConfiguration,
    // "-i", "0", "-a" and the alternate setting.
    static QStringList unitSelection(int configuration, int alternate);

    // Runs the tool with these arguments (each one argument, never through a
    // shell) and waits for its end. Writes its merged output to the log file.
    // True: the tool started and did not crash, whatever its exit code, also
    // when it was killed after silenceTimeoutMs without output.
    // False: it did not start within startTimeoutMs, or it crashed.
    // exitCode, if given, receives the tool's exit code when it ended by
    // itself, else -1 (not started, crashed, or killed after the silence).
    bool execute(const QStringList &arguments, int *exitCode = nullptr, LogMode logMode = NewLog);

    // A chunk of tool output as text: the bytes before the first NUL, as UTF-8.
    static QString chunkToText(const QByteArray &chunk);

signals:
    void logOutput(const QString &text);

public slots:
    virtual void process();
};

} // namespace Strobix

#endif
