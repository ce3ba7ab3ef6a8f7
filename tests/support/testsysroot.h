#ifndef KVX_TEST_SYSROOT_H
#define KVX_TEST_SYSROOT_H

#include "sample_sysroot.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

// A temporary simulated panel: the sample sysroot (what KVX_SYSROOT names)
// beside an empty application directory (the executable's and working one).
class TestSysroot
{
public:
    TestSysroot();

    bool isValid() const { return m_dir.isValid() && QFileInfo(path("sbin/reboot")).isExecutable(); }
    QString root() const { return m_root; }
    QString appDir() const { return m_app; }
    QString path(const QString &relative) const { return m_root + '/' + relative; }
    QString appPath(const QString &relative) const { return m_app + '/' + relative; }

    void writeFile(const QString &relative, const QByteArray &data) const { sample::writeFile(path(relative), data); }
    void writeAppFile(const QString &relative, const QByteArray &data) const { sample::writeFile(appPath(relative), data); }
    QByteArray readFile(const QString &relative) const { return readFrom(path(relative)); }
    QByteArray readAppFile(const QString &relative) const { return readFrom(appPath(relative)); }
    bool exists(const QString &relative) const { return QFile::exists(path(relative)); }
    bool appExists(const QString &relative) const { return QFile::exists(appPath(relative)); }
    void makeAppDir(const QString &relative) const { QDir().mkpath(appPath(relative)); }

    // dev/i2c-2, the clock chip's register image.
    QByteArray clockRegisters() const { return readFile("dev/i2c-2"); }
    // How many times the fake reboot ran.
    int rebootCount() const { return readFile("reboot.log").count('\n'); }

    // For in-process tests: KVX_SYSROOT, PATH, and the working directory.
    void activate() const;

private:
    static QByteArray readFrom(const QString &file);
    QTemporaryDir m_dir;
    QString m_root;
    QString m_app;
};

#endif
