#pragma once
// The table of 256 target devices and the auto-detect range, as kept in orveld.ini.

#include <array>
#include <cstdint>
#include <string>

#include "config/core/profile_store.h"

namespace orvel {

inline constexpr int kSlotCount = 256;

// Sections and keys of orveld.ini and of setup files.
inline constexpr char kNameSection[] = "Device Name";
inline constexpr char kAddressSection[] = "IP Address";
inline constexpr char kMacSection[] = "Protect No";
inline constexpr char kPortSection[] = "Device ID";
inline constexpr char kTcpSection[] = "Tcp";
inline constexpr char kScanStartSection[] = "Net Address";
inline constexpr char kScanStopSection[] = "Stop Address Field3";
inline constexpr char kValueKey[] = "Value";
inline constexpr char kZeroMacText[] = "00";
inline constexpr std::uint32_t kDefaultScanStartAddress = 0xC0A80002u;  // 192.168.0.2
inline constexpr std::int32_t kDefaultScanStopOctet = 2;

struct DeviceEntry {
  std::string deviceName;
  std::uint32_t ipAddress = 0;  // first octet highest; 0 = empty slot
  std::string macText;          // twelve hex digits; "00" stands for all zeros
  std::uint8_t portIndex = 0;   // 0..15, shown as 1..16
  std::uint8_t tcpFlag = 1;

  bool Used() const { return ipAddress != 0; }
  friend bool operator==(const DeviceEntry&, const DeviceEntry&) = default;
};

struct DeviceTable {
  std::array<DeviceEntry, kSlotCount> entries{};
  std::uint32_t scanStartAddress = 0;
  std::int32_t scanStopOctet = 0;

  friend bool operator==(const DeviceTable&, const DeviceTable&) = default;
};

using MacBytes = std::array<std::uint8_t, 6>;

// Name a slot holds when nothing else is known: "UNIT" and the slot number from 1.
std::string DefaultDeviceName(int slot);
// An empty slot as the editing commands leave it.
DeviceEntry DefaultDeviceEntry(int slot);
// Number of slots whose address is not 0, wherever they are.
int CountUsedSlots(const DeviceTable& table);

// Fills all 256 slots and the scan range; whatever cannot be read takes its default.
DeviceTable LoadDeviceTable(ProfileStore& store);
// Writes slots 0..slotCount-1, then the scan range. Slots past slotCount are left
// alone and nothing is ever deleted.
void StoreDeviceTable(const DeviceTable& table, int slotCount, ProfileStore& store);

MacBytes ParseMacText(const std::string& text);

// A default name for `slot` that no other used slot holds: "UNIT" and the slot's number
// from 1, else the lowest free "UNITn"; past "UNIT256" that last one is taken anyway.
// Used slots are those before the first empty one; `slots` holds items with an `entry`.
template <class Slots>
std::string MakeUniqueDefaultName(const Slots& slots, int slot) {
  auto taken = [&](const std::string& name) {
    for (int s = 0; s < kSlotCount && slots[s].entry.Used(); ++s) {
      if (s != slot && slots[s].entry.deviceName == name) return true;
    }
    return false;
  };
  std::string candidate = DefaultDeviceName(slot);
  for (int number = 1; taken(candidate) && number <= kSlotCount; ++number) {
    candidate = "UNIT" + std::to_string(number);
  }
  return candidate;
}

}  // namespace orvel
