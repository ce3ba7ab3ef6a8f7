#ifndef KVX_TEST_SYSROOT_H
#define KVX_TEST_SYSROOT_H

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A temporary simulated panel: the sample sysroot (what KVX_SYSROOT names)
// beside an empty application directory (the executable's and working one).
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

    // dev/i2c-2, the clock chip's register image.
    QByteArray clockRegisters() const { return readFile("dev/i2c-2"); }
    // How many times the fake reboot ran.
    int rebootCount() const { return readFile("reboot.log").count('\n'); }

    // For in-process tests: KVX_SYSROOT, PATH, and the working directory.
    void activate() const;

private:
    QTemporaryDir m_dir;
    QString m_root;
    QString m_app;
};

#endif
