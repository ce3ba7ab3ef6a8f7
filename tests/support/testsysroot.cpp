#include "testsysroot.h"

#include "platform.h"
#include "sample_sysroot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

TestSysroot::TestSysroot()
    : m_root(m_dir.path() + "/sysroot")
    , m_app(m_dir.path() + "/app")
{
    QDir().mkpath(m_app);
    sample::writeSysroot(m_root);
}

bool TestSysroot::isValid() const
{
    return m_dir.isValid() && QFileInfo(path("sbin/reboot")).isExecutable();
}

static QByteArray readFrom(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestSysroot::writeFile(const QString &relative, const QByteArray &data) const { sample::writeFile(path(relative), data); }
void TestSysroot::writeAppFile(const QString &relative, const QByteArray &data) const { sample::writeFile(appPath(relative), data); }
QByteArray TestSysroot::readFile(const QString &relative) const { return readFrom(path(relative)); }
QByteArray TestSysroot::readAppFile(const QString &relative) const { return readFrom(appPath(relative)); }
bool TestSysroot::exists(const QString &relative) const { return QFileInfo::exists(path(relative)); }
bool TestSysroot::appExists(const QString &relative) const { return QFileInfo::exists(appPath(relative)); }
void TestSysroot::makeAppDir(const QString &relative) const { QDir().mkpath(appPath(relative)); }

void TestSysroot::activate() const
{
    qputenv("KVX_SYSROOT", QFile::encodeName(m_root));
    platform::init();
    if (chdir(QFile::encodeName(m_app).constData()) != 0)
        qWarning("cannot enter %s", qPrintable(m_app));
}
