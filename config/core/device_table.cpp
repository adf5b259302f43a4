#include "config/core/device_table.h"

#include <cstdlib>

namespace orvel {
std::string DefaultDeviceName(int slot) { return "UNIT" + std::to_string(slot + 1); }

DeviceEntry DefaultDeviceEntry(int slot) {
  DeviceEntry entry;
  entry.deviceName = DefaultDeviceName(slot);
  entry.macText = kZeroMacText;
  return entry;
}

int CountUsedSlots(const DeviceTable& table) {
  int used = 0;
  for (const DeviceEntry& entry : table.entries) {
    if (entry.Used()) ++used;
  }
  return used;
}

DeviceTable LoadDeviceTable(ProfileStore& store) {
  DeviceTable table;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const std::string key = std::to_string(slot);
    const std::string defaultName = DefaultDeviceName(slot);
    DeviceEntry& entry = table.entries[slot];

    entry.deviceName = store.GetString(kNameSection, key, defaultName);
    if (entry.deviceName.empty()) entry.deviceName = defaultName;
    entry.ipAddress = static_cast<std::uint32_t>(store.GetInt(kAddressSection, key, 0));
    entry.macText = store.GetString(kMacSection, key, kZeroMacText);
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

}  // namespace orvel
