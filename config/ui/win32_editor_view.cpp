#include "config/ui/win32_editor_view.h"

#include <commctrl.h>

#include <vector>

#include "config/autodetect/autodetect_ids.h"
#include "config/core/configure_app.h"
#include "config/editor/field_rules.h"
#include "config/resources/resource.h"
#include "config/ui/win32_controls.h"

namespace orvel::ui {
namespace {

// The portable rules carry copies of Windows' values; the headers must agree with them.
static_assert(EditorView::kRowSelected == LVIS_SELECTED && EditorView::kRowFocused == LVIS_FOCUSED);
static_assert(kDialogResultOk == IDOK && autodetect::kIdAddToList == IDOK &&
              autodetect::kIdCancel == IDCANCEL);
static_assert(KeyKeepsDotState(VK_OEM_PERIOD) && KeyKeepsDotState(VK_DECIMAL) &&
              KeyKeepsDotState(VK_SHIFT) && KeyKeepsDotState(VK_CONTROL) &&
              KeyKeepsDotState(VK_MENU) && KeyKeepsDotState(VK_LSHIFT) &&
              KeyKeepsDotState(VK_RMENU) && KeyKeepsDotState(VK_PROCESSKEY) &&
              !KeyKeepsDotState(VK_LWIN) && !KeyKeepsDotState(VK_OEM_COMMA) &&
              !KeyKeepsDotState('7'));

// Names read from a file may be as long as a profile value.
constexpr int kRowTextCapacity = 4096;

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(window, buffer.data(), length + 1);
  return std::string(buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

}  // namespace

const int Win32EditorView::kListId = IDC_DEVICE_LIST;

HWND Win32EditorView::Control(int id) {
  if (auto found = controls_.find(id); found != controls_.end()) return found->second;
  HWND control = GetDlgItem(dialog_, id);
  if (control) controls_.emplace(id, control);
  return control;
}

std::string Win32EditorView::Text(int id) { return WindowText(Control(id)); }

void Win32EditorView::SetText(int id, const std::string& text) {
  SetWindowTextA(Control(id), text.c_str());
}

void Win32EditorView::Enable(int id, bool enabled) { EnableWindow(Control(id), enabled); }

bool Win32EditorView::IsEnabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }

void Win32EditorView::SetFocus(int id) { ::SetFocus(Control(id)); }

int Win32EditorView::Focus() {
  HWND focus = GetFocus();
  // The port combo box's edit part stands for the combo box itself.
  for (HWND window = focus; window && window != dialog_; window = GetParent(window)) {
    if (GetParent(window) == dialog_) return GetDlgCtrlID(window);
  }
  return 0;
}

void Win32EditorView::SelectEditText(int id, int start, int end) {
  SendMessageA(Control(id), EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void Win32EditorView::SelectComboEditText(int id, int start, int end) {
  SendMessageA(Control(id), CB_SETEDITSEL, 0, MAKELPARAM(start, end));
}

void Win32EditorView::SetComboSelection(int id, int index) {
  SendMessageA(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32EditorView::ComboSelection(int id) {
  return static_cast<int>(SendMessageA(Control(id), CB_GETCURSEL, 0, 0));
}

void Win32EditorView::DeleteAllRows() { ListView_DeleteAllItems(List()); }

void Win32EditorView::InsertRow(int row, const std::array<std::string, 4>& texts,
                                std::uint32_t slot) {
  LVITEMA item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = row;
  item.pszText = const_cast<char*>(texts[0].c_str());
  item.lParam = static_cast<LPARAM>(slot);
  const int inserted =
      static_cast<int>(SendMessageA(List(), LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
  if (inserted < 0) return;
  for (int column = 1; column < 4; ++column) SetRowText(inserted, column, texts[column]);
}

int Win32EditorView::RowCount() { return ListView_GetItemCount(List()); }

std::string Win32EditorView::RowText(int row, int column) {
  std::vector<char> buffer(kRowTextCapacity, '\0');
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = buffer.data();
  item.cchTextMax = kRowTextCapacity;
  const int length = static_cast<int>(SendMessageA(
      List(), LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)));
  return std::string(buffer.data(), length > 0 ? static_cast<std::size_t>(length) : 0);
}

void Win32EditorView::SetRowText(int row, int column, const std::string& text) {
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = const_cast<char*>(text.c_str());
  SendMessageA(List(), LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::uint32_t Win32EditorView::RowSlot(int row) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  SendMessageA(List(), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
  return static_cast<std::uint32_t>(item.lParam);
}

void Win32EditorView::SetRowSlot(int row, std::uint32_t slot) {
  LVITEMA item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = static_cast<LPARAM>(slot);
  SendMessageA(List(), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

unsigned Win32EditorView::RowState(int row) {
  return static_cast<unsigned>(ListView_GetItemState(List(), row, LVIS_SELECTED | LVIS_FOCUSED));
}

void Win32EditorView::SetRowState(int row, unsigned state, unsigned mask) {
  ListView_SetItemState(List(), row, state, mask);
}

int Win32EditorView::RowsPerPage() { return ListView_GetCountPerPage(List()); }

void Win32EditorView::EnsureRowVisible(int row) { ListView_EnsureVisible(List(), row, FALSE); }

void Win32EditorView::SetColumnWidth(int column, int width) {
  const int extra = column >= 0 && column < static_cast<int>(columnExtra_.size())
                        ? columnExtra_[static_cast<std::size_t>(column)]
                        : 0;
  ListView_SetColumnWidth(List(), column, ScaleForDpi(List(), width) + extra);
}

void Win32EditorView::SetListRedraw(bool redraw) {
  SendMessageA(List(), WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
  if (redraw) InvalidateRect(List(), nullptr, TRUE);
}

namespace {

using RowRanks = std::map<LPARAM, std::size_t>;

int CALLBACK CompareRanks(LPARAM first, LPARAM second, LPARAM ranks) {
  const auto& rank = *reinterpret_cast<const RowRanks*>(ranks);
  const std::size_t a = rank.at(first), b = rank.at(second);
  return a < b ? -1 : a > b ? 1 : 0;
}

}  // namespace

// The control moves its own items in one message; rewriting the cells instead costs
// a message and an invalidation per cell. Every row has a distinct rank, so the
// control's sort, stable or not, gives exactly the requested order.
void Win32EditorView::ReorderRows(const std::vector<std::uint32_t>& slots) {
  RowRanks ranks;
  for (std::size_t i = 0; i < slots.size(); ++i) ranks.emplace(static_cast<LPARAM>(slots[i]), i);
  const int rows = RowCount();
  for (int row = 0; row < rows; ++row) {
    ranks.emplace(static_cast<LPARAM>(RowSlot(row)), slots.size() + static_cast<std::size_t>(row));
  }
  SendMessageA(List(), LVM_SORTITEMS, reinterpret_cast<WPARAM>(&ranks),
               reinterpret_cast<LPARAM>(&CompareRanks));
}

void Win32EditorView::SetSortImage(int column, int image) {
  HWND header = ListView_GetHeader(List());
  HDITEMA item = {};
  item.mask = HDI_FORMAT | HDI_IMAGE;
  item.fmt = HDF_STRING | HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
  item.iImage = image;
  SendMessageA(header, HDM_SETITEMA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&item));
}

void Win32EditorView::SetWaitCursor(bool waiting) {
  if (waiting) {
    if (waitDepth_++ == 0) savedCursor_ = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  } else if (waitDepth_ > 0 && --waitDepth_ == 0) {
    SetCursor(savedCursor_);
  }
}

}  // namespace orvel::ui
