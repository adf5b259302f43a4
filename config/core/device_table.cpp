#include "config/core/device_table.h"

#include <cstdio>
#include <cstdlib>

namespace orvel {
std::string DefaultDeviceName(int slot) { return "UNIT" + std::to_string(slot + 1); }

DeviceEntry DefaultDeviceEntry(int slot) {
  DeviceEntry entry;
  entry.deviceName = DefaultDeviceName(slot);
  entry.macText = kZeroMacText;
  return entry;
}

DeviceTable DefaultDeviceTable() {
  DeviceTable table;
  for (int slot = 0; slot < kSlotCount; ++slot) table.entries[slot] = DefaultDeviceEntry(slot);
  table.scanStartAddress = kDefaultScanStartAddress;
  table.scanStopOctet = kDefaultScanStopOctet;
  return table;
}

int CountUsedSlots(const DeviceTable& table) {
  int used = 0;
  for (const DeviceEntry& entry : table.entries) {
    if (entry.Used()) ++used;
  }
  return used;
}

namespace {

std::string ReadBounded(ProfileStore& store, const char* section, const std::string& key,
                        const std::string& defaultValue, std::size_t bufferSize) {
  std::string value = store.GetString(section, key, defaultValue);
  if (bufferSize != 0 && value.size() > bufferSize - 1) value.resize(bufferSize - 1);
  return value;
}

// "%02X" of each byte, `separator` between them.
std::string HexBytes(const MacBytes& mac, const char* separator) {
  std::string text;
  char pair[3];
  for (std::size_t i = 0; i < mac.size(); ++i) {
    if (i != 0) text += separator;
    std::snprintf(pair, sizeof pair, "%02X", mac[i]);
    text += pair;
  }
  return text;
}

}  // namespace

DeviceTable LoadDeviceTable(ProfileStore& store, const TableReadLimits& limits) {
  DeviceTable table;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const std::string key = std::to_string(slot);
    const std::string defaultName = DefaultDeviceName(slot);
    DeviceEntry& entry = table.entries[slot];

    entry.deviceName = ReadBounded(store, kNameSection, key, defaultName, limits.nameBuffer);
    if (entry.deviceName.empty()) entry.deviceName = defaultName;
    entry.ipAddress = static_cast<std::uint32_t>(store.GetInt(kAddressSection, key, 0));
    entry.macText = ReadBounded(store, kMacSection, key, kZeroMacText, limits.macBuffer);
    if (entry.macText.empty()) entry.macText = kZeroMacText;
    entry.portIndex = static_cast<std::uint8_t>(store.GetInt(kPortSection, key, 0) & 0xFF);
    entry.tcpFlag = static_cast<std::uint8_t>(store.GetInt(kTcpSection, key, 1) & 0xFF);
  }
  table.scanStartAddress = static_cast<std::uint32_t>(store.GetInt(
      kScanStartSection, kValueKey, static_cast<std::int32_t>(kDefaultScanStartAddress)));
  table.scanStopOctet = store.GetInt(kScanStopSection, kValueKey, kDefaultScanStopOctet);
  return table;
}

void StoreDeviceTable(const DeviceTable& table, int slotCount, ProfileStore& store) {
  const int count = slotCount < kSlotCount ? slotCount : kSlotCount;
  for (int slot = 0; slot < count; ++slot) {
    const std::string key = std::to_string(slot);
    const DeviceEntry& entry = table.entries[slot];
    store.WriteString(kNameSection, key, entry.deviceName);
    store.WriteString(kAddressSection, key,
                      std::to_string(static_cast<std::int32_t>(entry.ipAddress)));
    store.WriteString(kMacSection, key, entry.macText);
    store.WriteString(kPortSection, key, std::to_string(entry.portIndex));
    store.WriteString(kTcpSection, key, std::to_string(entry.tcpFlag));
  }
  store.WriteString(kScanStartSection, kValueKey,
                    std::to_string(static_cast<std::int32_t>(table.scanStartAddress)));
  store.WriteString(kScanStopSection, kValueKey, std::to_string(table.scanStopOctet));
}

MacBytes ParseMacText(const std::string& text) {
  std::string digits = text.substr(0, 12);
  digits.resize(12, '0');
  MacBytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::string pair = digits.substr(i * 2, 2);
    // strtol, as the stored form has always been read: blanks and a sign are
    // accepted and reading stops at the first non-hex character.
    bytes[i] = static_cast<std::uint8_t>(std::strtol(pair.c_str(), nullptr, 16) & 0xFF);
  }
  return bytes;
}

std::string MacTextOf(const MacBytes& mac) { return HexBytes(mac, ""); }

std::string AddressColumnText(std::uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof(text), "% 3d. % 3d. % 3d. % 3d", static_cast<int>(address >> 24),
                static_cast<int>((address >> 16) & 0xFF), static_cast<int>((address >> 8) & 0xFF),
                static_cast<int>(address & 0xFF));
  return text;
}

std::string MacColumnText(const MacBytes& mac) { return HexBytes(mac, " "); }

WorkingTable MakeWorkingTable(const std::array<DeviceEntry, kSlotCount>& entries) {
  WorkingTable slots;
  for (std::size_t slot = 0; slot < entries.size(); ++slot) {
    slots[slot].entry = entries[slot];
    slots[slot].macBytes = ParseMacText(entries[slot].macText);
  }
  return slots;
}

DeviceTable TableOf(const WorkingTable& slots, std::uint32_t scanStartAddress,
                    std::int32_t scanStopOctet) {
  DeviceTable table;
  for (std::size_t slot = 0; slot < slots.size(); ++slot) table.entries[slot] = slots[slot].entry;
  table.scanStartAddress = scanStartAddress;
  table.scanStopOctet = scanStopOctet;
  return table;
}

std::optional<int> FindAddress(const WorkingTable& slots, std::uint32_t address) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const std::uint32_t stored = slots[static_cast<std::size_t>(slot)].entry.ipAddress;
    if (stored == 0) break;
    if (stored == address) return slot;
  }
  return std::nullopt;
}

std::string MakeUniqueDefaultName(const WorkingTable& slots, int slot) {
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
