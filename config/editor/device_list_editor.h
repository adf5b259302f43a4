#pragma once
// The main dialog's field entry and list commands: the pending entry, the detail
// fields and the flags that keep the controls' own notifications from acting on
// the editor's writes. The table, its Undo copy and its sort order are the
// DeviceTableModel's. It reaches the dialog only through EditorView and the
// server only through ServerChannel.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "config/autodetect/address_scan.h"
#include "config/core/server_channel.h"
#include "config/editor/device_table_model.h"
#include "config/editor/editor_view.h"
#include "config/editor/field_rules.h"

namespace orvel {

// The port column's width (the list's last), without and beside the vertical scroll bar.
inline constexpr int kListPageWidth = 114;
inline constexpr int kListPageWidthWithScrollBar = 97;

class DeviceListEditor {
 public:
  DeviceListEditor(EditorView& view, ServerChannel& server);

  // Opening the dialog, around the dialog's own window set-up.
  void Load(const std::array<DeviceEntry, kSlotCount>& entries);
  void SetActiveAddresses(std::vector<std::uint32_t> addresses) {
    activeAddresses_ = std::move(addresses);
  }
  // Slot 0 into the fields and its MAC check against the server.
  void PresentFirstEntry();
  // The list, the first Apply state and the count buttons; then fields feed the entry.
  void FinishOpening();

  // Field notifications.
  void OnNameChange();
  void OnOctetUpdate(int octet);     // EN_UPDATE, octet 1..4
  void OnOctetKillFocus(int octet);  // EN_KILLFOCUS
  void OnOctetSetFocus(int octet);   // EN_SETFOCUS
  void OnMacUpdate(int field);       // EN_UPDATE, MAC byte 1..6
  void OnMacKillFocus(int field);
  void OnLookupFieldSetFocus();  // name, MAC fields and port receive the focus
  void OnPortSelChange();
  void OnPortEditUpdate();
  void OnRecheckDevices();
  void OnListItemChanged(int row, unsigned newState);

  // Commands.
  void New();
  void Duplicate();
  void Remove();
  void RemoveAll();
  void Undo();
  void Apply();
  void OnColumnClick(int column);
  // After "Advanced Settings" closed with OK and exported nothing: the imported table,
  // if any, replaces the working one, then the checked result rows are merged in.
  void MergeAutoDetect(const WorkingTable* imported, std::span<const autodetect::ScanRow> rows);
  void UpdateCountButtons();

  // Keyboard: true when the key must not reach the control. A "." typed first
  // into an octet field that the focus reached by itself after three digits is
  // the separator the user meant, not an edit.
  void OnKeyDown(unsigned virtualKey);
  bool OnChar(int focusedId, char character);
  // Start of each input message.
  void BeginInputMessage() { clickRedispatch_ = false; }
  bool clickRedispatch() const { return clickRedispatch_; }

  const WorkingTable& table() const { return model_.table(); }
  const PendingEntry& pending() const { return pending_; }
  int currentSlot() const { return currentSlot_; }
  int rowCount() const { return rowCount_; }
  bool modified() const { return model_.modified(); }
  bool macLocked() const { return macLocked_; }
  bool addressEdited() const { return addressEdited_; }
  bool undoAvailable() const { return model_.undoAvailable(); }
  int sortColumn() const { return model_.sortColumn(); }
  int sortDirection(int column) const { return model_.sortDirection(column); }

  // Table operations, public for the merge after "Advanced Settings".
  int DeleteSlot(int slot) { return model_.DeleteSlot(slot); }
  // An emptied slot as Remove leaves it: default name, no address, MAC "00".
  void ClearSlot(int slot) { model_.ClearSlot(slot); }
  std::string MakeUniqueDefaultName(int slot) const { return model_.MakeUniqueDefaultName(slot); }
  void RebuildList(int rowToSelect, bool withBlankRow);
  bool RewriteRowsInPlace(const std::vector<std::array<std::string, 4>>& wanted, int rowToSelect);
  void SortList(int rows);
  void TakeUndoSnapshot();
  void ReplaceTable(const WorkingTable& table) { model_.Replace(table); }
  void SetModified() { model_.SetModified(); }

 private:
  class ListRedrawPause;

  bool QueryServerMac(std::uint32_t address, MacBytes& mac);
  bool LookupMac(std::uint32_t address);
  bool LookupMacKeepingFocus(std::uint32_t address);
  void CommitAddress(std::uint32_t address, int slot);
  void CheckSlotMac(int slot);
  void RefreshApply();
  void SetMacFieldsEnabled(bool enabled);
  void SetDetailFieldsEnabled(bool enabled, bool macEnabled);
  void WriteMacFields(const MacBytes& mac, const char* format);
  void ShowEntry(bool macFromPending);
  void PresentCurrentSlot(bool setPendingAddress);
  void ShowMergedSlot(int slot);
  void RestoreRowStatesByName(const std::string& focusedName,
                              std::vector<std::string> selectedNames);
  void MoveToOctet(int octet);
  int FocusedRow();
  int EntryRowCount();
  bool BlankRowShown();
  int NewRowIndex();
  void EnableListCommands(bool enabled);
  void RefreshRemoveForSelection();
  // Whether a selected row is the blank one; `anySelected` tells whether any is.
  bool BlankRowSelected(bool& anySelected);
  // A write of the editor's own that the fields' rules must not act on.
  void SetTextQuietly(int id, const std::string& text);
  void TakePendingFromSlot(int slot);

  EditorView& view_;
  ServerChannel& server_;

  DeviceTableModel model_;
  PendingEntry pending_;
  std::vector<std::uint32_t> activeAddresses_;
  int currentSlot_ = 0;
  int rowCount_ = -1;
  bool suppressFieldEvents_ = true;
  bool macLocked_ = false;
  bool addressEdited_ = false;
  bool listEventsEnabled_ = true;
  bool restoring_ = false;
  bool clickRedispatch_ = false;
  bool applyAtOpen_ = false;
  int redrawPauses_ = 0;
  // Octet field the focus reached by the automatic move after three digits.
  int autoMovedField_ = 0;
  bool movingAfterDigits_ = false;
};

}  // namespace orvel
