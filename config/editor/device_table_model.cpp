#include "config/editor/device_table_model.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "config/editor/field_rules.h"

namespace orvel {

void DeviceTableModel::Load(const std::array<DeviceEntry, kSlotCount>& entries) {
  for (int slot = 0; slot < kSlotCount; ++slot) {
    table_[slot].entry = entries[slot];
    table_[slot].macBytes = ParseMacText(entries[slot].macText);
    table_[slot].checkState = kCheckNotCompared;
  }
}

std::string DeviceTableModel::MakeUniqueDefaultName(int slot) const {
  return orvel::MakeUniqueDefaultName(table_, slot);
}

int DeviceTableModel::DeleteSlot(int slot) {
  for (int j = slot + 1; j < kSlotCount; ++j) {
    WorkingSlot& to = table_[j - 1];
    const WorkingSlot& from = table_[j];
    const bool fromEmpty = !from.entry.Used();
    to.entry.ipAddress = from.entry.ipAddress;
    to.entry.portIndex = from.entry.portIndex;
    to.entry.macText = from.entry.macText;
    to.checkState = from.checkState;
    to.macBytes = ParseMacText(to.entry.macText);
    // A default name belongs to its position: the moved entry takes a fresh one.
    if (fromEmpty || from.entry.deviceName == "UNIT" + std::to_string(j)) {
      to.entry.deviceName = MakeUniqueDefaultName(j - 1);
    } else {
      to.entry.deviceName = from.entry.deviceName;
    }
    if (fromEmpty) return j;
  }
  WorkingSlot& last = table_[kSlotCount - 1];
  last.entry.ipAddress = 0;
  last.entry.portIndex = 0;
  last.entry.macText = "000000000000";
  last.macBytes = ParseMacText(last.entry.macText);
  last.checkState = kCheckNotCompared;
  last.entry.deviceName = MakeUniqueDefaultName(kSlotCount - 1);
  return -1;
}

int DeviceTableModel::DeleteSlots(std::vector<int> slots) {
  // Later slots shift down with each removal: highest first, each once.
  std::sort(slots.begin(), slots.end(), std::greater<int>());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  int count = 0;
  for (int slot : slots) {
    if (slot >= 0 && slot < kSlotCount) count = DeleteSlot(slot);
  }
  return count;
}

void DeviceTableModel::ClearSlot(int slot) {
  WorkingSlot& cleared = table_[slot];
  cleared.entry.ipAddress = 0;
  cleared.entry.portIndex = 0;
  cleared.entry.deviceName = DefaultDeviceName(slot);
  cleared.entry.macText = kZeroMacText;
  cleared.macBytes = MacBytes{};
}

void DeviceTableModel::ClearUsedSlots() {
  for (int slot = 0; slot < kSlotCount && table_[slot].entry.Used(); ++slot) ClearSlot(slot);
}

std::vector<std::array<std::string, 4>> DeviceTableModel::ListRows(bool withBlankRow) const {
  std::vector<std::array<std::string, 4>> rows;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    const bool empty = !table_[slot].entry.Used();
    if (empty && !withBlankRow) break;
    rows.push_back(empty ? BlankRowTexts() : RowTexts(table_[slot]));
    if (empty) break;
  }
  return rows;
}

bool DeviceTableModel::BlankRowShown(int rowCount) const {
  for (int slot = 0; slot < rowCount && slot < kSlotCount; ++slot) {
    if (!table_[slot].entry.Used()) return true;
  }
  return false;
}

int DeviceTableModel::NewRowIndex(int rowCount) const {
  if (rowCount <= 0) return 0;
  return table_[rowCount - 1].entry.Used() ? rowCount : rowCount - 1;
}

bool DeviceTableModel::NeedsServerCheck(int slot) const {
  const std::int32_t state = table_[slot].checkState;
  return state == kCheckNotCompared || state == kCheckMacDiffers;
}

void DeviceTableModel::CompareWithServer(int slot, const PendingEntry& pending) {
  WorkingSlot& target = table_[slot];
  target.checkState = MacTextMatches(pending, target) ? kCheckMacEqual : kCheckMacDiffers;
}

void DeviceTableModel::SettleCheckAfterLookup(int slot, bool macLocked,
                                              const PendingEntry& pending) {
  WorkingSlot& target = table_[slot];
  if (macLocked) {
    if (target.checkState == kCheckNoMacKnown) CompareWithServer(slot, pending);
  } else if (target.checkState == kCheckMacEqual || target.checkState == kCheckMacDiffers) {
    target.checkState = kCheckNoMacKnown;
  }
}

void DeviceTableModel::RecheckUsedSlots(
    const std::function<std::optional<MacBytes>(std::uint32_t address)>& lookup) {
  for (int slot = 0; slot < kSlotCount && table_[slot].entry.Used(); ++slot) {
    WorkingSlot& target = table_[slot];
    if (const std::optional<MacBytes> found = lookup(target.entry.ipAddress)) {
      target.macBytes = *found;
      target.checkState = kCheckMacEqual;
    } else {
      target.checkState = kCheckNoMacKnown;
    }
  }
}

void DeviceTableModel::StoreApplied(int slot, const std::string& macText, std::uint8_t portIndex,
                                    const std::string& name, bool macLocked) {
  WorkingSlot& target = table_[slot];
  target.entry.macText = macText;
  target.macBytes = ParseMacText(macText);
  if (macLocked) {
    target.checkState = kCheckMacEqual;
  } else {
    target.checkState = target.checkState == kCheckMacDiffers ? kCheckMacEqual : kCheckNoMacKnown;
  }
  target.entry.portIndex = portIndex;
  if (target.entry.deviceName != name) target.entry.deviceName = name;
  modified_ = true;
}

void DeviceTableModel::TakeUndoSnapshot(int focusedRow, std::string focusedName) {
  undo_.slots = table_;
  undo_.focusedRow = focusedRow;
  undo_.focusedName = std::move(focusedName);
  undoAvailable_ = true;
}

bool DeviceTableModel::RestoreUndo() {
  if (!undoAvailable_) return false;
  undoAvailable_ = false;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    WorkingSlot& to = table_[slot];
    // Undo has never put back the TCP flag, and it takes the MAC bytes from the text,
    // not from a server answer that came after the snapshot.
    const std::uint8_t tcpFlag = to.entry.tcpFlag;
    to = undo_.slots[slot];
    to.entry.tcpFlag = tcpFlag;
    to.macBytes = ParseMacText(to.entry.macText);
  }
  return true;
}

void DeviceTableModel::ClickColumn(int column) {
  sortColumn_ = column;
  if (column < 0 || column > 2) return;
  const int next = (sortDirection_[column] + 1) % 3;
  sortDirection_ = {0, 0, 0};
  sortDirection_[column] = next;
}

std::vector<std::uint32_t> DeviceTableModel::SortedSlots(std::vector<SortRow> rows) const {
  if (sortColumn_ < 0 || sortColumn_ > 2) return {};
  const int direction = sortDirection_[sortColumn_];
  // A stable sort by byte comparison gives the order that swapping neighbours
  // would, without touching the control for every swap.
  const auto before = rows;
  std::stable_sort(rows.begin(), rows.end(), [&](const SortRow& a, const SortRow& b) {
    if (direction == 0) return a.slot < b.slot;
    if (direction == 1) return a.key < b.key;
    return b.key < a.key;
  });
  const bool unchanged =
      std::equal(rows.begin(), rows.end(), before.begin(),
                 [](const SortRow& a, const SortRow& b) { return a.slot == b.slot; });
  if (unchanged) return {};
  std::vector<std::uint32_t> slots;
  slots.reserve(rows.size());
  for (const SortRow& row : rows) slots.push_back(row.slot);
  return slots;
}

autodetect::MergeResult DeviceTableModel::Merge(int& rowCount, const WorkingTable* imported,
                                                std::span<const autodetect::ScanRow> rows) {
  const autodetect::MergeResult merged =
      autodetect::MergeIntoTable(table_, rowCount, imported, rows);
  if (merged.replaced || (merged.rowsMerged > 0 && merged.lastSlot >= 0)) modified_ = true;
  return merged;
}

}  // namespace orvel
