#include "stdoutcapture.h"

#include <QByteArray>

StdoutCapture::StdoutCapture()
{
    fflush(stdout);
    if (m_file)
        dup2(fileno(m_file), STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    const QByteArray captured = lines().join('\n').toLocal8Bit();
    dup2(m_saved, STDOUT_FILENO);
    ::close(m_saved);
    if (m_file)
        fclose(m_file);
    if (!captured.isEmpty())
        printf("%s\n", captured.constData());
    fflush(stdout);
}

QStringList StdoutCapture::lines()
{
    fflush(stdout);
    QByteArray all;
    char chunk[4096];
    ssize_t n;
    for (off_t at = 0; m_file && (n = pread(fileno(m_file), chunk, sizeof chunk, at)) > 0; at += n)
        all.append(chunk, static_cast<int>(n));
    QStringList split = QString::fromLocal8Bit(all).split('\n');
    if (split.last().isEmpty())
        split.removeLast();
    return split;
}

QStringList printedLines(const std::function<void()> &work)
{
    StdoutCapture capture;
    work();
    return capture.lines();
}
