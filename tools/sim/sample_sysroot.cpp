#include "sample_sysroot.h"

#include "hdw_config.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace sample {

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

bool writeSysroot(const QString &root)
{
    const QPair<const char *, QByteArray> files[] = {
        { "sys/fsl_otp/HW_OCOTP_GP1", "0x00010005\n" },
        { "sys/fsl_otp/HW_OCOTP_GP2", "0x10000001\n" },
        { "sys/fsl_otp/HW_OCOTP_CFG0", "0x12345678\n" },
        { "sys/fsl_otp/HW_OCOTP_CFG1", "0x9abcdef0\n" },
        { "sys/class/backlight/backlight2.18/brightness", "10" },
        { "dev/fb0", "800 480 32\n" },
        { "proc/meminfo",
          "MemTotal:         1024000 kB\nMemFree:           512000 kB\nMemAvailable:      700000 kB\n"
          "Buffers:            16000 kB\nCached:            128000 kB\nSwapCached:             0 kB\n" },
        { "proc/stat", "cpu  100 0 50 1000 10 0 5 0 0 0\ncpu0 100 0 50 1000 10 0 5 0 0 0\n" },
        // The utility's own stat file: the sysroot cannot know its id in advance.
        { "proc/self/stat",
          "1234 (kvx_recovery) S 1 1234 1234 0 -1 4194560 100 0 0 0 15 7 3 0 20 0 1 0 100 1000 10\n" },
        // Nothing may ever reach the machine's own reboot: the panel finds this one first.
        { "sbin/reboot", "#!/bin/sh\necho \"$(date '+%F %T') reboot $*\" >> \"$(dirname \"$0\")/../reboot.log\"\n" },
    };
    bool ok = QDir().mkpath(root + "/bin") && QDir().mkpath(root + "/dev");
    for (const auto &f : files)
        ok = writeFile(root + '/' + f.first, f.second) && ok;
    for (int gpio : dio_to_gpio_number)
        ok = writeFile(QString("%1/sys/class/gpio/gpio%2/value").arg(root).arg(gpio), "0\n") && ok;
    return QFile::setPermissions(root + "/sbin/reboot",
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                     | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther)
        && ok;
}

QByteArray clockChip(const QDateTime &t)
{
    const auto bcd = [](int v) { return char(((v / 10) << 4) | (v % 10)); };
    const QDate d = t.date();
    QByteArray regs(256, '\0');
    const char time[] = { bcd(t.time().second()),  bcd(t.time().minute()), bcd(t.time().hour()), bcd(d.day()),
                          char(d.dayOfWeek() % 7), bcd(d.month()),         bcd(d.year() % 100) };
    regs.replace(0x08, sizeof time, time, sizeof time);
    return regs;
}

bool writeAppFiles(const QString &app)
{
    const QPair<const char *, QByteArray> files[] = {
        { "version.txt", "FMW<4.1.0.7>\nAPP<2.0.3.118>\n" },
        { "device_name.txt", "NAM<Line 3 Panel>\n" },
        { "sys_conf.txt", "BLK<080>\nDIO<00>I\nDIO<01>H\nPWM<0>L\nALM<01>L\nCOM<0>Y\nDIR<0>\nORI<0>\n" },
        { "lowBatteryConf.txt", "CKB<1>\n" },
        { "timezone.cfg", "60" },
        { "qml/project/main.qml", "import QtQuick 2.0\nItem {}\n" },
        { "qml/project/Alarm.qml", "import QtQuick 2.0\nItem { objectName: \"alarm\" }\n" },
        { "qml/project/readme.txt", "sample\n" },
    };
    bool ok = QDir().mkpath(app + "/fonts") && QDir().mkpath(app + "/tmp");
    for (const auto &f : files)
        ok = (QFileInfo::exists(app + '/' + f.first) || writeFile(app + '/' + f.first, f.second)) && ok;
    return ok;
}

} // namespace sample
