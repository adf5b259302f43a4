// The MIDI driver slot of the driver library in Drivers32 (native and, on 64-bit Windows,
// the 32-bit view) and the hiding of the product's uninstall entries.
#pragma once

#include <cstdint>

#include "installer/platform.h"

namespace orvel::installer {

inline constexpr TextView kDrivers32Key =
    u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
inline constexpr TextView kDrivers32Wow64Key =
    u"Software\\WOW6432Node\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
inline constexpr TextView kUninstallKey =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr TextView kProductPublisher = u"Vantor Corporation.";
inline constexpr int kMidiSlotCount = 10;

enum class SlotState { kFree, kOwn, kOther };

// "midi" for slot 0, "midi1" to "midi9" for the others.
Text MidiSlotName(int slot);
// Free: missing or empty. Own: exactly the library's name, with or without terminator.
// Anything else, including data that does not fit the entry's buffer or a failed read, is
// another driver's and is never overwritten.
SlotState ReadMidiSlot(Registry& registry, KeyHandle key, int slot);
bool Is64BitWindows(Platform& platform);
int FindMidiSlot(Platform& platform);

std::uint32_t RegSetMIDIDeviceNum(Platform& platform);
std::uint32_t RegDelMIDIDeviceNum(Platform& platform);
std::uint32_t setSystemComponent(Platform& platform);

}  // namespace orvel::installer
