#ifndef KVX_RTC_CHIP_H
#define KVX_RTC_CHIP_H

// The battery-backed clock chip on I2C bus 2: its address, the registers and
// bits this program uses, and the values it writes. Every file that talks to
// the chip takes them from here.

namespace rtc_chip {

constexpr int SlaveAddress = 0x56;

// Registers.
constexpr unsigned char Control1 = 0x00; // bit 1 timer on, bits 5/6 timer clock
constexpr unsigned char IntFlags = 0x02; // bit 1 countdown reached zero
constexpr unsigned char Status = 0x03;   // bit 2 low voltage, bit 7 EEPROM busy
constexpr unsigned char Seconds = 0x08;  // seconds .. year, BCD, 7 registers
constexpr unsigned char TimerLow = 0x18; // countdown start value, low byte first

// Bits.
constexpr unsigned char TimerBit = 0x02;    // the same bit in control 1, interrupt control and flags
constexpr unsigned char TimerHalfHz = 0x60; // bits 5 and 6: one tick every 2 s
constexpr unsigned char StatusLowVoltage = 0x04;
constexpr unsigned char StatusEepromBusy = 0x80;

// Control 1 while the EEPROM is written, and after.
constexpr unsigned char Control1EepromLocked = 0x91;
constexpr unsigned char Control1EepromOpen = 0x99;

// Control 1, interrupt control, flags and status after the time is set:
// countdown off, interrupts off, timer and battery-low flags cleared.
constexpr unsigned char ControlAfterSet[4] = { 0xF9, 0x00, 0x00, 0x20 };

// The chip's EEPROM settings, written each time the time is set.
struct EepromSetting
{
    unsigned char address;
    unsigned char value;
};
constexpr EepromSetting EepromSettings[4] = { { 0x30, 0x02 }, { 0x31, 0x15 }, { 0x32, 0x97 }, { 0x33, 0x15 } };

// 21600 ticks of 2 s: the battery-low reminder repeats every 12 hours.
constexpr int ReminderTicks = 21600;

} // namespace rtc_chip

#endif
