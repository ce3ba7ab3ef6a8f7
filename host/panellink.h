#ifndef KVX_HOST_PANELLINK_H
#define KVX_HOST_PANELLINK_H

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

// The host's conversation with the panel over the serial descriptor: every
// wait has a deadline, and bytes read but not yet used stay in buffer().
class PanelLink
{
public:
    enum Status { Ok, TimedOut, Broken };

    explicit PanelLink(int fd);
    ~PanelLink();
    PanelLink(const PanelLink &) = delete;
    PanelLink &operator=(const PanelLink &) = delete;

    // With verbose, frames and replies are shown on standard error.
    void setVerbose(bool on) { m_verbose = on; }
    bool verbose() const { return m_verbose; }

    // Forgets whatever the panel sent that nobody has read.
    void discardInput();

    Status write(const QByteArray &bytes, QDeadlineTimer deadline);
    Status writeByte(unsigned char b, QDeadlineTimer deadline);

    // Appends what arrives to buffer(); Ok as soon as at least one byte came.
    Status fill(QDeadlineTimer deadline);
    // Waits until buffer() holds at least n bytes.
    Status waitForSize(int n, QDeadlineTimer deadline);
    QByteArray &buffer() { return m_buffer; }

    // Sends a command frame and waits for the panel's echo of it and the
    // LF CR that ends its handling; reply gets the bytes in between (on a
    // time-out, whatever came so far).
    Status exchange(const QByteArray &frame, QDeadlineTimer deadline, QByteArray *reply);

    // The errno of a broken link.
    int error() const { return m_error; }

private:
    int m_fd;
    int m_error;
    bool m_verbose;
    QByteArray m_buffer;
};

// Shows a frame or reply of a verbose run ("> #HWCF#"); session.cpp.
void trace(const QString &text);

// Bytes as readable text: printable ASCII as it is, the rest as \xNN.
QString printable(const QByteArray &bytes);

#endif
