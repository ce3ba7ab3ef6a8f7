#ifndef KVX_REPLIES_H
#define KVX_REPLIES_H

// The panel's fixed replies on the host link, as the host expects them byte
// for byte. Replies that carry a value (GETF, CPUI, LOTIZO, the lists) are
// built where the value is known.

namespace reply {

constexpr char LoadAck[] = "<LOAD:ACK>";
constexpr char RuntimeLoadAck[] = "<RTLD:ACK>";
constexpr char RuntimeLoadOk[] = "<RTLD:NOR>";
constexpr char RuntimeLoadError[] = "<RTLD:ERR>";
constexpr char BootOk[] = "<BOOT:NOR>";
constexpr char BootedUp[] = "<BOOT_UP>";
constexpr char BatteryCheckOk[] = "<CHBT:NOR>";
constexpr char SaveConfigOk[] = "<SVCF:NOR>";
constexpr char SaveConfigError[] = "<SVCF:ERR>";
constexpr char DateTimeOk[] = "<DTIM:NOR>";
constexpr char DateTimeError[] = "<DTIM:ERR>";
constexpr char DeviceNameOk[] = "<SNAM:NOR>";
constexpr char DeviceNameError[] = "<SNAM:ERR>";
constexpr char UnixOk[] = "<UNIX:NOR>";
constexpr char UnixError[] = "<UNIX:ERR>";
constexpr char SyncOk[] = "<SYNC:NOR>";
constexpr char SyncError[] = "<SYNC:ERR>";
constexpr char ModeAck[] = "<MODE_ACK>";
constexpr char GetFileRefused[] = "<GETF:-1>";
constexpr char ProjectListEnd[] = "<GPFL_END>";
constexpr char FontListEnd[] = "<GFFS_END>";
constexpr char RemoveFontsAck[] = "<RMFS_ACK>";
constexpr char RemoveFontsNak[] = "<RMFS_NAK>";
// Ends every command frame's handling, and answers a bare carriage return.
constexpr char LineEnd[] = "\n\r";

} // namespace reply

#endif
