// The end of every reception: closing the file, moving a received font into
// place, checking an upgrade package against its digest, and handing over to
// the installer.

#include "usb_console.h"

#include "replies.h"

#include "xmodem.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <cstring>

namespace {

// How many "0"s a font name may get before the font is left where it is.
constexpr int FontNameTries = 8;

} // namespace

void USB_console::StopXmodem()
{
    if (txFile) {
        fclose(txFile);
        txFile = nullptr;
    }
    printf("CXM: File Rx End\n");

    if (xmodemStatus != RxComplete) {
        resetReceiver();
        if (runtimeLoad == FirmwareLoad)
            sendRuntimeReply(false);
        return;
    }

    if (strcmp(fileName, "config.kvxc") == 0)
        printf("CXM: All File Rx\n");
    bool verified = false;
    if (runtimeLoad == FirmwareLoad) {
        verified = verifyRuntimeFile();
    } else {
        const QString name = QString::fromLocal8Bit(fileName);
        if (name.contains(QLatin1String(".ttf"), Qt::CaseInsensitive)
            || name.contains(QLatin1String(".otf"), Qt::CaseInsensitive))
            moveReceivedFont();
    }
    // The host learns that the file is complete only once it is in place.
    printf("CXM: ACK EOT\n");
    WriteChar(xmodem::ACK);
    resetReceiver();
    if (runtimeLoad == FirmwareLoad)
        sendRuntimeReply(verified);
}

void USB_console::resetReceiver()
{
    rxTimer->stop();
    packetTimer->stop();
    rxBlock = 1;
    rxMode = RxOff;
    consoleState = ConsoleIdle;
    totalSize = 0;
    remainSize = 0;
    rxPacketState = PacketGood;
    rxExpected = 0;
    rxErrors = 0;
    rxCount = 0;
    rxStartTries = 0;
}

bool USB_console::verifyRuntimeFile()
{
    md5->reset();
    installPackage.clear();
    // The file just written, which is tmp.txt when the frame named none.
    FILE *f = fopen(rxPath.constData(), "rb");
    if (!f) {
        printf("CXM: File Open Err %s\n", rxPath.constData());
        return false;
    }
    // Read back through the packet buffer: no file-sized allocation. The
    // pieces are counted in 64 bits: a size near 2 GiB must not wrap.
    const qint64 reads = (static_cast<qint64>(totalSize) + xmodem::DataSize - 1) / xmodem::DataSize;
    for (qint64 i = 0; i < reads; ++i) {
        const size_t n = fread(rxPacket, 1, xmodem::DataSize, f);
        if (n == 0)
            break; // the end of the file: further pieces would add nothing
        md5->addData(reinterpret_cast<const char *>(rxPacket), static_cast<int>(n));
    }
    fclose(f);

    const QByteArray digest = md5->result().toHex();
    printf("CXM: Hash : %s\n", digest.constData());
    if (memcmp(digest.constData(), fileHash, 32) != 0)
        return false;
    printf("CXM: Hash Matched\n");
    // The installer works on this package even if a later frame names
    // another file.
    installPackage = QString::fromLocal8Bit(rxPath);
    return true;
}

void USB_console::moveReceivedFont()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    QDir tmp(appDir);
    QDir fonts(appDir);
    if (!tmp.cd(QStringLiteral("tmp")) || !fonts.cd(QStringLiteral("fonts")))
        return;

    const QString name = QString::fromLocal8Bit(fileName);
    QString target = name;
    // An existing font keeps its name: the new one gets "0", "00", ... before
    // its first '.', up to a limit.
    for (int zeros = 1; fonts.exists(target); ++zeros) {
        if (zeros > FontNameTries) {
            printf("CXM: No free font name for %s\n", fileName);
            return;
        }
        target = name;
        target.insert(name.indexOf('.'), QString(zeros, QLatin1Char('0')));
    }

    if (!tmp.exists(name))
        return;
    if (tmp.rename(name, QStringLiteral("../fonts/") + target))
        printf("Move Font File %s OK\n", fileName);
    else
        printf("Move Font File %s Err\n", fileName);
}

void USB_console::sendRuntimeReply(bool verified)
{
    const char *answer = verified ? reply::RuntimeLoadOk : reply::RuntimeLoadError;
    setFileDialogMessage(verified ? MessageVerified : MessageNotVerified);
    printf("CXM: %s\n", answer);
    writeReply(answer);
    emit UpgradeStatusChange(verified ? UpgradeStart : UpgradeReboot);
}
