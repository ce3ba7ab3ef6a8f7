// The small configuration files in the working directory: reading them at
// construction and writing the device name and system configuration back.
//
// Lines are read with fgets into an 80-byte buffer, so a read yields at most
// 79 characters and keeps its line end. Every index into a line is checked
// against its length: a short line must never expose what a longer earlier
// line left in the buffer.

#include "hdw_config.h"

#include "platform.h"
#include "safe_file.h"

#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int lineSize = 80;

// The character at position i of a line, or NUL past its end.
char at(const char *line, size_t i) { return i < strlen(line) ? line[i] : '\0'; }

bool startsWith(const char *line, const char *prefix) { return strncmp(line, prefix, strlen(prefix)) == 0; }

// A decimal digit at position i as its value, or -1.
int digitAt(const char *line, size_t i)
{
    const char c = at(line, i);
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

// The two-digit number at positions i and i+1, or -1.
int twoDigitsAt(const char *line, size_t i)
{
    const int tens = digitAt(line, i);
    const int units = digitAt(line, i + 1);
    return tens < 0 || units < 0 ? -1 : tens * 10 + units;
}

// 'H' gives 1, 'L' gives 0, anything else -1 (no change).
int levelLetter(char c) { return c == 'H' ? 1 : c == 'L' ? 0 : -1; }

// "DIO<nn>X": a digital channel's direction and level, or its input file.
// Any other line of the wrong length is shown; a line not understood is
// skipped.
void applyDioLine(hwcfg_struct &d, const char *line)
{
    const size_t length = strlen(line);
    if (length < 7 || length > 9) {
        printf("HWI: %s\n", line);
        return;
    }
    if (!startsWith(line, "DIO<") || at(line, 6) != '>')
        return;
    const int channel = twoDigitsAt(line, 4);
    if (channel < 0 || channel > 15)
        return;
    const char code = at(line, 7);
    if (code != 'H' && code != 'L' && code != 'U' && code != 'I')
        return;
    // A channel named twice must not leak the descriptor of its first line.
    if (d.dioFd[channel] > 0)
        close(d.dioFd[channel]);
    d.dioFd[channel] = 0;
    switch (code) {
    case 'H':
    case 'L':
        d.dioDir[channel] = 2;
        d.dioLevel[channel] = levelLetter(code);
        break;
    case 'U':
        d.dioDir[channel] = 0;
        break;
    case 'I': {
        d.dioDir[channel] = 1;
        char path[64];
        snprintf(path, sizeof path, "/sys/class/gpio/gpio%d/value", dio_to_gpio_number[channel]);
        d.dioFd[channel] = open(platform::devicePath(path).constData(), O_RDONLY | O_CLOEXEC);
        break;
    }
    }
}

} // namespace

void HDW_config::readTimeZoneFile()
{
    QFile *file = new QFile(QStringLiteral("timezone.cfg"), this);
    if (file->open(QIODevice::ReadOnly)) {
        // Text up to the first zero byte, as the setting writes a bare number.
        const QString text = QString::fromLatin1(file->readAll().constData());
        if (!text.isEmpty()) {
            bool ok = false;
            const int minutes = text.trimmed().toInt(&ok, 10);
            qDebug("HWI: Rd timezone.cfg");
            if (ok && minutes >= -720 && minutes <= 720)
                timeZoneOffset = minutes;
        }
        file->close();
    }
    delete file;
}

void HDW_config::readDeviceNameFile()
{
    FILE *f = fopen("device_name.txt", "r");
    if (!f) {
        printf("HWI: Can't Dev Name.\n");
        return;
    }
    char line[lineSize];
    if (fgets(line, sizeof line, f) && startsWith(line, "NAM")) {
        char *field = nullptr;
        string_parse(&field, line + 3);
        // A longer name would not fit; the serial number stays the name.
        if (field && strlen(field) < sizeof hwcfg_data.devName)
            qstrncpy(hwcfg_data.devName, field, sizeof hwcfg_data.devName);
    }
    fclose(f);
}

void HDW_config::readSysConfFile()
{
    FILE *f = fopen("sys_conf.txt", "r");
    if (!f) {
        printf("HWI: Can't Read Conf.\n");
        return;
    }
    char line[lineSize];
    while (fgets(line, sizeof line, f)) {
        if (line[0] == '\0' || strcmp(line, "\n") == 0)
            continue;
        applySysConfLine(line);
    }
    printf("HWI: Model: %s Name: %s\n", hwcfg_data.modelName, hwcfg_data.devName);
    fclose(f);
}

void HDW_config::applySysConfLine(char *line)
{
    hwcfg_struct &d = hwcfg_data;

    if (startsWith(line, "BLK<")) {
        const char *text = line + 4;
        long value = 0;
        // A short text must close its field; a longer one is simply read
        // up to its first non-digit.
        if (strlen(text) > 4 || strchr(text, '>'))
            value = strtol(text, nullptr, 10);
        if (value >= 0 && value <= 100)
            setBackLight(static_cast<int>(value));
        return;
    }
    if (startsWith(line, "PWM<") && at(line, 5) == '>') {
        const int channel = digitAt(line, 4);
        const int state = levelLetter(at(line, 6));
        if (channel >= 0 && channel <= 3 && state >= 0)
            d.pwmOut[channel] = state;
        return;
    }
    if (startsWith(line, "ALM<") && at(line, 6) == '>') {
        const int alarm = twoDigitsAt(line, 4);
        const int state = levelLetter(at(line, 7));
        if ((alarm == 1 || alarm == 2) && state >= 0)
            d.almOut[alarm - 1] = state;
        return;
    }
    if (startsWith(line, "COM<") && at(line, 5) == '>') {
        if (at(line, 4) == '0' && at(line, 6) == 'Y')
            d.com0Enabled = true;
        return;
    }
    if (startsWith(line, "DIR<") && at(line, 5) == '>') {
        const int value = digitAt(line, 4);
        if (value == 0 || value == 1)
            d.rs485DirPin = value;
        return;
    }
    if (startsWith(line, "ORI<") && at(line, 5) == '>') {
        const int value = digitAt(line, 4);
        if (value == 0 || value == 1)
            d.orientation = value;
        return;
    }

    applyDioLine(d, line);
}

void HDW_config::readLowBatteryFile()
{
    FILE *f = fopen("lowBatteryConf.txt", "r");
    if (!f) {
        printf("HWI: Can't Read Low Bat. Conf.\n");
        printf("HWI: Bat. Low Chk default on\n");
        hwcfg_data.batLowCheck = true;
        return;
    }
    char line[lineSize];
    if (fgets(line, sizeof line, f) && startsWith(line, "CKB<") && at(line, 5) == '>') {
        if (line[4] == '0') {
            printf("HWI: Bat. Low Chk Off\n");
            hwcfg_data.batLowCheck = false;
        } else if (line[4] == '1') {
            printf("HWI: Bat. Low Chk on\n");
            hwcfg_data.batLowCheck = true;
        }
    }
    fclose(f);
}

void HDW_config::readVersionFile()
{
    FILE *f = fopen("version.txt", "r");
    if (!f) {
        printf("HWI: Can't Read Ver. File\n");
        return;
    }
    char line[lineSize];
    while (fgets(line, sizeof line, f)) {
        char *target = nullptr;
        if (startsWith(line, "FMW"))
            target = hwcfg_data.firmwareVersion;
        else if (startsWith(line, "APP"))
            target = hwcfg_data.appVersion;
        else
            continue;
        char *field = nullptr;
        string_parse(&field, line + 3);
        // Both fields hold 14 characters: a longer version keeps its start.
        if (field)
            qstrncpy(target, field, sizeof hwcfg_data.firmwareVersion);
    }
    printf("HWI: OS : %s\n", hwcfg_data.firmwareVersion);
    printf("HWI: APP: %s\n", hwcfg_data.appVersion);
    fclose(f);
}

int HDW_config::saveHardwareConfig()
{
    const hwcfg_struct &d = hwcfg_data;

    // An empty name leaves an empty file.
    QByteArray name;
    if (d.devName[0] != '\0')
        name = QByteArray("NAM<") + d.devName + ">\n";
    if (!writeFileSafely(QStringLiteral("device_name.txt"), name)) {
        printf("HWI: Can't Write Dev Name.\n");
        return -1;
    }

    // The lines are formatted in memory first, so that the file is replaced
    // in one step and never seen half written.
    char *text = nullptr;
    size_t size = 0;
    FILE *f = open_memstream(&text, &size);
    if (!f) {
        printf("HWI: Can't Write Conf.\n");
        return -1;
    }
    fprintf(f, "BLK<%03d>\n", d.backlight);
    for (int channel = 0; channel < 16; ++channel) {
        const char *code = nullptr;
        if (d.dioDir[channel] == 0)
            code = "U";
        else if (d.dioDir[channel] == 1)
            code = "I";
        else if (d.dioDir[channel] == 2 && d.dioLevel[channel] == 0)
            code = "L";
        else if (d.dioDir[channel] == 2 && d.dioLevel[channel] == 1)
            code = "H";
        if (code)
            fprintf(f, "DIO<%02d>%s\n", channel, code);
    }
    for (int channel = 0; channel < 4; ++channel) {
        if (d.pwmOut[channel] == 0 || d.pwmOut[channel] == 1)
            fprintf(f, "PWM<%d>%c\n", channel, d.pwmOut[channel] ? 'H' : 'L');
    }
    for (int alarm = 1; alarm <= 2; ++alarm) {
        const int state = d.almOut[alarm - 1];
        if (state == 0 || state == 1)
            fprintf(f, "ALM<%02d>%c\n", alarm, state ? 'H' : 'L');
    }
    fprintf(f, "COM<0>%c\n", d.com0Enabled ? 'Y' : 'N');
    if (d.rs485DirPin == 0 || d.rs485DirPin == 1)
        fprintf(f, "DIR<%d>\n", d.rs485DirPin);
    if (d.orientation == 0 || d.orientation == 1)
        fprintf(f, "ORI<%d>\n", d.orientation);
    const bool formatted = fclose(f) == 0;
    const QByteArray conf(text, static_cast<int>(size));
    free(text);

    if (!formatted || !writeFileSafely(QStringLiteral("sys_conf.txt"), conf)) {
        printf("HWI: Can't Write Conf.\n");
        return -1;
    }
    printf("HWI: Conf. Saved\n");
    return 0;
}
