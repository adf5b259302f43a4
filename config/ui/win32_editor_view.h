#pragma once
// The editor's view over the main dialog's real controls. Writing a text or a
// row state here raises the controls' own notifications, which come back to the
// editor through the dialog's message map.

#include <windows.h>

#include <map>
#include <vector>

#include "config/editor/editor_view.h"

namespace orvel::ui {

class Win32EditorView : public EditorView {
 public:
  explicit Win32EditorView(HWND dialog = nullptr) : dialog_(dialog) {}
  void Attach(HWND dialog) {
    dialog_ = dialog;
    controls_.clear();
    columnExtra_.clear();
  }
  // The pixels each list column got beyond its designed width to show its texts whole;
  // every width the editor sets keeps them.
  void SetColumnExtra(std::vector<int> extra) { columnExtra_ = std::move(extra); }

  std::string Text(int id) override;
  void SetText(int id, const std::string& text) override;
  void Enable(int id, bool enabled) override;
  bool IsEnabled(int id) override;
  void SetFocus(int id) override;
  int Focus() override;
  void SelectEditText(int id, int start, int end) override;
  void SelectComboEditText(int id, int start, int end) override;
  void SetComboSelection(int id, int index) override;
  int ComboSelection(int id) override;

  void DeleteAllRows() override;
  void InsertRow(int row, const std::array<std::string, 4>& texts, std::uint32_t slot) override;
  int RowCount() override;
  std::string RowText(int row, int column) override;
  void SetRowText(int row, int column, const std::string& text) override;
  std::uint32_t RowSlot(int row) override;
  void SetRowSlot(int row, std::uint32_t slot) override;
  unsigned RowState(int row) override;
  void SetRowState(int row, unsigned state, unsigned mask) override;
  int RowsPerPage() override;
  void EnsureRowVisible(int row) override;
  void SetColumnWidth(int column, int width) override;
  void SetListRedraw(bool redraw) override;
  void ReorderRows(const std::vector<std::uint32_t>& slots) override;
  void SetSortImage(int column, int image) override;
  void SetWaitCursor(bool waiting) override;

 private:
  // GetDlgItem asks the window manager every time (under Wine, a server round
  // trip that costs more than the list message itself); the controls live as long
  // as the dialog.
  HWND Control(int id);
  HWND List() { return Control(kListId); }

  static const int kListId;
  HWND dialog_;
  std::map<int, HWND> controls_;
  std::vector<int> columnExtra_;
  int waitDepth_ = 0;
  HCURSOR savedCursor_ = nullptr;
};

}  // namespace orvel::ui
