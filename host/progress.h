#ifndef KVX_HOST_PROGRESS_H
#define KVX_HOST_PROGRESS_H

#include <QElapsedTimer>
#include <QString>

// A one-line progress bar on standard error, drawn only when standard error
// is a terminal (a script that captures the output gets no control codes).
class Progress
{
public:
    Progress(const QString &label, qint64 total);
    void update(qint64 done);
    // Ends the line; the last figures stay visible.
    void finish();
    // Seconds since the start, for the summary line.
    double seconds() const { return m_clock.elapsed() / 1000.0; }

private:
    void draw(qint64 done);
    QString m_label;
    qint64 m_total;
    qint64 m_done;
    bool m_shown;
    QElapsedTimer m_clock;
    qint64 m_lastDraw;
};

// 2.5 MiB, 300 KiB, 12 bytes.
QString humanSize(double bytes);

#endif
