#ifndef KVX_FD_DEVICE_H
#define KVX_FD_DEVICE_H

#include <QIODevice>

// A pseudo-terminal master (or any descriptor, not owned) as an unbuffered
// QIODevice whose waits block, so a hostlink::Link can talk through it. With
// eventLoop the waits run the Qt event loop instead, so that a console living
// in the test's own process can answer meanwhile.
class FdDevice : public QIODevice
{
public:
    explicit FdDevice(int fd)
        : m_fd(fd)
    {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    bool waitForReadyRead(int msecs) override;
    bool waitForBytesWritten(int) override { return true; }
    void setFd(int fd) { m_fd = fd; }
    bool eventLoop = false;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    int m_fd;
};

#endif
