#pragma once
// The main dialog's working table: the 256 slots while the dialog is open, the Undo
// copy, the column sort order and the merge of an "Advanced Settings" result. It
// knows nothing of the controls; the editor shows what it holds.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/autodetect/address_scan.h"
#include "config/autodetect/merge.h"
#include "config/core/device_table.h"
#include "config/editor/field_rules.h"

namespace orvel {

class DeviceTableModel {
 public:
  struct UndoSnapshot {
    WorkingTable slots;
    int focusedRow = 0;
    std::string focusedName;
  };
  // A list row as the sort sees it: its text in the sort column and its slot.
  struct SortRow {
    std::string key;
    std::uint32_t slot;
  };

  // Each slot with its MAC parsed from its text, not yet compared with the server.
  void Load(const std::array<DeviceEntry, kSlotCount>& entries);

  const WorkingTable& table() const { return table_; }
  WorkingSlot& slot(int index) { return table_[index]; }
  const WorkingSlot& slot(int index) const { return table_[index]; }
  void Replace(const WorkingTable& table) { table_ = table; }
  bool modified() const { return modified_; }
  void SetModified() { modified_ = true; }

  // Slots are packed from 0: removing one moves the later ones down. Returns the
  // slot that was the first empty one before, or -1 when the table was full.
  int DeleteSlot(int slot);
  // Removes each of `slots` once, highest first; returns the last DeleteSlot result.
  int DeleteSlots(std::vector<int> slots);
  // An emptied slot as Remove leaves it: default name, no address, MAC "00".
  void ClearSlot(int slot);
  void ClearUsedSlots();
  std::string MakeUniqueDefaultName(int slot) const;

  // The rows the list shows, in slot order: the used slots, then one blank row if asked.
  std::vector<std::array<std::string, 4>> ListRows(bool withBlankRow) const;
  // Whether the first `rowCount` slots hold an empty one, the list's blank row.
  bool BlankRowShown(int rowCount) const;
  // The row a new entry takes in a list of `rowCount` rows.
  int NewRowIndex(int rowCount) const;

  // Whether `slot` is still to be compared with the server: never compared, or found
  // to differ, in which case the pending MAC shows the server's.
  bool NeedsServerCheck(int slot) const;
  // The server reported a MAC for the slot's address; `pending` holds it.
  void CompareWithServer(int slot, const PendingEntry& pending);
  // After the address typed for `slot` was looked up: `macLocked` when the server
  // knew it.
  void SettleCheckAfterLookup(int slot, bool macLocked, const PendingEntry& pending);
  // Every used slot takes the MAC `lookup` finds for its address, else is marked unknown.
  void RecheckUsedSlots(
      const std::function<std::optional<MacBytes>(std::uint32_t address)>& lookup);

  // What Apply stores in `slot` from the fields, after the address was written.
  void StoreApplied(int slot, const std::string& macText, std::uint8_t portIndex,
                    const std::string& name, bool macLocked);

  void TakeUndoSnapshot(int focusedRow, std::string focusedName);
  bool undoAvailable() const { return undoAvailable_; }
  // Puts the snapshot back and uses it up; false when there is none.
  bool RestoreUndo();
  const UndoSnapshot& undo() const { return undo_; }

  int sortColumn() const { return sortColumn_; }
  int sortDirection(int column) const { return sortDirection_[column]; }
  // A header click: that column becomes the sort column and its direction moves on
  // (none, ascending, descending); the other columns go back to none.
  void ClickColumn(int column);
  // The slots in the sorted order, or nothing when the rows are in that order already.
  std::vector<std::uint32_t> SortedSlots(std::vector<SortRow> rows) const;

  // After "Advanced Settings" closed with OK: see autodetect::MergeIntoTable.
  autodetect::MergeResult Merge(int& rowCount, const WorkingTable* imported,
                                std::span<const autodetect::ScanRow> rows);

 private:
  WorkingTable table_;
  bool modified_ = false;
  UndoSnapshot undo_;
  bool undoAvailable_ = false;
  int sortColumn_ = 0;
  std::array<int, 3> sortDirection_{};
};

}  // namespace orvel
