#pragma once
// The main dialog's controls in memory. Like the real controls, writing a field's
// text, moving the focus and changing a row raise the notifications the dialog
// routes to the editor, synchronously and in the platform's order.

#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "config/editor/device_list_editor.h"
#include "config/editor/editor_view.h"
#include "config/resources/resource.h"

namespace orvel::testing {

class FakeEditorView : public EditorView {
 public:
  struct Control {
    std::string text;
    bool enabled = true;
    int selStart = 0, selEnd = 0;
    int limit = 0;  // 0 = none
    bool upperCase = false;
  };
  struct Row {
    std::array<std::string, 4> texts;
    std::uint32_t slot = 0;
    unsigned state = 0;
  };

  FakeEditorView() {
    for (int id : {IDC_DEVICE_LIST, IDC_NEW, IDC_DUPLICATE, IDC_REMOVE, IDC_REMOVE_ALL, IDC_UNDO,
                   IDC_APPLY, IDC_ADVANCED, IDC_LABEL_NAME, IDC_LABEL_ADDRESS, IDC_LABEL_MAC,
                   IDC_LABEL_PORT, IDC_PORT, 1, 2}) {
      controls[id];
    }
    controls[IDC_DEVICE_NAME].limit = kNameLimit;
    for (int id = IDC_OCTET1; id <= IDC_OCTET4; ++id) controls[id].limit = kOctetLimit;
    for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) {
      controls[id].limit = kMacFieldLimit;
      controls[id].upperCase = true;
    }
  }

  DeviceListEditor* editor = nullptr;

  // --- EditorView
  std::string Text(int id) override { return controls[id].text; }
  void SetText(int id, const std::string& text) override {
    ++textWrites;
    Control& c = controls[id];
    c.text = c.upperCase ? Upper(text) : text;
    c.selStart = c.selEnd = 0;
    if (id != IDC_PORT) RaiseEditChange(id);
  }
  void Enable(int id, bool enabled) override { controls[id].enabled = enabled; }
  bool IsEnabled(int id) override { return controls[id].enabled; }
  void SetFocus(int id) override {
    if (id == focus || !controls[id].enabled) return;
    const int previous = focus;
    focus = id;
    if (previous) RaiseKillFocus(previous);
    if (focus != id) return;  // the old control's handler moved it on
    RaiseSetFocus(id);
  }
  int Focus() override { return focus; }
  void SelectEditText(int id, int start, int end) override {
    Control& c = controls[id];
    const int size = static_cast<int>(c.text.size());
    if (start < 0) {
      c.selStart = c.selEnd = size;  // EM_SETSEL -1: no selection
      return;
    }
    c.selStart = std::min(start, size);
    c.selEnd = end < 0 ? size : std::min(end, size);
  }
  void SelectComboEditText(int id, int start, int end) override { SelectEditText(id, start, end); }
  void SetComboSelection(int id, int index) override {
    comboSelection = index;
    controls[id].text = index >= 0 && index < kPortCount ? std::to_string(index + 1) : "";
  }
  int ComboSelection(int) override { return comboSelection; }

  void DeleteAllRows() override { rows.clear(); }
  void InsertRow(int row, const std::array<std::string, 4>& texts, std::uint32_t slot) override {
    ++rowWrites;
    if (row > static_cast<int>(rows.size())) row = static_cast<int>(rows.size());
    rows.insert(rows.begin() + row, Row{texts, slot, 0});
  }
  int RowCount() override { return static_cast<int>(rows.size()); }
  std::string RowText(int row, int column) override { return rows.at(row).texts[column]; }
  void SetRowText(int row, int column, const std::string& text) override {
    ++rowWrites;
    rows.at(row).texts[column] = text;
    Notify(row);
  }
  std::uint32_t RowSlot(int row) override { return rows.at(row).slot; }
  void SetRowSlot(int row, std::uint32_t slot) override {
    ++rowWrites;
    rows.at(row).slot = slot;
    Notify(row);
  }
  unsigned RowState(int row) override { return rows.at(row).state; }
  void SetRowState(int row, unsigned state, unsigned mask) override {
    ++rowWrites;
    Row& r = rows.at(row);
    const unsigned updated = (r.state & ~mask) | (state & mask);
    if (updated == r.state) return;
    if (updated & kRowFocused) {
      // One row holds the focus; the row that loses it is told first.
      for (int other = 0; other < RowCount(); ++other) {
        if (other != row && (rows[other].state & kRowFocused)) {
          rows[other].state &= ~kRowFocused;
          Notify(other);
        }
      }
    }
    r.state = updated;
    Notify(row);
  }
  int RowsPerPage() override { return rowsPerPage; }
  void EnsureRowVisible(int row) override { lastVisibleRow = row; }
  void SetColumnWidth(int column, int width) override { columnWidths[column] = width; }
  void SetListRedraw(bool redraw) override { redrawOn = redraw; }
  void ReorderRows(const std::vector<std::uint32_t>& slots) override {
    ++reorders;
    std::vector<Row> reordered;
    std::vector<bool> moved(rows.size(), false);
    for (std::uint32_t slot : slots) {
      for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!moved[i] && rows[i].slot == slot) {
          reordered.push_back(rows[i]);
          moved[i] = true;
          break;
        }
      }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (!moved[i]) reordered.push_back(rows[i]);
    }
    rows = std::move(reordered);
  }
  void SetSortImage(int column, int image) override { sortImages[column] = image; }
  void SetWaitCursor(bool waiting) override { waitDepth += waiting ? 1 : -1; }

  // --- What the user does
  // Types characters into the focused control, one input message each.
  void Type(const std::string& keys) {
    for (char key : keys) TypeChar(key);
  }
  void Click(int id) {
    if (editor) editor->BeginInputMessage();
    SetFocus(id);
  }
  // A click on a list row: it alone becomes selected and focused.
  void ClickRow(int row) {
    if (editor) editor->BeginInputMessage();
    SetFocus(IDC_DEVICE_LIST);
    for (int other = 0; other < RowCount(); ++other) {
      if (other != row && rows[other].state & kRowSelected) SetRowState(other, 0, kRowSelected);
    }
    SetRowState(row, kRowSelected | kRowFocused, kRowSelected | kRowFocused);
  }
  // Ctrl+click: adds the row to the selection and gives it the focus.
  void CtrlClickRow(int row) {
    if (editor) editor->BeginInputMessage();
    SetFocus(IDC_DEVICE_LIST);
    SetRowState(row, kRowSelected | kRowFocused, kRowSelected | kRowFocused);
  }
  void PickPort(int index) {
    SetComboSelection(IDC_PORT, index);
    if (editor) editor->OnPortSelChange();
  }
  std::vector<std::string> Column(int column) const {
    std::vector<std::string> texts;
    for (const Row& r : rows) texts.push_back(r.texts[column]);
    return texts;
  }
  std::string Address() {
    return Text(IDC_OCTET1) + "." + Text(IDC_OCTET2) + "." + Text(IDC_OCTET3) + "." +
           Text(IDC_OCTET4);
  }
  std::string Mac() {
    std::string mac;
    for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) mac += Text(id);
    return mac;
  }

  std::map<int, Control> controls;
  int focus = 0;
  int comboSelection = 0;
  std::vector<Row> rows;
  int rowsPerPage = 10;
  int lastVisibleRow = -1;
  std::map<int, int> columnWidths;
  std::map<int, int> sortImages;
  bool redrawOn = true;
  int waitDepth = 0;
  int textWrites = 0;
  int rowWrites = 0;
  int reorders = 0;
  int beeps = 0;

 private:
  static std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  }
  static unsigned VirtualKey(char key) {
    if (key == '.') return 0xBE;
    if (key >= 'a' && key <= 'z') return static_cast<unsigned>(key - 'a' + 'A');
    return static_cast<unsigned char>(key);
  }
  void TypeChar(char key) {
    if (editor) {
      editor->BeginInputMessage();
      editor->OnKeyDown(VirtualKey(key));
      if (editor->OnChar(focus, key)) return;
    }
    if (!focus) return;
    Control& c = controls[focus];
    const int selected = c.selEnd - c.selStart;
    if (c.limit && static_cast<int>(c.text.size()) - selected >= c.limit) {
      ++beeps;
      return;
    }
    const char typed =
        c.upperCase ? static_cast<char>(std::toupper(static_cast<unsigned char>(key))) : key;
    c.text.replace(c.selStart, selected, 1, typed);
    c.selStart = c.selEnd = c.selStart + 1;
    if (focus == IDC_PORT) {
      if (editor) editor->OnPortEditUpdate();
    } else {
      RaiseEditChange(focus);
    }
  }
  void RaiseEditChange(int id) {
    if (!editor) return;
    if (id >= IDC_OCTET1 && id <= IDC_OCTET4) editor->OnOctetUpdate(id - IDC_OCTET1 + 1);
    if (id >= IDC_MAC1 && id <= IDC_MAC6) editor->OnMacUpdate(id - IDC_MAC1 + 1);
    if (id == IDC_DEVICE_NAME) editor->OnNameChange();
  }
  void RaiseKillFocus(int id) {
    if (!editor) return;
    if (id >= IDC_OCTET1 && id <= IDC_OCTET4) editor->OnOctetKillFocus(id - IDC_OCTET1 + 1);
    if (id >= IDC_MAC1 && id <= IDC_MAC6) editor->OnMacKillFocus(id - IDC_MAC1 + 1);
  }
  void RaiseSetFocus(int id) {
    if (!editor) return;
    if (id >= IDC_OCTET1 && id <= IDC_OCTET4) editor->OnOctetSetFocus(id - IDC_OCTET1 + 1);
    if (id == IDC_DEVICE_NAME || id == IDC_PORT || (id >= IDC_MAC1 && id <= IDC_MAC6)) {
      editor->OnLookupFieldSetFocus();
    }
  }
  void Notify(int row) {
    if (editor) editor->OnListItemChanged(row, rows[row].state);
  }
};

}  // namespace orvel::testing
