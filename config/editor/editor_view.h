#pragma once
// What the device list editor needs of the main dialog's controls. Controls are
// named by their dialog ids. Writing a text, moving the focus or changing a row's
// state raises the control's own notifications again, synchronously, exactly as
// the platform's controls do; the editor's flags decide what the handlers do.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvel {

class EditorView {
 public:
  static constexpr unsigned kRowSelected = 0x2;  // LVIS_SELECTED
  static constexpr unsigned kRowFocused = 0x1;   // LVIS_FOCUSED

  virtual ~EditorView() = default;

  // Edits and the port combo box's edit part.
  virtual std::string Text(int id) = 0;
  virtual void SetText(int id, const std::string& text) = 0;
  virtual void Enable(int id, bool enabled) = 0;
  virtual bool IsEnabled(int id) = 0;
  virtual void SetFocus(int id) = 0;
  virtual int Focus() = 0;  // id of the focused control, 0 when none of the dialog's
  virtual void SelectEditText(int id, int start, int end) = 0;       // EM_SETSEL
  virtual void SelectComboEditText(int id, int start, int end) = 0;  // CB_SETEDITSEL
  virtual void SetComboSelection(int id, int index) = 0;             // CB_SETCURSEL
  virtual int ComboSelection(int id) = 0;                            // CB_GETCURSEL

  // The device list.
  virtual void DeleteAllRows() = 0;
  virtual void InsertRow(int row, const std::array<std::string, 4>& texts, std::uint32_t slot) = 0;
  virtual int RowCount() = 0;
  virtual std::string RowText(int row, int column) = 0;
  virtual void SetRowText(int row, int column, const std::string& text) = 0;
  virtual std::uint32_t RowSlot(int row) = 0;  // item data
  virtual void SetRowSlot(int row, std::uint32_t slot) = 0;
  virtual unsigned RowState(int row) = 0;  // kRowSelected | kRowFocused
  virtual void SetRowState(int row, unsigned state, unsigned mask) = 0;
  virtual int RowsPerPage() = 0;
  virtual void EnsureRowVisible(int row) = 0;
  virtual void SetColumnWidth(int column, int width) = 0;
  virtual void SetListRedraw(bool redraw) = 0;
  // Puts the rows with these item data first, in this order, and the others after
  // them in their present order. Texts, item data and states travel with their
  // rows, and no row-change notification is raised, as with the control's own sort.
  virtual void ReorderRows(const std::vector<std::uint32_t>& slots) = 0;

  // Header image of a sortable column: 0 unsorted, 1 ascending, 2 descending.
  virtual void SetSortImage(int column, int image) = 0;

  virtual void SetWaitCursor(bool waiting) = 0;
};

}  // namespace orvel
