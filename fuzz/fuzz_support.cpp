#include "fuzz_support.h"

#include "hdw_config.h"
#include "platform.h"
#include "sample_sysroot.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace fuzz {

namespace {

QTemporaryDir *scratch = nullptr;
QString rootDir;

// Paths made absolute against the start directory before the target leaves
// it; crashing inputs are kept there unless an artifact prefix says otherwise.
void anchorArguments(int *argc, char ***argv)
{
    static std::vector<QByteArray> texts;
    static std::vector<char *> args;
    const auto absolute = [](const char *path) { return QFile::encodeName(QDir::current().absoluteFilePath(QFile::decodeName(path))); };
    texts.emplace_back("-artifact_prefix=" + absolute(".") + '/');
    for (int i = 1; i < *argc; ++i)
        texts.push_back((*argv)[i][0] == '-' ? QByteArray((*argv)[i]) : absolute((*argv)[i]));
    args.push_back((*argv)[0]);
    for (QByteArray &text : texts)
        args.push_back(text.data()); // libFuzzer takes the last prefix given
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size() - 1);
    *argv = args.data();
}

bool oneOf(int value, int low, int high) { return value >= low && value <= high; }

} // namespace

void setUp(int *argc, char ***argv)
{
    anchorArguments(argc, argv);
    // Thousands of inputs a second would bury libFuzzer's report under the
    // product's diagnostics; a fatal message still ends the run.
    const bool verbose = !qEnvironmentVariableIsEmpty("KVX_FUZZ_VERBOSE");
    if (!verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    int fds[2]; // stdout into a pipe nobody reads: every line is still formatted and written
    if (!verbose && pipe(fds) == 0) {
        signal(SIGPIPE, SIG_IGN);
        fflush(stdout);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
    }
    scratch = new QTemporaryDir(QDir::tempPath() + "/kvx-fuzz.XXXXXX");
    expect(scratch->isValid(), "a temporary directory");
    std::atexit([] { if (chdir("/") == 0) delete scratch; });
    rootDir = scratch->path() + "/sysroot";
    const QString work = scratch->path() + "/work";
    expect(sample::writeSysroot(rootDir) && QDir().mkpath(work + "/tmp"), "the sysroot and working directory");
    qputenv("KVX_SYSROOT", QFile::encodeName(rootDir)); // init() puts the sysroot's fake programs first on PATH
    expect(platform::init() == -1 && chdir(QFile::encodeName(work).constData()) == 0, "platform::init() on the sysroot");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "minimal:fontconfig");
    static int appArgc = 1; // libFuzzer's arguments are not for Qt
    static char name[] = "kvx_fuzz", *appArgv[] = { name, nullptr };
    new QApplication(appArgc, appArgv);
    expect(QStandardPaths::findExecutable("reboot").startsWith(rootDir + '/'), "reboot resolves inside the sysroot");
}

void writeFile(const QString &path, const uint8_t *data, size_t size)
{
    expect(sample::writeFile(path, QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size))), "writing the input to its file");
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
    // The lowest free descriptor before and after (the symbolizer opens its pipes between inputs).
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
    expect(oneOf(d.backlight, 0, 100) && oneOf(d.rs485DirPin, unset, 1) && oneOf(d.orientation, 0, 1), "backlight, DIR, ORI");
    for (int i = 0; i < 16; ++i) // only a channel read as an input from the file holds its GPIO value open
        expect(oneOf(d.dioDir[i], unset, 2) && oneOf(d.dioLevel[i], unset, 1) && (d.dioFd[i] == 0 || (!fromHost && d.dioDir[i] == 1)), "DIO");
    for (int i = 0; i < 4; ++i)
        expect(oneOf(d.pwmOut[i], 0, 1) && (i > 1 || oneOf(d.almOut[i], unset, 1)), "PWM and alarm states");
    expect(strnlen(d.devName, sizeof d.devName) <= 40, "device name of at most 40 characters");
    expect(strnlen(d.firmwareVersion, sizeof d.firmwareVersion) <= 14 && strnlen(d.appVersion, sizeof d.appVersion) <= 14, "versions of at most 14");
}

} // namespace fuzz
