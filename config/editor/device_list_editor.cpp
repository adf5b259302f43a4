#include "config/editor/device_list_editor.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <utility>

#include "config/autodetect/merge.h"
#include "config/resources/resource.h"

namespace orvel {
namespace {

constexpr unsigned kSelectedAndFocused = EditorView::kRowSelected | EditorView::kRowFocused;

int OctetId(int octet) { return IDC_OCTET1 + octet - 1; }
int MacId(int field) { return IDC_MAC1 + field - 1; }

std::string Decimal(unsigned value) { return std::to_string(value); }

std::string Hex(std::uint8_t value, const char* format) {
  char text[8];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

// Keeps the focus where it was while field writes move it along the MAC fields.
class FocusKeeper {
 public:
  explicit FocusKeeper(EditorView& view) : view_(view), focus_(view.Focus()) {}
  ~FocusKeeper() {
    if (focus_ != 0 && view_.Focus() != focus_) view_.SetFocus(focus_);
  }
  FocusKeeper(const FocusKeeper&) = delete;
  FocusKeeper& operator=(const FocusKeeper&) = delete;

 private:
  EditorView& view_;
  int focus_;
};

class WaitCursor {
 public:
  explicit WaitCursor(EditorView& view) : view_(view) { view_.SetWaitCursor(true); }
  ~WaitCursor() { view_.SetWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  EditorView& view_;
};

}  // namespace

// Holds the list's redrawing off while its rows are rebuilt, sorted and given their
// states: with redrawing on, every cell or state written repaints at once, and a
// changed row count redraws the scroll bars each time. Pauses nest.
class DeviceListEditor::ListRedrawPause {
 public:
  explicit ListRedrawPause(DeviceListEditor& editor) : editor_(editor) {
    if (editor_.redrawPauses_++ == 0) editor_.view_.SetListRedraw(false);
  }
  ~ListRedrawPause() {
    if (--editor_.redrawPauses_ == 0) editor_.view_.SetListRedraw(true);
  }
  ListRedrawPause(const ListRedrawPause&) = delete;
  ListRedrawPause& operator=(const ListRedrawPause&) = delete;

 private:
  DeviceListEditor& editor_;
};

DeviceListEditor::DeviceListEditor(EditorView& view, ServerChannel& server)
    : view_(view), server_(server) {}

// ---------------------------------------------------------------------------
// Opening

void DeviceListEditor::Load(const std::array<DeviceEntry, kSlotCount>& entries) {
  model_.Load(entries);
  currentSlot_ = 0;
  pending_.address = model_.slot(0).entry.ipAddress;
  pending_.portIndex = model_.slot(0).entry.portIndex;
  pending_.name = model_.slot(0).entry.deviceName;
}

void DeviceListEditor::PresentFirstEntry() {
  view_.Enable(IDC_UNDO, false);
  if (!model_.slot(0).entry.Used()) {
    pending_.mac = MacBytes{};
    SetDetailFieldsEnabled(false, false);
    view_.Enable(IDC_REMOVE, false);
    view_.Enable(IDC_DUPLICATE, false);
    view_.Enable(IDC_REMOVE_ALL, false);
    applyAtOpen_ = false;
  } else {
    pending_.mac = model_.slot(0).macBytes;
    {
      WaitCursor wait(view_);
      CheckSlotMac(0);
    }
    const std::int32_t state = model_.slot(0).checkState;
    if (state == kCheckMacEqual || state == kCheckMacDiffers) {
      SetDetailFieldsEnabled(true, false);
      // A MAC the server reports differently can be taken over at once.
      applyAtOpen_ = !MacTextMatches(pending_, model_.slot(0));
    } else {
      SetDetailFieldsEnabled(true, true);
      const WorkingSlot& slot = model_.slot(0);
      applyAtOpen_ = pending_.address != slot.entry.ipAddress || pending_.mac != slot.macBytes ||
                     pending_.name != slot.entry.deviceName ||
                     pending_.portIndex != slot.entry.portIndex;
    }
    // Only where the whole Apply rule holds, as on every other path.
    applyAtOpen_ = applyAtOpen_ && UpdateApplyState(pending_, 0, model_.table(), activeAddresses_);
  }
  ShowEntry(true);
}

void DeviceListEditor::FinishOpening() {
  RebuildList(0, false);
  addressEdited_ = false;
  view_.Enable(IDC_APPLY, applyAtOpen_);
  UpdateCountButtons();
  suppressFieldEvents_ = false;
}

// ---------------------------------------------------------------------------
// Server look-ups

bool DeviceListEditor::QueryServerMac(std::uint32_t address, MacBytes& mac) {
  // An address ending in .0 names a network, never a unit.
  if (!server_.Present() || (address & 0xFF) == 0) return false;
  const std::optional<MacBytes> found = ReadUnitMac(server_, address);
  if (found) mac = *found;
  return found.has_value();
}

bool DeviceListEditor::LookupMac(std::uint32_t address) {
  MacBytes found;
  if (QueryServerMac(address, found)) {
    SetMacFieldsEnabled(false);
    WriteMacFields(found, "%02X");
    return true;
  }
  WriteMacFields(pending_.mac, "%02X");
  SetMacFieldsEnabled(true);
  return false;
}

bool DeviceListEditor::LookupMacKeepingFocus(std::uint32_t address) {
  FocusKeeper keep(view_);
  return LookupMac(address);
}

void DeviceListEditor::CommitAddress(std::uint32_t address, int slot) {
  if (address != 0) macLocked_ = LookupMacKeepingFocus(address);
  if (address != model_.slot(slot).entry.ipAddress) {
    // The click that pulled the focus out of the field must still act.
    clickRedispatch_ = true;
    return;
  }
  model_.SettleCheckAfterLookup(slot, macLocked_, pending_);
}

void DeviceListEditor::CheckSlotMac(int slot) {
  if (!model_.NeedsServerCheck(slot)) return;
  WaitCursor wait(view_);
  if (!model_.slot(slot).entry.Used()) return;
  MacBytes found;
  if (!QueryServerMac(model_.slot(slot).entry.ipAddress, found)) {
    model_.slot(slot).checkState = kCheckNoMacKnown;
    return;
  }
  pending_.mac = found;
  model_.CompareWithServer(slot, pending_);
}

void DeviceListEditor::OnRecheckDevices() {
  WaitCursor wait(view_);
  model_.RecheckUsedSlots([this](std::uint32_t address) -> std::optional<MacBytes> {
    MacBytes found;
    if (!QueryServerMac(address, found)) return std::nullopt;
    return found;
  });
}

// ---------------------------------------------------------------------------
// Fields

void DeviceListEditor::RefreshApply() {
  view_.Enable(IDC_APPLY,
               UpdateApplyState(pending_, currentSlot_, model_.table(), activeAddresses_));
}

void DeviceListEditor::SetMacFieldsEnabled(bool enabled) {
  for (int field = 1; field <= 6; ++field) view_.Enable(MacId(field), enabled);
}

void DeviceListEditor::SetDetailFieldsEnabled(bool enabled, bool macEnabled) {
  view_.Enable(IDC_LABEL_NAME, enabled);
  view_.Enable(IDC_DEVICE_NAME, enabled);
  view_.Enable(IDC_LABEL_ADDRESS, enabled);
  for (int octet = 1; octet <= 4; ++octet) view_.Enable(OctetId(octet), enabled);
  view_.Enable(IDC_LABEL_MAC, enabled);
  SetMacFieldsEnabled(macEnabled);
  view_.Enable(IDC_LABEL_PORT, enabled);
  view_.Enable(IDC_PORT, enabled);
}

void DeviceListEditor::WriteMacFields(const MacBytes& mac, const char* format) {
  // Copied first: the fields' own rule may rewrite the pending MAC while they fill.
  const MacBytes bytes = mac;
  for (int field = 1; field <= 6; ++field)
    view_.SetText(MacId(field), Hex(bytes[field - 1], format));
}

void DeviceListEditor::ShowEntry(bool macFromPending) {
  const WorkingSlot& slot = model_.slot(currentSlot_);
  const std::string name = slot.entry.deviceName;
  const std::uint32_t address = slot.entry.ipAddress;
  const std::uint8_t port = slot.entry.portIndex;
  const MacBytes mac = macFromPending ? pending_.mac : slot.macBytes;
  view_.SetText(IDC_DEVICE_NAME, name);
  for (int octet = 1; octet <= 4; ++octet)
    view_.SetText(OctetId(octet), Decimal(OctetOf(address, octet)));
  WriteMacFields(mac, "%02X");
  view_.SetComboSelection(IDC_PORT, port);
}

void DeviceListEditor::MoveToOctet(int octet) {
  view_.SetFocus(OctetId(octet));
  view_.SelectEditText(OctetId(octet), 0, -1);
}

void DeviceListEditor::OnNameChange() {
  if (suppressFieldEvents_) return;
  const NameRuleResult kept = NameRule(view_.Text(IDC_DEVICE_NAME));
  if (kept.caret) {
    view_.SetText(IDC_DEVICE_NAME, kept.text);
    const int caret = static_cast<int>(*kept.caret);
    view_.SelectEditText(IDC_DEVICE_NAME, caret, caret);
  }
  const std::string text = view_.Text(IDC_DEVICE_NAME);
  if (text != pending_.name) pending_.name = text;
  RefreshApply();
}

void DeviceListEditor::OnOctetUpdate(int octet) {
  if (suppressFieldEvents_) return;
  addressEdited_ = true;
  const int id = OctetId(octet);
  const OctetRuleResult rule =
      OctetTextRule(view_.Text(id), octet, OctetOf(pending_.address, octet));
  // This handler acts on the cut text itself; the write's own notification must
  // not, or a value that a "." put back would count as three typed digits.
  if (rule.cutText) SetTextQuietly(id, *rule.cutText);
  if (rule.outOfRange) view_.SetText(id, "0");
  pending_.address = WithOctet(pending_.address, octet, rule.value);

  if (octet == 4) {
    if (rule.counted > 0) {
      addressEdited_ = false;
      if (!restoring_) CommitAddress(pending_.address, currentSlot_);
    }
  } else if (rule.dotTyped) {
    // Also when the "." put back a three-digit value: no digits were typed, so the
    // next "." is the user's own.
    MoveToOctet(octet + 1);
  } else if (rule.counted >= 3) {
    if (rule.value == 0) view_.SetText(id, "0");
    movingAfterDigits_ = true;
    MoveToOctet(octet + 1);
    movingAfterDigits_ = false;
    autoMovedField_ = view_.Focus() == OctetId(octet + 1) ? OctetId(octet + 1) : 0;
  }
  RefreshApply();
}

void DeviceListEditor::OnOctetKillFocus(int octet) {
  const int id = OctetId(octet);
  if (view_.Text(id).empty()) {
    view_.SetText(id, "0");
    pending_.address = WithOctet(pending_.address, octet, 0);
  }
  if (octet < 4 && addressEdited_ && !restoring_) {
    addressEdited_ = false;
    CommitAddress(pending_.address, currentSlot_);
  }
  view_.SelectEditText(id, -1, -1);
}

void DeviceListEditor::OnOctetSetFocus(int) {
  if (!movingAfterDigits_) autoMovedField_ = 0;
}

void DeviceListEditor::OnMacUpdate(int field) {
  if (macLocked_ || suppressFieldEvents_) return;
  const int id = MacId(field);
  const MacRuleResult rule = MacTextRule(view_.Text(id));
  if (rule.cutText) view_.SetText(id, *rule.cutText);
  pending_.mac[field - 1] = rule.value;
  const int caret = static_cast<int>(rule.counted);
  if (field < 6 && rule.counted >= 2) {
    view_.SetFocus(MacId(field + 1));
    view_.SelectEditText(MacId(field + 1), 0, -1);
  } else {
    view_.SelectEditText(id, caret, caret);
  }
  RefreshApply();
}

void DeviceListEditor::OnMacKillFocus(int field) {
  const int id = MacId(field);
  if (!view_.Text(id).empty()) return;
  // Written past the field's rule: "00" is two digits, and the rule would move the
  // focus on, away from the control the user is going to.
  SetTextQuietly(id, "00");
  pending_.mac[field - 1] = 0;
}

void DeviceListEditor::OnLookupFieldSetFocus() {
  if (!addressEdited_) return;
  // Cleared first: the look-up's field writes bring the focus back here, and that
  // arrival must not look again.
  addressEdited_ = false;
  if (pending_.address != 0) macLocked_ = LookupMacKeepingFocus(pending_.address);
}

void DeviceListEditor::OnPortSelChange() {
  const int selection = view_.ComboSelection(IDC_PORT);
  if (selection >= 0) pending_.portIndex = static_cast<std::uint8_t>(selection);
  RefreshApply();
}

void DeviceListEditor::OnPortEditUpdate() {
  const std::string text = view_.Text(IDC_PORT);
  const PortRuleResult rule = PortTextRule(text);
  if (rule.action == PortRuleResult::Action::kEmptyField) {
    view_.SetText(IDC_PORT, "");
    return;
  }
  if (rule.cutText) view_.SetText(IDC_PORT, *rule.cutText);
  switch (rule.action) {
    case PortRuleResult::Action::kNone:
    case PortRuleResult::Action::kEmptyField:
      return;
    case PortRuleResult::Action::kSelectFirst:
      pending_.portIndex = 0;
      view_.SetComboSelection(IDC_PORT, 0);
      break;
    case PortRuleResult::Action::kSetText: {
      if (pending_.portIndex != rule.portIndex) pending_.portIndex = rule.portIndex;
      // Written only when it differs, so that the write settles at once.
      if (view_.Text(IDC_PORT) != rule.text) view_.SetText(IDC_PORT, rule.text);
      const int end = static_cast<int>(rule.text.size());
      view_.SelectComboEditText(IDC_PORT, end, end);
      break;
    }
  }
  RefreshApply();
}

// ---------------------------------------------------------------------------
// Keyboard

void DeviceListEditor::SetTextQuietly(int id, const std::string& text) {
  const bool suppressed = suppressFieldEvents_;
  suppressFieldEvents_ = true;
  view_.SetText(id, text);
  suppressFieldEvents_ = suppressed;
}

void DeviceListEditor::OnKeyDown(unsigned virtualKey) {
  if (!KeyKeepsDotState(virtualKey)) autoMovedField_ = 0;
}

bool DeviceListEditor::OnChar(int focusedId, char character) {
  const bool swallow = character == '.' && focusedId != 0 && focusedId == autoMovedField_;
  autoMovedField_ = 0;
  return swallow;
}

// ---------------------------------------------------------------------------
// The list

int DeviceListEditor::FocusedRow() {
  const int rows = view_.RowCount();
  for (int row = 0; row < rows; ++row) {
    if (view_.RowState(row) & EditorView::kRowFocused) return row;
  }
  return -1;
}

bool DeviceListEditor::BlankRowShown() { return model_.BlankRowShown(rowCount_); }

int DeviceListEditor::EntryRowCount() { return view_.RowCount() - (BlankRowShown() ? 1 : 0); }

int DeviceListEditor::NewRowIndex() { return model_.NewRowIndex(rowCount_); }

void DeviceListEditor::RebuildList(int rowToSelect, bool withBlankRow) {
  // The rows as they must read, in slot order.
  const std::vector<std::array<std::string, 4>> wanted = model_.ListRows(withBlankRow);
  const int rows = static_cast<int>(wanted.size());
  if (rowToSelect >= rows || rowToSelect < 0) rowToSelect = rows - 1 > 0 ? rows - 1 : 0;
  if (!RewriteRowsInPlace(wanted, rowToSelect)) {
    ListRedrawPause pause(*this);
    view_.DeleteAllRows();
    for (int slot = 0; slot < rows; ++slot)
      view_.InsertRow(slot, wanted[slot], static_cast<std::uint32_t>(slot));
  }
  rowCount_ = rows;
  currentSlot_ = rowToSelect;
  if (rows > 0) view_.SetRowState(rowToSelect, kSelectedAndFocused, kSelectedAndFocused);
  view_.SetColumnWidth(
      3, rowCount_ > view_.RowsPerPage() ? kListPageWidthWithScrollBar : kListPageWidth);
}

// With as many rows as before, one row per slot, each row keeps its place and only
// the cells that changed are written; one move then puts the rows in slot order.
// Deleting and inserting every row instead would scroll and repaint the whole list.
bool DeviceListEditor::RewriteRowsInPlace(const std::vector<std::array<std::string, 4>>& wanted,
                                          int rowToSelect) {
  const int rows = static_cast<int>(wanted.size());
  if (rows == 0 || rows != view_.RowCount()) return false;
  std::vector<std::uint32_t> slots(rows);
  std::vector<bool> seen(rows, false);
  for (int row = 0; row < rows; ++row) {
    const std::uint32_t slot = view_.RowSlot(row);
    if (slot >= static_cast<std::uint32_t>(rows) || seen[slot]) return false;
    seen[slot] = true;
    slots[row] = slot;
  }
  // A fresh list raises no row changes for its texts; neither does this one.
  const bool listEvents = listEventsEnabled_;
  listEventsEnabled_ = false;
  for (int row = 0; row < rows; ++row) {
    const auto& texts = wanted[slots[row]];
    for (int column = 0; column < 4; ++column) {
      if (view_.RowText(row, column) != texts[column]) view_.SetRowText(row, column, texts[column]);
    }
  }
  std::vector<std::uint32_t> order(rows);
  for (int slot = 0; slot < rows; ++slot) order[slot] = static_cast<std::uint32_t>(slot);
  if (slots != order) view_.ReorderRows(order);
  // The rebuilt list holds one selected row.
  for (int row = 0; row < rows; ++row) {
    if (row != rowToSelect && (view_.RowState(row) & kSelectedAndFocused))
      view_.SetRowState(row, 0, kSelectedAndFocused);
  }
  listEventsEnabled_ = listEvents;
  return true;
}

void DeviceListEditor::UpdateCountButtons() {
  if (rowCount_ <= 0) {
    view_.Enable(IDC_NEW, true);
    view_.Enable(IDC_DUPLICATE, false);
    view_.Enable(IDC_REMOVE, false);
    view_.Enable(IDC_REMOVE_ALL, false);
  } else if (rowCount_ < kSlotCount) {
    view_.Enable(IDC_NEW, true);
    view_.Enable(IDC_DUPLICATE, true);
  } else {
    view_.Enable(IDC_NEW, false);
    view_.Enable(IDC_DUPLICATE, false);
  }
}

void DeviceListEditor::EnableListCommands(bool enabled) {
  view_.Enable(IDC_NEW, enabled);
  view_.Enable(IDC_DUPLICATE, enabled);
  view_.Enable(IDC_REMOVE, enabled);
  view_.Enable(IDC_REMOVE_ALL, enabled);
}

void DeviceListEditor::TakePendingFromSlot(int slot) {
  pending_.address = model_.slot(slot).entry.ipAddress;
  pending_.portIndex = model_.slot(slot).entry.portIndex;
  view_.SetComboSelection(IDC_PORT, pending_.portIndex);
}

bool DeviceListEditor::BlankRowSelected(bool& anySelected) {
  anySelected = false;
  bool blankSelected = false;
  const int rows = view_.RowCount();
  for (int row = 0; row < rows; ++row) {
    if (!(view_.RowState(row) & EditorView::kRowSelected)) continue;
    anySelected = true;
    if (!model_.slot(view_.RowSlot(row) % kSlotCount).entry.Used()) blankSelected = true;
  }
  return blankSelected;
}

void DeviceListEditor::RefreshRemoveForSelection() {
  bool selected = false;
  const bool blankSelected = BlankRowSelected(selected);
  view_.Enable(IDC_REMOVE, selected && !blankSelected);
}

void DeviceListEditor::OnListItemChanged(int row, unsigned newState) {
  if (!listEventsEnabled_) return;
  const int slot = static_cast<int>(view_.RowSlot(row));
  if (newState == 0 || slot == currentSlot_ || slot < 0 || slot >= kSlotCount ||
      !(view_.RowState(row) & EditorView::kRowFocused)) {
    // Remove acts on the selected rows: with none, it is disabled.
    RefreshRemoveForSelection();
    return;
  }

  suppressFieldEvents_ = true;
  WorkingSlot& target = model_.slot(slot);
  CheckSlotMac(slot);
  // An unapplied port choice stays with the slot it was made for. Not while Undo
  // restores: the box then shows an entry of the table Undo has just replaced.
  const int port = view_.ComboSelection(IDC_PORT);
  if (port >= 0 && !restoring_)
    model_.slot(currentSlot_).entry.portIndex = static_cast<std::uint8_t>(port);
  currentSlot_ = slot;
  ShowEntry(false);
  RefreshApply();

  pending_.address = target.entry.ipAddress;
  pending_.portIndex = target.entry.portIndex;
  pending_.name = target.entry.deviceName;
  if (target.checkState != kCheckMacDiffers) pending_.mac = target.macBytes;

  if (target.entry.Used()) {
    if (target.checkState == kCheckMacDiffers) WriteMacFields(pending_.mac, "%02X");
    macLocked_ = target.checkState == kCheckMacEqual || target.checkState == kCheckMacDiffers;
  } else {
    macLocked_ = false;
  }
  SetMacFieldsEnabled(!macLocked_);

  bool anySelected = false;
  if (BlankRowSelected(anySelected)) {
    EnableListCommands(false);
  } else {
    EnableListCommands(true);
    UpdateCountButtons();
    RefreshRemoveForSelection();
  }
  suppressFieldEvents_ = false;
  view_.SetFocus(IDC_DEVICE_LIST);

  bool apply = false;
  const bool active = std::find(activeAddresses_.begin(), activeAddresses_.end(),
                                pending_.address) != activeAddresses_.end();
  if (!active && target.checkState == kCheckMacDiffers) apply = !MacTextMatches(pending_, target);
  view_.Enable(IDC_APPLY, apply);
}

// ---------------------------------------------------------------------------
// Table operations

void DeviceListEditor::TakeUndoSnapshot() {
  const int focused = FocusedRow();
  const int focusedRow = focused < 0 ? 0 : focused;
  model_.TakeUndoSnapshot(focusedRow,
                          view_.RowCount() > 0 ? view_.RowText(focusedRow, 0) : std::string());
  view_.Enable(IDC_UNDO, true);
}

void DeviceListEditor::PresentCurrentSlot(bool setPendingAddress) {
  WorkingSlot& slot = model_.slot(currentSlot_);
  CheckSlotMac(currentSlot_);
  if (slot.checkState == kCheckMacDiffers) {
    ShowEntry(true);
    view_.Enable(IDC_APPLY, !MacTextMatches(pending_, slot));
    SetMacFieldsEnabled(false);
  } else if (slot.checkState == kCheckMacEqual) {
    ShowEntry(false);
    SetMacFieldsEnabled(false);
  } else {
    ShowEntry(false);
    SetMacFieldsEnabled(true);
    view_.Enable(IDC_APPLY, false);
  }
  // The pending entry and the MAC lock follow what the fields now show, not the
  // entry that was current before: a MAC differing from the server's is the
  // server's, already in the pending entry.
  pending_.name = slot.entry.deviceName;
  pending_.portIndex = slot.entry.portIndex;
  if (setPendingAddress) pending_.address = slot.entry.ipAddress;
  if (slot.checkState != kCheckMacDiffers) pending_.mac = slot.macBytes;
  macLocked_ = slot.checkState == kCheckMacDiffers || slot.checkState == kCheckMacEqual;
  const int focused = FocusedRow();
  if (focused >= 0) view_.EnsureRowVisible(focused);
}

// ---------------------------------------------------------------------------
// Commands

void DeviceListEditor::New() {
  suppressFieldEvents_ = true;
  pending_.mac = MacBytes{};
  const int rows = view_.RowCount();
  if (rows > 0 && static_cast<int>(view_.RowSlot(rows - 1)) == currentSlot_ &&
      !model_.slot(currentSlot_).entry.Used()) {
    suppressFieldEvents_ = false;
    return;
  }
  {
    ListRedrawPause pause(*this);
    RebuildList(NewRowIndex(), true);
    if (EntryRowCount() > 1) SortList(EntryRowCount());
  }
  if (view_.RowCount() == 1) SetDetailFieldsEnabled(true, true);

  currentSlot_ = rowCount_ - 1;
  pending_.address = 0;
  pending_.portIndex = 0;
  view_.SetComboSelection(IDC_PORT, 0);
  pending_.name = MakeUniqueDefaultName(currentSlot_);
  view_.SetText(IDC_DEVICE_NAME, pending_.name);
  for (int octet = 1; octet <= 4; ++octet) view_.SetText(OctetId(octet), "0");
  for (int field = 1; field <= 6; ++field) view_.SetText(MacId(field), "00");

  SetMacFieldsEnabled(true);
  macLocked_ = false;
  view_.Enable(IDC_APPLY, false);
  EnableListCommands(false);
  view_.EnsureRowVisible(rowCount_ - 1);
  UpdateCountButtons();
  suppressFieldEvents_ = false;
  view_.SetFocus(IDC_DEVICE_LIST);
}

void DeviceListEditor::Duplicate() {
  const int rows = view_.RowCount();
  if (rows > 0 && static_cast<int>(view_.RowSlot(rows - 1)) == currentSlot_ &&
      !model_.slot(currentSlot_).entry.Used()) {
    return;
  }
  suppressFieldEvents_ = true;
  const WorkingSlot source = model_.slot(currentSlot_);
  // The name field shows the source's name again; a name typed before must not be
  // what Apply checks.
  pending_.name = source.entry.deviceName;
  pending_.address = source.entry.ipAddress;
  pending_.mac = source.macBytes;
  pending_.portIndex = source.entry.portIndex;
  view_.SetComboSelection(IDC_PORT, pending_.portIndex);
  for (int octet = 1; octet <= 4; ++octet) {
    view_.SetText(OctetId(octet), Decimal(OctetOf(source.entry.ipAddress, octet)));
  }
  WriteMacFields(source.macBytes, "%02x");
  view_.SetText(IDC_DEVICE_NAME, source.entry.deviceName);

  RebuildList(NewRowIndex(), true);
  currentSlot_ = rowCount_ - 1;
  model_.slot(currentSlot_).checkState = kCheckNoMacKnown;
  macLocked_ = false;
  SetMacFieldsEnabled(true);

  view_.Enable(IDC_APPLY, false);
  EnableListCommands(false);
  view_.EnsureRowVisible(rowCount_ - 1);
  suppressFieldEvents_ = false;
  view_.SetFocus(IDC_DEVICE_LIST);
  UpdateCountButtons();
}

void DeviceListEditor::Remove() {
  std::vector<int> slots;
  const int rows = view_.RowCount();
  for (int row = 0; row < rows; ++row) {
    if (view_.RowState(row) & EditorView::kRowSelected) {
      slots.push_back(static_cast<int>(view_.RowSlot(row)));
    }
  }
  // Nothing selected, nothing to remove: without this the vacated-slot step below
  // would clear slot 0.
  if (slots.empty()) {
    view_.Enable(IDC_REMOVE, false);
    return;
  }
  TakeUndoSnapshot();
  model_.SetModified();
  suppressFieldEvents_ = true;
  listEventsEnabled_ = false;
  const int count = model_.DeleteSlots(std::move(slots));

  if (currentSlot_ > 0 && (currentSlot_ == count - 1 || count == -1)) --currentSlot_;
  if (count >= 0 && count < kSlotCount) {
    ClearSlot(count);
  }

  const int focused = FocusedRow();
  std::optional<ListRedrawPause> pause(std::in_place, *this);
  RebuildList(focused < 0 ? 0 : focused, false);
  const bool rowsLeft = view_.RowCount() > 0;
  if (!rowsLeft) {
    RebuildList(0, true);
    view_.Enable(IDC_DUPLICATE, false);
    view_.Enable(IDC_REMOVE, false);
    view_.Enable(IDC_REMOVE_ALL, false);
    view_.Enable(IDC_APPLY, false);
    // A list that was full has room again.
    view_.Enable(IDC_NEW, true);
    view_.SetFocus(IDC_DEVICE_LIST);
    pending_.mac = MacBytes{};
    pending_.address = 0;
  } else if (EntryRowCount() > 1) {
    SortList(EntryRowCount());
  }
  pause.reset();

  listEventsEnabled_ = true;
  PresentCurrentSlot(true);
  suppressFieldEvents_ = false;
  if (rowsLeft) {
    view_.SetFocus(IDC_DEVICE_LIST);
    // A list that was full has room again.
    UpdateCountButtons();
  }
}

void DeviceListEditor::RemoveAll() {
  TakeUndoSnapshot();
  model_.SetModified();
  suppressFieldEvents_ = true;
  listEventsEnabled_ = false;
  model_.ClearUsedSlots();
  view_.DeleteAllRows();
  view_.SetColumnWidth(3, kListPageWidth);
  RebuildList(0, true);

  view_.Enable(IDC_DUPLICATE, false);
  listEventsEnabled_ = true;
  suppressFieldEvents_ = false;
  ShowEntry(false);
  view_.Enable(IDC_REMOVE, false);
  view_.Enable(IDC_REMOVE_ALL, false);
  view_.Enable(IDC_NEW, true);
  view_.SetFocus(IDC_DEVICE_LIST);
  pending_.mac = MacBytes{};
  // The fields show slot 0 now; an entry typed into them must not keep the removed
  // entry's port or address.
  pending_.name = model_.slot(0).entry.deviceName;
  pending_.address = model_.slot(0).entry.ipAddress;
  pending_.portIndex = model_.slot(0).entry.portIndex;
}

void DeviceListEditor::Undo() {
  if (!model_.RestoreUndo()) return;
  restoring_ = true;
  const DeviceTableModel::UndoSnapshot& undo = model_.undo();
  currentSlot_ = undo.focusedRow;
  suppressFieldEvents_ = true;
  std::optional<ListRedrawPause> pause(std::in_place, *this);
  RebuildList(currentSlot_, false);

  const int rows = view_.RowCount();
  if (rows > 0) {
    if (EntryRowCount() > 1) SortList(EntryRowCount());
    for (int row = 0; row < rows; ++row) {
      if (view_.RowText(row, 0) != undo.focusedName) continue;
      if ((view_.RowState(row) & kSelectedAndFocused) != kSelectedAndFocused) {
        for (int other = 0; other < rows; ++other) {
          if ((view_.RowState(other) & kSelectedAndFocused) == kSelectedAndFocused) {
            view_.SetRowState(other, 0, kSelectedAndFocused);
          }
        }
        view_.SetRowState(row, kSelectedAndFocused, kSelectedAndFocused);
        currentSlot_ = static_cast<int>(view_.RowSlot(row));
      }
      break;
    }
    const int focused = FocusedRow();
    if (focused >= 0) currentSlot_ = static_cast<int>(view_.RowSlot(focused));
    TakePendingFromSlot(currentSlot_);
  } else {
    pending_.mac = MacBytes{};
    pending_.address = 0;
  }
  pause.reset();
  PresentCurrentSlot(false);

  suppressFieldEvents_ = false;
  view_.Enable(IDC_UNDO, false);
  EnableListCommands(true);
  UpdateCountButtons();
  const int focused = FocusedRow();
  if (focused >= 0) view_.EnsureRowVisible(focused);
  view_.SetFocus(IDC_DEVICE_LIST);
  restoring_ = false;
}

void DeviceListEditor::Apply() {
  WaitCursor wait(view_);
  TakeUndoSnapshot();

  const std::string nameText = view_.Text(IDC_DEVICE_NAME);
  int focused = FocusedRow();
  if (focused < 0) focused = 0;
  std::vector<std::string> selectedNames;
  const int rows = view_.RowCount();
  for (int row = 0; row < rows; ++row) {
    if (!(view_.RowState(row) & EditorView::kRowSelected)) continue;
    selectedNames.push_back(row == focused ? nameText : view_.RowText(row, 0));
  }

  const int slot = currentSlot_;
  model_.slot(slot).entry.ipAddress = pending_.address;
  if (addressEdited_) {
    addressEdited_ = false;
    if (pending_.address != 0) macLocked_ = LookupMacKeepingFocus(pending_.address);
  }
  std::string macText;
  for (int field = 1; field <= 6; ++field) {
    std::string text = view_.Text(MacId(field));
    // An emptied field means 00, as it reads once it loses the focus.
    if (text.size() < 2) text.insert(0, 2 - text.size(), '0');
    macText += text;
  }
  model_.StoreApplied(slot, macText, pending_.portIndex, nameText, macLocked_);

  listEventsEnabled_ = false;
  RebuildList(focused, false);
  if (EntryRowCount() > 1) {
    SortList(EntryRowCount());
    RestoreRowStatesByName(nameText, selectedNames);
  }

  listEventsEnabled_ = true;
  EnableListCommands(true);
  UpdateCountButtons();
  const int nowFocused = FocusedRow();
  if (nowFocused >= 0) view_.EnsureRowVisible(nowFocused);
  view_.SetFocus(IDC_DEVICE_LIST);
  view_.Enable(IDC_APPLY, false);
}

// ---------------------------------------------------------------------------
// Merge after "Advanced Settings"

void DeviceListEditor::MergeAutoDetect(const WorkingTable* imported,
                                       std::span<const autodetect::ScanRow> rows) {
  TakeUndoSnapshot();
  suppressFieldEvents_ = true;

  int rowCount = rowCount_ < 0 ? 0 : rowCount_;
  const autodetect::MergeResult merged = model_.Merge(rowCount, imported, rows);
  if (merged.replaced) {
    rowCount_ = rowCount;
    currentSlot_ = 0;
    pending_.address = model_.slot(0).entry.ipAddress;
    pending_.portIndex = model_.slot(0).entry.portIndex;
  }

  if (merged.rowsMerged > 0 && merged.lastSlot >= 0) {
    const int shown = merged.lastSlot;
    if (imported) CheckSlotMac(shown);
    view_.Enable(IDC_REMOVE, true);
    view_.Enable(IDC_DUPLICATE, true);
    view_.Enable(IDC_REMOVE_ALL, true);
    RebuildList(shown, false);
    pending_.address = model_.slot(shown).entry.ipAddress;
    ShowMergedSlot(shown);
    const int focused = FocusedRow();
    if (focused >= 0) view_.EnsureRowVisible(focused);
  } else if (imported) {
    CheckSlotMac(0);
    view_.Enable(IDC_REMOVE, true);
    view_.Enable(IDC_REMOVE_ALL, true);
    RebuildList(0, false);
    if (model_.slot(0).entry.Used()) ShowMergedSlot(0);
  }
  suppressFieldEvents_ = false;
  const std::int32_t state = model_.slot(currentSlot_).checkState;
  macLocked_ = state == kCheckMacEqual || state == kCheckMacDiffers;
}

void DeviceListEditor::ShowMergedSlot(int slot) {
  currentSlot_ = slot;
  WorkingSlot& shown = model_.slot(slot);
  // The fields show this slot: the pending entry drops what was current before the
  // merge (after an import, slot 0's port).
  pending_.address = shown.entry.ipAddress;
  pending_.name = shown.entry.deviceName;
  pending_.portIndex = shown.entry.portIndex;
  if (shown.checkState == kCheckMacDiffers) {
    // The pending MAC is the server's, found by the check: shown locked, and Apply
    // takes it over, as when the dialog opens or a row is chosen.
    ShowEntry(true);
    SetDetailFieldsEnabled(true, false);
    view_.Enable(IDC_APPLY, !MacTextMatches(pending_, shown));
  } else {
    pending_.mac = shown.macBytes;
    ShowEntry(false);
    SetDetailFieldsEnabled(true, shown.checkState != kCheckMacEqual);
    view_.Enable(IDC_APPLY, false);
  }
}

// ---------------------------------------------------------------------------
// Sorting

void DeviceListEditor::SortList(int rows) {
  const int column = model_.sortColumn();
  if (column < 0 || column > 2) return;
  const int direction = model_.sortDirection(column);
  rows = std::min(rows, view_.RowCount());
  if (rows < 2) return;

  std::vector<DeviceTableModel::SortRow> order;
  order.reserve(rows);
  for (int row = 0; row < rows; ++row) {
    order.push_back(
        {direction == 0 ? std::string() : view_.RowText(row, column), view_.RowSlot(row)});
  }
  const std::vector<std::uint32_t> slots = model_.SortedSlots(std::move(order));
  if (!slots.empty()) view_.ReorderRows(slots);
}

void DeviceListEditor::RestoreRowStatesByName(const std::string& focusedName,
                                              std::vector<std::string> selectedNames) {
  const int rows = view_.RowCount();
  for (int row = 0; row < rows; ++row) {
    const std::string text = view_.RowText(row, 0);
    unsigned state = text == focusedName ? EditorView::kRowFocused : 0u;
    // Each remembered name selects one row.
    auto it = std::find(selectedNames.begin(), selectedNames.end(), text);
    if (it != selectedNames.end()) {
      state |= EditorView::kRowSelected;
      selectedNames.erase(it);
    }
    if ((view_.RowState(row) & kSelectedAndFocused) != state) {
      view_.SetRowState(row, state, kSelectedAndFocused);
    }
  }
  // The current slot follows the focus.
  const int focused = FocusedRow();
  if (focused >= 0) currentSlot_ = static_cast<int>(view_.RowSlot(focused));
  suppressFieldEvents_ = true;
  TakePendingFromSlot(currentSlot_);
  suppressFieldEvents_ = false;
}

void DeviceListEditor::OnColumnClick(int column) {
  listEventsEnabled_ = false;
  model_.ClickColumn(column);
  // The rows carry their item data, so the selection and the focus are restored by
  // slot: names may repeat. The current entry stays current, and the fields and the
  // pending entry keep what the user has typed so far.
  std::vector<std::uint32_t> selectedSlots;
  const int rows = view_.RowCount();
  for (int row = 0; row < rows; ++row) {
    if (view_.RowState(row) & EditorView::kRowSelected) selectedSlots.push_back(view_.RowSlot(row));
  }
  const int focused = FocusedRow();
  const bool anyFocused = focused >= 0;
  const std::uint32_t focusedSlot = anyFocused ? view_.RowSlot(focused) : 0;

  if (column >= 0 && column <= 2) {
    for (int c = 0; c < 3; ++c) view_.SetSortImage(c, model_.sortDirection(c));

    const int entryRows = EntryRowCount();
    if (entryRows >= 2) {
      SortList(entryRows);
      for (int row = 0; row < rows; ++row) {
        const std::uint32_t slot = view_.RowSlot(row);
        unsigned state = anyFocused && focusedSlot == slot ? EditorView::kRowFocused : 0u;
        if (std::find(selectedSlots.begin(), selectedSlots.end(), slot) != selectedSlots.end())
          state |= EditorView::kRowSelected;
        if ((view_.RowState(row) & kSelectedAndFocused) != state)
          view_.SetRowState(row, state, kSelectedAndFocused);
      }
    }
  }
  listEventsEnabled_ = true;
}

}  // namespace orvel
