#include "testsysroot.h"

#include "platform.h"

#include <unistd.h>

TestSysroot::TestSysroot()
    : m_root(m_dir.path() + "/sysroot")
    , m_app(m_dir.path() + "/app")
{
    QDir().mkpath(m_app);
    sample::writeSysroot(m_root);
}

QByteArray TestSysroot::readFrom(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestSysroot::activate() const
{
    qputenv("KVX_SYSROOT", QFile::encodeName(m_root));
    platform::init();
    if (chdir(QFile::encodeName(m_app).constData()) != 0)
        qWarning("cannot enter %s", qPrintable(m_app));
}
