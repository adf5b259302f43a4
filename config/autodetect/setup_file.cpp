#include "config/autodetect/setup_file.h"

#include <algorithm>
#include <new>
#include <string>

#include "config/autodetect/address_scan.h"
#include "config/autodetect/range_rules.h"

namespace orvel::autodetect {
namespace {

constexpr char kMissing[] = "ERROR";

bool IsSetupFile(ProfileStore& store) {
  const std::string key = "0";
  // Bounding the reads cannot change these comparisons: the buffers hold "ERROR".
  if (store.GetString(kNameSection, key, kMissing) == kMissing) return false;
  if (store.GetInt(kAddressSection, key, -1) == -1) return false;
  if (store.GetString(kMacSection, key, kMissing) == kMissing) return false;
  if (store.GetInt(kPortSection, key, -1) == -1) return false;
  return true;
}

}  // namespace

void WriteSetupFile(const DeviceTable& table, ProfileStore& store) {
  StoreDeviceTable(table, kSlotCount, store);
}

std::optional<DeviceTable> ReadSetupFile(ProfileStore& store) try {
  if (!IsSetupFile(store)) return std::nullopt;
  DeviceTable table = LoadDeviceTable(store, {kSetupNameBuffer, kSetupMacBuffer});
  // A file edited by hand may leave gaps between used slots. The table is walked only
  // up to its first empty slot, so units behind a gap would be overwritten by the
  // merge; move them up, keeping the file's order.
  std::stable_partition(table.entries.begin(), table.entries.end(),
                        [](const DeviceEntry& entry) { return entry.Used(); });
  return table;
} catch (const std::bad_alloc&) {
  // A file too large to hold is no setup file; the program goes on.
  return std::nullopt;
}

void ExportSetupFile(const AddressScan& scan, const RangeRules& range, ProfileStore& store) {
  WriteSetupFile(TableOf(scan.tableCopy(), scan.scanStartAddress(), range.scanStopOctet()), store);
}

bool ImportSetupFile(AddressScan& scan, RangeRules& range, ProfileStore& store) {
  std::optional<DeviceTable> table = ReadSetupFile(store);
  if (!table) return false;
  scan.ReplaceTable(MakeWorkingTable(table->entries), table->scanStartAddress);
  range.FillRangeFields(table->scanStartAddress, table->scanStopOctet);
  scan.RememberCheckedRows();
  scan.RebuildResultList();
  return true;
}

std::optional<DeviceTable> DialogSetupFiles::Import(ProfileStore& file) {
  std::optional<DeviceTable> table = ReadSetupFile(file);
  if (!table) return std::nullopt;
  // The dialog's range fields take the file's range, and the main dialog takes back
  // what they hold.
  const FilledRange range = FillRangeWithoutWindow(table->scanStartAddress, table->scanStopOctet);
  table->scanStartAddress = range.startAddress;
  table->scanStopOctet = range.stopOctet;
  return table;
}

void DialogSetupFiles::Export(const DeviceTable& table, ProfileStore& file) {
  // The dialog opens with the range filled in: the stop octet written is the field's,
  // the start the one handed over, since no scan ran.
  DeviceTable written = table;
  written.scanStopOctet =
      FillRangeWithoutWindow(table.scanStartAddress, table.scanStopOctet).stopOctet;
  WriteSetupFile(written, file);
}

}  // namespace orvel::autodetect
