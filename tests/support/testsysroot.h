#ifndef KVX_TEST_SYSROOT_H
#define KVX_TEST_SYSROOT_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

// A temporary simulated panel: a sysroot (what KVX_SYSROOT names) beside an
// application directory (the executable's directory and working directory).
class TestSysroot
{
public:
    TestSysroot();

    bool isValid() const;
    QString root() const { return m_root; }
    QString appDir() const { return m_app; }
    QString path(const QString &relative) const { return m_root + '/' + relative; }
    QString appPath(const QString &relative) const { return m_app + '/' + relative; }

    void writeFile(const QString &relative, const QByteArray &data) const;
    void writeAppFile(const QString &relative, const QByteArray &data) const;
    QByteArray readFile(const QString &relative) const;
    QByteArray readAppFile(const QString &relative) const;
    bool exists(const QString &relative) const;
    bool appExists(const QString &relative) const;
    void makeAppDir(const QString &relative) const;

    // Fuses, backlight, GPIO value files, dev/fb0 "800 480 32", proc/meminfo,
    // proc/stat, and an sbin/reboot that only appends a line to reboot.log.
    // The clock chip is absent until addClockChip().
    void populate() const;

    // dev/i2c-2 as a 256-byte register image whose time registers hold t.
    void addClockChip(const QDateTime &t) const;
    QByteArray clockRegisters() const;

    // How many times the fake reboot ran.
    int rebootCount() const;

    // For in-process tests: KVX_SYSROOT, PATH, and the working directory.
    void activate() const;

private:
    QTemporaryDir m_dir;
    QString m_root;
    QString m_app;
};

#endif
