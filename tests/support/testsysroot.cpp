#include "testsysroot.h"

#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

TestSysroot::TestSysroot()
{
    m_root = m_dir.path() + "/sysroot";
    m_app = m_dir.path() + "/app";
    QDir().mkpath(m_root + "/sbin");
    QDir().mkpath(m_root + "/bin");
    QDir().mkpath(m_root + "/dev");
    QDir().mkpath(m_app);
    // Every sysroot has the fake reboot: nothing may ever reach the machine's.
    writeFile("sbin/reboot", "#!/bin/sh\necho \"reboot $*\" >> \"$(dirname \"$0\")/../reboot.log\"\n");
    QFile::setPermissions(path("sbin/reboot"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                   | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                                   | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                                   | QFileDevice::ExeOther);
}

bool TestSysroot::isValid() const
{
    return m_dir.isValid() && QFileInfo(path("sbin/reboot")).isExecutable();
}

static void writeTo(const QString &file, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile f(file);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

static QByteArray readFrom(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestSysroot::writeFile(const QString &relative, const QByteArray &data) const
{
    writeTo(path(relative), data);
}

void TestSysroot::writeAppFile(const QString &relative, const QByteArray &data) const
{
    writeTo(appPath(relative), data);
}

QByteArray TestSysroot::readFile(const QString &relative) const
{
    return readFrom(path(relative));
}

QByteArray TestSysroot::readAppFile(const QString &relative) const
{
    return readFrom(appPath(relative));
}

bool TestSysroot::exists(const QString &relative) const
{
    return QFileInfo::exists(path(relative));
}

bool TestSysroot::appExists(const QString &relative) const
{
    return QFileInfo::exists(appPath(relative));
}

void TestSysroot::makeAppDir(const QString &relative) const
{
    QDir().mkpath(appPath(relative));
}

void TestSysroot::populate() const
{
    writeFile("sys/fsl_otp/HW_OCOTP_GP1", "0x00010005\n");
    writeFile("sys/fsl_otp/HW_OCOTP_GP2", "0x10000001\n");
    writeFile("sys/fsl_otp/HW_OCOTP_CFG0", "0x12345678\n");
    writeFile("sys/fsl_otp/HW_OCOTP_CFG1", "0x9abcdef0\n");
    writeFile("sys/class/backlight/backlight2.18/brightness", "10");
    const int gpios[] = { 128, 129, 130, 131, 132, 133, 134, 135, 42, 43, 44, 45, 49, 50, 162, 163 };
    for (int gpio : gpios)
        writeFile(QString("sys/class/gpio/gpio%1/value").arg(gpio), "0\n");
    writeFile("dev/fb0", "800 480 32\n");
    writeFile("proc/meminfo", "MemTotal:         1024000 kB\n"
                              "MemFree:           512000 kB\n"
                              "MemAvailable:      700000 kB\n"
                              "Buffers:            16000 kB\n"
                              "Cached:            128000 kB\n"
                              "SwapCached:             0 kB\n");
    writeFile("proc/stat", "cpu  100 0 50 1000 10 0 5 0 0 0\ncpu0 100 0 50 1000 10 0 5 0 0 0\n");
    writeFile("proc/self/stat", "1234 (kvx_recovery) S 1 1234 1234 0 -1 4194560 100 0 0 0 15 7 3 0 20 0 1 0 100 1000 10\n");
}

static unsigned char bcd(int v)
{
    return static_cast<unsigned char>(((v / 10) << 4) | (v % 10));
}

void TestSysroot::addClockChip(const QDateTime &t) const
{
    QByteArray regs(256, '\0');
    const QDate d = t.date();
    const QTime tm = t.time();
    regs[0x08] = static_cast<char>(bcd(tm.second()));
    regs[0x09] = static_cast<char>(bcd(tm.minute()));
    regs[0x0A] = static_cast<char>(bcd(tm.hour()));
    regs[0x0B] = static_cast<char>(bcd(d.day()));
    regs[0x0C] = static_cast<char>(d.dayOfWeek() % 7);
    regs[0x0D] = static_cast<char>(bcd(d.month()));
    regs[0x0E] = static_cast<char>(bcd(d.year() % 100));
    writeFile("dev/i2c-2", regs);
}

QByteArray TestSysroot::clockRegisters() const
{
    return readFile("dev/i2c-2");
}

int TestSysroot::rebootCount() const
{
    return readFile("reboot.log").count('\n');
}

void TestSysroot::activate() const
{
    qputenv("KVX_SYSROOT", QFile::encodeName(m_root));
    platform::init();
    if (chdir(QFile::encodeName(m_app).constData()) != 0)
        qWarning("cannot enter %s", qPrintable(m_app));
}
