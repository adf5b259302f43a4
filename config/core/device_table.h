#pragma once
// The table of 256 target devices and the auto-detect range, as kept in orveld.ini.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
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

// How a slot's MAC compares with the one the server reports for its address.
enum CheckState : std::int32_t {
  kCheckNotCompared = 0,
  kCheckMacEqual = 2,
  kCheckNoMacKnown = 3,
  kCheckMacDiffers = 4,
};

// A slot of a working table: the main dialog's, its Undo copy, and the auto-detect
// dialog's copy of it, with the values that live only while a dialog is open.
struct WorkingSlot {
  DeviceEntry entry;
  MacBytes macBytes{};  // parsed from entry.macText, or the server's answer
  std::int32_t checkState = kCheckNotCompared;
  friend bool operator==(const WorkingSlot&, const WorkingSlot&) = default;
};
using WorkingTable = std::array<WorkingSlot, kSlotCount>;

// The largest settings or setup file the program itself writes: all 256 slots'
// five lines with the longest value a read keeps, every section header and the
// two range values, each line at up to three bytes a character (UTF-8 of a
// UTF-16 unit; UTF-16 takes two, 8-bit text one), and a byte-order mark. A
// file beyond either figure was not written by the program and is not read, so
// that a planted file cannot exhaust the 32-bit address space.
inline constexpr std::size_t kSlotSectionCount = 5;
inline constexpr std::size_t kRangeSectionCount = 2;
inline constexpr std::size_t kTableFileMaxLines =
    kSlotSectionCount * (1 + static_cast<std::size_t>(kSlotCount)) + kRangeSectionCount * 2;
constexpr std::size_t DecimalDigits(std::size_t value) {
  return value < 10 ? 1 : 1 + DecimalDigits(value / 10);
}
inline constexpr std::size_t kTableFileLongestLine =
    DecimalDigits(static_cast<std::size_t>(kSlotCount) - 1) + 1 +
    (ProfileStore::kValueBufferSize - 1) + 2;
static_assert(kTableFileLongestLine > sizeof("[Stop Address Field3]") - 1 + 2);
inline constexpr std::size_t kTableFileMaxBytes =
    3 + kTableFileMaxLines * kTableFileLongestLine * 3;

// Name a slot holds when nothing else is known: "UNIT" and the slot number from 1.
std::string DefaultDeviceName(int slot);
// An empty slot as the editing commands leave it.
DeviceEntry DefaultDeviceEntry(int slot);
// The table a missing file loads as.
DeviceTable DefaultDeviceTable();
// Number of slots whose address is not 0, wherever they are.
int CountUsedSlots(const DeviceTable& table);

// Longest values a read keeps, terminator included as in a fixed read buffer;
// 0 keeps the whole value.
struct TableReadLimits {
  std::size_t nameBuffer = 0;
  std::size_t macBuffer = 0;
};

// Fills all 256 slots and the scan range; whatever cannot be read takes its default.
DeviceTable LoadDeviceTable(ProfileStore& store, const TableReadLimits& limits = {});
// Writes slots 0..slotCount-1, then the scan range. Slots past slotCount are left
// alone and nothing is ever deleted.
void StoreDeviceTable(const DeviceTable& table, int slotCount, ProfileStore& store);

MacBytes ParseMacText(const std::string& text);
// "%02X" of each of the six bytes, no separators: the stored form.
std::string MacTextOf(const MacBytes& mac);
// Texts both dialogs' lists show: "% 3d. % 3d. % 3d. % 3d", first octet first, and
// "%02X %02X %02X %02X %02X %02X".
std::string AddressColumnText(std::uint32_t address);
std::string MacColumnText(const MacBytes& mac);
// Each slot with its MAC parsed from its text, not yet compared with the server.
WorkingTable MakeWorkingTable(const std::array<DeviceEntry, kSlotCount>& entries);
// The entries of a working table, with the scan range.
DeviceTable TableOf(const WorkingTable& slots, std::uint32_t scanStartAddress,
                    std::int32_t scanStopOctet);
// The first slot holding `address`, walking the packed slots from 0.
std::optional<int> FindAddress(const WorkingTable& slots, std::uint32_t address);

// A default name for `slot` that no other used slot holds: "UNIT" and the slot's number
// from 1, else the lowest free "UNITn"; past "UNIT256" that last one is taken anyway.
// Used slots are those before the first empty one.
std::string MakeUniqueDefaultName(const WorkingTable& slots, int slot);

}  // namespace orvel
