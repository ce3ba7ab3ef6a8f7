#ifndef KVX_STDOUT_CAPTURE_H
#define KVX_STDOUT_CAPTURE_H

#include <QStringList>
#include <cstdio>
#include <functional>
#include <unistd.h>

// Collects what the process prints on standard output (its own diagnostics
// and those of the programs it starts) while the capture lives. A check that
// fails while capturing prints into the capture too; it is replayed on the
// real standard output when the capture ends, so nothing is lost.
class StdoutCapture
{
public:
    StdoutCapture();
    ~StdoutCapture();
    Q_DISABLE_COPY(StdoutCapture)

    // Everything printed so far, line by line without line ends.
    QStringList lines();

private:
    int m_saved = dup(STDOUT_FILENO);
    FILE *m_file = tmpfile();
};

// What work prints on standard output, line by line.
QStringList printedLines(const std::function<void()> &work);

#endif
