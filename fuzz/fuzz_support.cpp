#include "fuzz_support.h"

#include "hdw_config.h"
#include "platform.h"
#include "sample_sysroot.h"
#include "usb_console.h"

#include <QApplication>
#include <QDir>
#include <QFile>
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
QString rootDir;
bool verbose = false;

void removeScratch()
{
    // Leave the working directory before it goes.
    if (chdir("/") == 0)
        delete scratch;
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

// Relative paths in the arguments made absolute against the directory the
// target was started in, before the target leaves it; crashing inputs are
// kept there unless an artifact prefix says otherwise.
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
        const QByteArray arg((*argv)[i]), prefix = arg.mid(sizeof prefixFlag - 1);
        prefixGiven = prefixGiven || arg.startsWith(prefixFlag);
        // The prefix is a directory with '/' or the start of a file name.
        if (!arg.startsWith('-'))
            texts.push_back(absolute(arg));
        else if (arg.startsWith(prefixFlag))
            texts.push_back(prefixFlag + absolute(prefix.isEmpty() ? "." : prefix) + (prefix.isEmpty() || prefix.endsWith('/') ? "/" : ""));
        else
            texts.push_back(arg);
    }
    if (!prefixGiven)
        texts.push_back(prefixFlag + absolute(".") + '/');
    for (QByteArray &text : texts)
        args.push_back(text.data());
    args.push_back(nullptr);
    *argc = static_cast<int>(texts.size());
    *argv = args.data();
}

bool oneOf(int value, int low, int high)
{
    return value >= low && value <= high;
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
    expect(sample::writeSysroot(rootDir), "the sysroot");
    expect(QDir().mkpath(work + QStringLiteral("/tmp")), "the working directory");

    // The simulation seam reads KVX_SYSROOT at every device access, and its
    // init() puts the sysroot's fake programs first on PATH.
    qputenv("KVX_SYSROOT", QFile::encodeName(rootDir));
    expect(platform::init() == -1, "platform::init() on the temporary sysroot");
    expect(chdir(QFile::encodeName(work).constData()) == 0, "entering the working directory");

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "minimal:fontconfig");
    // Qt takes out the arguments it knows; libFuzzer's are not for it. The
    // application lives for the whole run, like the panel's.
    static int appArgc = 1;
    static char name[] = "kvx_fuzz";
    static char *appArgv[] = { name, nullptr };
    new QApplication(appArgc, appArgv);

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
    for (size_t done = 0; done < size;) {
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

int runChecked(void (*run)(const uint8_t *, size_t), const uint8_t *data, size_t size)
{
    // The lowest free descriptor before and after. The sanitizers' symbolizer
    // keeps pipes of its own, but opens them between inputs.
    const auto lowestFree = [] {
        const int probe = dup(STDERR_FILENO);
        expect(probe >= 0, "a free descriptor");
        close(probe);
        return probe;
    };
    const int before = lowestFree();
    run(data, size);
    expect(lowestFree() == before, "an input leaves the descriptors as it found them");
    return 0;
}

void checkRecord(bool fromHost)
{
    const hwcfg_struct &d = hwcfg_data;
    const int unset = fromHost ? -1 : 0;
    expect(oneOf(d.backlight, 0, 100), "backlight 0..100");
    for (int i = 0; i < 16; ++i) {
        expect(oneOf(d.dioDir[i], unset, 2), "DIO direction");
        expect(oneOf(d.dioLevel[i], unset, 1), "DIO level");
        // Only a channel read as an input from the file holds its GPIO value file open.
        expect(d.dioFd[i] == 0 || (!fromHost && d.dioDir[i] == 1), "a DIO descriptor only for an input");
    }
    for (int state : d.pwmOut)
        expect(oneOf(state, 0, 1), "PWM state");
    for (int state : d.almOut)
        expect(oneOf(state, unset, 1), "alarm state");
    expect(oneOf(d.rs485DirPin, unset, 1), "RS-485 direction pin");
    expect(oneOf(d.orientation, 0, 1), "orientation");
    expect(strnlen(d.devName, sizeof d.devName) <= 40, "device name of at most 40 characters");
    expect(strnlen(d.firmwareVersion, sizeof d.firmwareVersion) <= 14, "firmware version of at most 14");
    expect(strnlen(d.appVersion, sizeof d.appVersion) <= 14, "application version of at most 14");
}

void adoptWidgets(QWidget *holder, USB_console &console)
{
    console.statusLabel->setParent(holder);
    console.messageLabel->setParent(holder);
    console.progressBar->setParent(holder);
}

} // namespace fuzz
