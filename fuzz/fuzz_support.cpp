#include "fuzz_support.h"

#include "hdw_config.h"
#include "platform.h"
#include "usb_console.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace fuzz {

namespace {

QTemporaryDir *scratch = nullptr;
// Lives for the whole run, like the panel's.
QApplication *application = nullptr;
QString rootDir;
bool verbose = false;

void removeScratch()
{
    // Leave the working directory before it goes.
    if (chdir("/") != 0)
        return;
    delete scratch;
    scratch = nullptr;
}

// Diagnostics are the product's business, not the fuzzer's: thousands of
// inputs a second would bury libFuzzer's own report under them. A fatal
// message still ends the run.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (verbose)
        fprintf(stderr, "%s\n", qPrintable(text));
    if (type == QtFatalMsg)
        abort();
}

// Standard output goes into a pipe nobody reads: every diagnostic line is
// still written (and its formatting exercised) but leaves no trace.
void silenceStandardOutput()
{
    int fds[2];
    if (pipe(fds) != 0)
        return;
    signal(SIGPIPE, SIG_IGN);
    close(fds[0]);
    fflush(stdout);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[1]);
}

void populate()
{
    const struct {
        const char *path;
        const char *text;
    } files[] = {
        { "sbin/reboot", "#!/bin/sh\nexit 0\n" },
        { "sys/fsl_otp/HW_OCOTP_GP1", "0x00010005\n" },
        { "sys/fsl_otp/HW_OCOTP_GP2", "0x10000001\n" },
        { "sys/fsl_otp/HW_OCOTP_CFG0", "0x12345678\n" },
        { "sys/fsl_otp/HW_OCOTP_CFG1", "0x9abcdef0\n" },
        { "sys/class/backlight/backlight2.18/brightness", "10" },
        { "dev/fb0", "800 480 32\n" },
        { "proc/meminfo", "MemTotal: 1024000 kB\nMemFree: 512000 kB\nBuffers: 16000 kB\nCached: 128000 kB\n" },
        { "proc/stat", "cpu  100 0 50 1000 10 0 5 0 0 0\n" },
    };
    for (const auto &f : files) {
        const QString path = sysrootPath(QString::fromLatin1(f.path));
        QDir().mkpath(QFileInfo(path).absolutePath());
        writeFile(path, reinterpret_cast<const uint8_t *>(f.text), strlen(f.text));
    }
    QFile::setPermissions(sysrootPath(QStringLiteral("sbin/reboot")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The value files of the DIO channels, so that an input channel opens one.
    for (int gpio : dio_to_gpio_number) {
        const QString path = sysrootPath(QStringLiteral("sys/class/gpio/gpio%1/value").arg(gpio));
        QDir().mkpath(QFileInfo(path).absolutePath());
        writeFile(path, reinterpret_cast<const uint8_t *>("0\n"), 2);
    }
}

// Relative paths in the arguments made absolute against the directory the
// target was started in, before the target leaves it.
void anchorArguments(int *argc, char ***argv)
{
    static std::vector<QByteArray> texts;
    static std::vector<char *> args;
    const QDir start = QDir::current();
    const auto absolute = [&start](const QByteArray &path) {
        return QFile::encodeName(QDir::cleanPath(start.absoluteFilePath(QFile::decodeName(path))));
    };
    static const char prefixFlag[] = "-artifact_prefix=";
    bool prefixGiven = false;
    texts.emplace_back((*argv)[0]);
    for (int i = 1; i < *argc; ++i) {
        const QByteArray arg((*argv)[i]);
        if (!arg.startsWith('-')) {
            texts.push_back(absolute(arg));
        } else if (arg.startsWith(prefixFlag)) {
            prefixGiven = true;
            const QByteArray prefix = arg.mid(sizeof prefixFlag - 1);
            // The prefix is a directory with '/' or the start of a file name.
            const bool directory = prefix.isEmpty() || prefix.endsWith('/');
            texts.push_back(prefixFlag + absolute(prefix.isEmpty() ? QByteArray(".") : prefix)
                            + (directory ? "/" : ""));
        } else {
            texts.push_back(arg);
        }
    }
    if (!prefixGiven)
        texts.push_back(prefixFlag + absolute(".") + '/');
    args.reserve(texts.size() + 1);
    for (QByteArray &text : texts)
        args.push_back(text.data());
    args.push_back(nullptr);
    *argc = static_cast<int>(texts.size());
    *argv = args.data();
}

} // namespace

void setUp(int *argc, char ***argv)
{
    anchorArguments(argc, argv);
    verbose = !qEnvironmentVariableIsEmpty("KVX_FUZZ_VERBOSE");
    qInstallMessageHandler(messageHandler);
    if (!verbose)
        silenceStandardOutput();

    scratch = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/kvx-fuzz.XXXXXX"));
    expect(scratch->isValid(), "a temporary directory");
    std::atexit(removeScratch);
    rootDir = scratch->path() + QStringLiteral("/sysroot");
    const QString work = scratch->path() + QStringLiteral("/work");
    expect(QDir().mkpath(rootDir + QStringLiteral("/dev")), "the sysroot");
    expect(QDir().mkpath(work + QStringLiteral("/tmp")), "the working directory");
    populate();

    // The simulation seam reads KVX_SYSROOT at every device access, and its
    // init() puts the sysroot's fake programs first on PATH.
    qputenv("KVX_SYSROOT", QFile::encodeName(rootDir));
    expect(platform::init() == -1, "platform::init() on the temporary sysroot");
    expect(chdir(QFile::encodeName(work).constData()) == 0, "entering the working directory");

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "minimal:fontconfig");
    // Qt takes out the arguments it knows; libFuzzer's are not for it.
    static int appArgc = 1;
    static char name[] = "kvx_fuzz";
    static char *appArgv[] = { name, nullptr };
    application = new QApplication(appArgc, appArgv);

    // Nothing fuzzed here may reboot, but if anything ever did, it must find
    // the sysroot's harmless stand-in.
    const QString reboot = QStandardPaths::findExecutable(QStringLiteral("reboot"));
    expect(reboot.startsWith(rootDir + QLatin1Char('/')), "reboot resolves inside the sysroot");
}

QString sysrootPath(const QString &relative)
{
    return rootDir + QLatin1Char('/') + relative;
}

void writeFile(const QString &path, const uint8_t *data, size_t size)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    expect(fd >= 0, "a file for the input");
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        expect(n > 0, "writing the input to its file");
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

void removeFile(const QString &path)
{
    ::unlink(QFile::encodeName(path).constData());
}

void expect(bool holds, const char *what)
{
    if (holds)
        return;
    fprintf(stderr, "fuzz: broken: %s\n", what);
    abort();
}

int lowestFreeDescriptor()
{
    const int probe = dup(STDERR_FILENO);
    expect(probe >= 0, "a free descriptor");
    close(probe);
    return probe;
}

void checkDescriptors(int before)
{
    // The sanitizers' symbolizer keeps pipes of its own, but opens them
    // between inputs: only what one input leaves behind counts.
    expect(lowestFreeDescriptor() == before, "an input leaves the descriptors as it found them");
}

void adoptWidgets(QWidget *holder, USB_console &console)
{
    console.statusLabel->setParent(holder);
    console.messageLabel->setParent(holder);
    console.progressBar->setParent(holder);
}

int runChecked(void (*run)(const uint8_t *, size_t), const uint8_t *data, size_t size)
{
    const int descriptors = lowestFreeDescriptor();
    run(data, size);
    checkDescriptors(descriptors);
    return 0;
}

} // namespace fuzz
