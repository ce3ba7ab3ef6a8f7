#ifndef KVX_CONSOLE_CODES_H
#define KVX_CONSOLE_CODES_H

// The states and codes of the console, under the numbers the diagnostics
// print and the hosts' logs know them by: the values never change.

// How a reception ended (or how far it got); only RxComplete is a file.
enum RxStatus : int {
    RxStarted = 0,
    RxInPacket = 2,
    RxComplete = 3,
    RxReadFailed = 4,
    RxTooManyRejects = 5,
    RxPacketTimedOut = 6,
    RxCancelled = 7,
    RxNoStart = 9,
    RxCannotOpen = 10,
    RxWriteFailed = 11,
};

// Who takes the bytes of the serial line while no reception owns it.
enum ConsoleState : int {
    ConsoleIdle = 0,
    ConsoleInFrame = 1,
    ConsoleSending = 2,
};

// Whether a reception owns the serial input.
enum RxMode : int {
    RxOff = 0,
    RxOn = 1,
};

// The fate of the packet being received.
enum PacketState : unsigned int {
    PacketGood = 0,
    PacketRejected = 4,
};

// What the file being received is for.
enum LoadKind : int {
    PlainLoad = 0,
    FirmwareLoad = 1,
};

// The installer's steps; each arms the upgrade timer for the next one.
enum UpgradeStep : int {
    UpgradeIdle = 0,
    UpgradeStart = 1,
    UpgradePreInstall = 2,
    UpgradeUnpack = 3,
    UpgradePostInstall = 4,
    UpgradeReboot = 5,
};

// The status-line messages of the installer.
enum DialogMessage : int {
    MessageInstalling = 2,
    MessageFinished = 4,
    MessageRebooting = 5,
    MessageVerified = 6,
    MessageNotVerified = 7,
    MessageInstallError = 8,
};

// The send-progress modes of the MODE command.
enum ProgressMode : int {
    ModeQuiet = 1,
    ModeShowSending = 2,
};

#endif
