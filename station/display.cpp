// Drawing the station's progress.

#include "display.h"

#include "worker.h"

#include <cstdio>

namespace {

QString bar(qint64 done, qint64 total)
{
    const int width = 20;
    const int filled = total > 0 ? static_cast<int>(done * width / total) : 0;
    return QStringLiteral(" [%1%2] %3%")
        .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char('-')))
        .arg(total > 0 ? static_cast<int>(done * 100 / total) : 0);
}

QString head(const PanelWorker &w) { return QStringLiteral("%1  %2").arg(w.plan().info.port, w.plan().info.serial); }

QString stepLine(const PanelWorker &w, const StepResult &s, int k)
{
    return QStringLiteral("%1  step %2/%3  %4: %5%6 (%7 s)")
        .arg(head(w))
        .arg(k)
        .arg(w.plan().commands.size())
        .arg(s.command, s.ok ? QStringLiteral("ok") : QStringLiteral("FAILED: "), s.ok ? QString() : s.message)
        .arg(s.seconds, 0, 'f', 1);
}

} // namespace

Display::Display(bool live)
    : m_live(live)
{
}

void Display::erase()
{
    for (; m_drawn > 0; --m_drawn)
        fputs("\x1b[1A\r\x1b[2K", stderr);
}

void Display::forget(const PanelWorker *worker)
{
    const int at = m_seen.indexOf(worker);
    if (at >= 0) {
        m_seen.remove(at);
        m_printed.remove(at);
    }
}

void Display::message(const QString &text)
{
    erase();
    fprintf(m_live ? stderr : stdout, "%s\n", qPrintable(text));
    fflush(m_live ? stderr : stdout);
}

void Display::update(const QVector<PanelWorker *> &workers, const QString &summary)
{
    if (!m_live) {
        for (const PanelWorker *w : workers) {
            int at = m_seen.indexOf(w);
            if (at < 0) {
                at = m_seen.size();
                m_seen << w;
                m_printed << 0;
            }
            if (m_printed[at] < 0)
                continue;                        // the panel's last line is out
            const bool finished = w->finished(); // before the view: then it is complete
            const PanelWorker::View v = w->view();
            for (; m_printed[at] < v.stepsDone; ++m_printed[at])
                message(stepLine(*w, v.result.steps.at(m_printed[at]), m_printed[at] + 1));
            if (finished) {
                message(QStringLiteral("%1  %2").arg(head(*w), v.result.result()));
                m_printed[at] = -1; // the panel's line is printed
            }
        }
        return;
    }
    erase();
    QString text;
    for (const PanelWorker *w : workers) {
        const bool finished = w->finished();
        const PanelWorker::View v = w->view();
        QString line = head(*w);
        if (finished)
            line += QStringLiteral("  ") + v.result.result();
        else
            line += QStringLiteral("  step %1/%2  %3").arg(v.step).arg(w->plan().commands.size()).arg(v.command);
        if (!finished && v.total > 0)
            line += bar(v.done, v.total);
        text += line.left(160) + QLatin1Char('\n');
        ++m_drawn;
    }
    if (!summary.isEmpty()) {
        text += summary + QLatin1Char('\n');
        ++m_drawn;
    }
    fputs(text.toLocal8Bit().constData(), stderr);
    fflush(stderr);
}
