// Opening the panel's device, the deadline of each wait, and turning link
// failures into messages and exit codes.

#include "session.h"

#include "port.h"
#include "replies.h"

#include <cstdio>

using hostlink::Link;
using hostlink::printable;

namespace {
thread_local OutputSink *threadSink = nullptr;
}

void setThreadOutput(OutputSink *sink) { threadSink = sink; }

OutputSink *threadOutput() { return threadSink; }

void trace(const QString &text)
{
    if (threadSink)
        threadSink->trace(text);
    else
        fprintf(stderr, "%s\n", qPrintable(text));
}

void out(const QString &text)
{
    if (threadSink)
        return threadSink->line(text, false);
    fputs(text.toLocal8Bit().constData(), stdout);
    fputc('\n', stdout);
}

int fail(int code, const QString &message)
{
    if (threadSink)
        threadSink->line(message, true);
    else
        fprintf(stderr, "kvx-host: %s\n", qPrintable(message));
    return code;
}

Session::Session(const HostOptions &options)
    : m_options(options)
{
}

int Session::open()
{
    if (m_options.checkOnly)
        return ExitChecked;
    QString error;
    m_port = hostlink::openPort(m_options.device, &error);
    if (!m_port)
        return fail(ExitDevice, error);
    m_link = std::make_unique<Link>(*m_port);
    if (m_options.verbose)
        m_link->setTrace([](const QString &line) { trace(line); });
    return ExitOk;
}

int Session::deadlineMs(int defaultMs) const { return m_options.timeoutMs >= 0 ? m_options.timeoutMs : defaultMs; }

int Session::linkFailure(Link::Status s, const QString &waitingFor, int ms)
{
    if (s == Link::Broken)
        return fail(ExitDevice, hostlink::brokenMessage(*m_port, m_options.device));
    return fail(ExitNoAnswer,
                QStringLiteral("no answer from the panel on %1 within %2 s (waiting for %3)")
                    .arg(m_options.device)
                    .arg(ms / 1000.0)
                    .arg(waitingFor));
}

int Session::ask(const QByteArray &frame, int defaultMs, QByteArray *reply)
{
    const int ms = deadlineMs(defaultMs);
    const Link::Status s = m_link->exchange(frame, QDeadlineTimer(ms), reply);
    if (s == Link::TimedOut && !reply->isEmpty())
        return fail(ExitNoAnswer,
                    QStringLiteral("the panel's answer to %1 was incomplete after %2 s: %3")
                        .arg(QString::fromLatin1(frame))
                        .arg(ms / 1000.0)
                        .arg(printable(*reply)));
    if (s != Link::Ok)
        return linkFailure(s, QStringLiteral("the answer to %1").arg(QString::fromLatin1(frame)), ms);
    return ExitOk;
}

int Session::askReport(QList<ReportRow> *rows)
{
    QByteArray reply;
    const int rc = ask("#HWCF#", AnswerMs, &reply);
    if (rc != ExitOk)
        return rc;
    if (!parseHardwareReport(reply, rows))
        return fail(ExitNoAnswer, QStringLiteral("unexpected answer to #HWCF#: \"%1\"").arg(printable(reply)));
    return ExitOk;
}

bool checkFrameText(const QString &what, const QByteArray &text, int maxBytes, QString *problem)
{
    for (char c : text) {
        if (c == '#' || c == '>' || (static_cast<unsigned char>(c) < 0x20)) {
            *problem = QStringLiteral("%1 must not contain '#', '>' or control characters").arg(what);
            return false;
        }
    }
    if (maxBytes >= 0 && text.size() > maxBytes) {
        *problem = QStringLiteral("%1 is longer than %2 bytes").arg(what).arg(maxBytes);
        return false;
    }
    return true;
}
