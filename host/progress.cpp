// The transfer progress bar of the host tool.

#include "progress.h"

#include "session.h"

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define STDERR_FILENO 2
#else
#include <unistd.h>
#endif

QString humanSize(double bytes)
{
    if (bytes >= 1024.0 * 1024.0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
    if (bytes >= 1024.0)
        return QStringLiteral("%1 KiB").arg(bytes / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 bytes").arg(static_cast<qint64>(bytes));
}

Progress::Progress(const QString &label, qint64 total)
    : m_label(label)
    , m_total(total)
    , m_done(0)
    // A panel among many shows its progress through its thread's output.
    , m_shown(!threadOutput() && isatty(STDERR_FILENO) == 1)
    , m_lastDraw(-1000)
{
    m_clock.start();
}

void Progress::update(qint64 done)
{
    m_done = done;
    if (OutputSink *sink = threadOutput())
        return sink->progress(done, m_total);
    // Redrawing ten times a second is plenty and keeps the terminal cheap.
    if (!m_shown || m_clock.elapsed() - m_lastDraw < 100)
        return;
    draw(done);
}

void Progress::draw(qint64 done)
{
    m_lastDraw = m_clock.elapsed();
    const int width = 30;
    const double part = m_total > 0 ? static_cast<double>(done) / static_cast<double>(m_total) : 1.0;
    const int filled = qBound(0, static_cast<int>(part * width), width);
    const double rate = m_clock.elapsed() > 0 ? done * 1000.0 / m_clock.elapsed() : 0.0;
    const QString line
        = QStringLiteral("\r%1 [%2%3] %4%  %5 of %6  %7/s ")
              .arg(m_label, QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('-')))
              .arg(static_cast<int>(part * 100), 3)
              .arg(humanSize(static_cast<double>(done)), humanSize(static_cast<double>(m_total)), humanSize(rate));
    fputs(line.toLocal8Bit().constData(), stderr);
    fflush(stderr);
}

void Progress::finish()
{
    if (!m_shown)
        return;
    draw(m_done);
    fputs("\n", stderr);
}
