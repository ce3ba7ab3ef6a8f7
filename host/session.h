#ifndef KVX_HOST_SESSION_H
#define KVX_HOST_SESSION_H

#include "link.h"

#include <QSerialPort>

#include <QByteArray>
#include <QString>
#include <memory>

// The tool's exit codes.
enum ExitCode {
    ExitOk = 0,
    ExitUsage = 1,    // wrong arguments, or a local file that cannot be used
    ExitDevice = 2,   // the device cannot be opened, or the link broke off
    ExitNoAnswer = 3, // no answer, or no understandable one, within the deadline
    ExitRefused = 4,  // the panel refused the command or reported a failure
    ExitTransfer = 5, // a file transfer failed
    // Not an exit code: a check-only run found the arguments and local files
    // good and stopped where it would have opened the device.
    ExitChecked = 100,
};

struct HostOptions
{
    QString device = QStringLiteral("/dev/ttyACM0");
    bool deviceGiven = false; // -p was given: commands that can work without a panel use it
    int timeoutMs = -1;       // -1: each command's own deadline
    bool verbose = false;
    bool checkOnly = false; // check arguments and local files, open nothing
};

// How long a command's answer may take by default.
constexpr int AnswerMs = 5000;

// Prints one line of the tool's results on standard output.
void out(const QString &text);

// Prints "kvx-host: message" on standard error and returns code.
int fail(int code, const QString &message);

// Shows a frame or reply of a verbose run ("> #HWCF#").
void trace(const QString &text);

// Where out(), fail(), trace() and transfer progress go on a thread that
// drives one panel among many; without one they go to the standard streams.
class OutputSink
{
public:
    virtual ~OutputSink() = default;
    virtual void line(const QString &text, bool error) = 0;
    virtual void trace(const QString &text) = 0;
    virtual void progress(qint64 done, qint64 total) = 0;
};
void setThreadOutput(OutputSink *sink);
OutputSink *threadOutput();

// One run of the tool against one panel.
struct ReportRow;

class Session
{
public:
    explicit Session(const HostOptions &options);

    // Opens the device; ExitOk or ExitDevice (with the reason printed).
    int open();
    hostlink::Link &link() { return *m_link; }
    const HostOptions &options() const { return m_options; }

    // The deadline for one wait: the user's -t when given, else the default.
    int deadlineMs(int defaultMs) const;

    // Sends a command frame and takes the reply between its echo and LF CR.
    // Returns ExitOk, or the failure's code with its message printed.
    int ask(const QByteArray &frame, int defaultMs, QByteArray *reply);

    // Asks for the hardware report and reads its rows; a reply that is no
    // report is a failure with the reply shown.
    int askReport(QList<ReportRow> *rows);

    // The message and code for a link that failed with status s.
    int linkFailure(hostlink::Link::Status s, const QString &waitingFor, int ms);

private:
    HostOptions m_options;
    std::unique_ptr<QSerialPort> m_port;
    std::unique_ptr<hostlink::Link> m_link;
};

// Checks a text that goes between '<' and '>' in a frame: no '#', '>' or
// control characters, and at most maxBytes bytes (when maxBytes >= 0).
bool checkFrameText(const QString &what, const QByteArray &text, int maxBytes, QString *problem);

// A frame holds at most 255 bytes after its opening '#'.
constexpr int MaxFrameSize = 256;

#endif
