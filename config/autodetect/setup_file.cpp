#include "config/autodetect/setup_file.h"

#include <algorithm>
#include <string>

#include "config/autodetect/address_scan.h"
#include "config/autodetect/range_rules.h"

namespace orvel::autodetect {
namespace {

constexpr char kMissing[] = "ERROR";

// A value read into a buffer of `size` characters, terminator included.
std::string ReadBounded(ProfileStore& store, const char* section, const std::string& key,
                        const std::string& defaultValue, std::size_t size) {
  std::string value = store.GetString(section, key, defaultValue);
  if (value.size() > size - 1) value.resize(size - 1);
  return value;
}

bool IsSetupFile(ProfileStore& store) {
  const std::string key = "0";
  if (ReadBounded(store, kNameSection, key, kMissing, kSetupNameBuffer) == kMissing) return false;
  if (store.GetInt(kAddressSection, key, -1) == -1) return false;
  if (ReadBounded(store, kMacSection, key, kMissing, kSetupMacBuffer) == kMissing) return false;
  if (store.GetInt(kPortSection, key, -1) == -1) return false;
  return true;
}

}  // namespace

void WriteSetupFile(const std::array<DeviceEntry, kSlotCount>& entries,
                    std::uint32_t scanStartAddress, std::int32_t scanStopOctet,
                    ProfileStore& store) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const std::string key = std::to_string(slot);
    const DeviceEntry& entry = entries[static_cast<std::size_t>(slot)];
    store.WriteString(kNameSection, key, entry.deviceName);
    store.WriteString(kAddressSection, key,
                      std::to_string(static_cast<std::int32_t>(entry.ipAddress)));
    store.WriteString(kMacSection, key, entry.macText);
    store.WriteString(kPortSection, key, std::to_string(entry.portIndex));
    store.WriteString(kTcpSection, key, std::to_string(entry.tcpFlag));
  }
  store.WriteString(kScanStartSection, kValueKey,
                    std::to_string(static_cast<std::int32_t>(scanStartAddress)));
  store.WriteString(kScanStopSection, kValueKey, std::to_string(scanStopOctet));
}

std::optional<DeviceTable> ReadSetupFile(ProfileStore& store) {
  if (!IsSetupFile(store)) return std::nullopt;
  DeviceTable table;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const std::string key = std::to_string(slot);
    const std::string defaultName = DefaultDeviceName(slot);
    DeviceEntry& entry = table.entries[static_cast<std::size_t>(slot)];
    entry.deviceName = ReadBounded(store, kNameSection, key, defaultName, kSetupNameBuffer);
    if (entry.deviceName.empty()) entry.deviceName = defaultName;
    entry.ipAddress = static_cast<std::uint32_t>(store.GetInt(kAddressSection, key, 0));
    entry.macText = ReadBounded(store, kMacSection, key, kZeroMacText, kSetupMacBuffer);
    if (entry.macText.empty()) entry.macText = kZeroMacText;
    entry.portIndex = static_cast<std::uint8_t>(store.GetInt(kPortSection, key, 0) & 0xFF);
    entry.tcpFlag = static_cast<std::uint8_t>(store.GetInt(kTcpSection, key, 1) & 0xFF);
  }
  // A file edited by hand may leave gaps between used slots. The table is walked only
  // up to its first empty slot, so units behind a gap would be overwritten by the
  // merge; move them up, keeping the file's order.
  std::stable_partition(table.entries.begin(), table.entries.end(),
                        [](const DeviceEntry& entry) { return entry.Used(); });
  table.scanStartAddress = static_cast<std::uint32_t>(store.GetInt(
      kScanStartSection, kValueKey, static_cast<std::int32_t>(kDefaultScanStartAddress)));
  table.scanStopOctet = store.GetInt(kScanStopSection, kValueKey, kDefaultScanStopOctet);
  return table;
}

void ExportSetupFile(const AddressScan& scan, const RangeRules& range, ProfileStore& store) {
  WriteSetupFile(scan.tableCopy().entries, scan.scanStartAddress(), range.scanStopOctet(), store);
}

bool ImportSetupFile(AddressScan& scan, RangeRules& range, ProfileStore& store) {
  std::optional<DeviceTable> table = ReadSetupFile(store);
  if (!table) return false;
  scan.ReplaceTable(MakeTableCopy(table->entries), table->scanStartAddress);
  range.FillRangeFields(table->scanStartAddress, table->scanStopOctet);
  scan.RememberCheckedRows();
  scan.RebuildResultList();
  return true;
}

}  // namespace orvel::autodetect
