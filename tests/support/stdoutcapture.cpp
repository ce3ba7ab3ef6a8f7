#include "stdoutcapture.h"

#include <QByteArray>
#include <unistd.h>

StdoutCapture::StdoutCapture()
    : m_saved(-1)
    , m_file(tmpfile())
{
    fflush(stdout);
    if (!m_file)
        return;
    m_saved = dup(STDOUT_FILENO);
    dup2(fileno(m_file), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    const QByteArray captured = finish().toLocal8Bit();
    fwrite(captured.constData(), 1, static_cast<size_t>(captured.size()), stdout);
    fflush(stdout);
}

QString StdoutCapture::text()
{
    if (!m_file)
        return m_text;
    fflush(stdout);
    QByteArray all;
    char chunk[4096];
    ssize_t n;
    for (off_t at = 0; (n = pread(fileno(m_file), chunk, sizeof chunk, at)) > 0; at += n)
        all.append(chunk, static_cast<int>(n));
    return QString::fromLocal8Bit(all);
}

QStringList StdoutCapture::lines()
{
    QStringList all = text().split('\n');
    if (all.last().isEmpty())
        all.removeLast();
    return all;
}

QString StdoutCapture::finish()
{
    if (!m_file)
        return m_text;
    m_text = text();
    if (m_saved >= 0) {
        dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }
    fclose(m_file);
    m_file = nullptr;
    return m_text;
}

QStringList printedLines(const std::function<void()> &work)
{
    StdoutCapture capture;
    work();
    capture.finish();
    QStringList all = capture.text().split('\n');
    if (all.last().isEmpty())
        all.removeLast();
    return all;
}
