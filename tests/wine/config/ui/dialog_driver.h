#pragma once
// Drives a real dialog of this process from a second thread, the way a user does:
// posted key and mouse messages go through the dialog's own message loop, and Sync
// waits until the dialog's thread has handled everything posted so far. Several
// drivers may run at once, one per dialog (a modal dialog over the main one).

#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/core/device_table.h"
#include "tests/doubles/recording_annotation.h"

#include "config/resources/resource.h"
#include "tests/wine/support/process_util.h"

namespace orvel::test {

inline constexpr UINT kSyncMessage = WM_APP + 0x3F0;
inline constexpr UINT kRunMessage = WM_APP + 0x3F1;
inline constexpr DWORD kDriverTimeoutMs = 20000;

class DialogDriver {
 public:
  DialogDriver(HWND dialog, DWORD uiThread) : dialog_(dialog), uiThread_(uiThread) {
    event_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    SetPropA(dialog_, kDriverProp, this);
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(dialog_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SyncProc)));
  }
  ~DialogDriver() {
    if (IsWindow(dialog_)) {
      SetWindowLongPtrA(dialog_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
      RemovePropA(dialog_, kDriverProp);
    }
    CloseHandle(event_);
  }
  DialogDriver(const DialogDriver&) = delete;
  DialogDriver& operator=(const DialogDriver&) = delete;

  HWND Window() const { return dialog_; }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }

  // Posted messages are handled in order: once this one is, all before it are.
  // A dialog that closed meanwhile handles nothing more; then there is nothing to wait for.
  void Sync() {
    PostMessageA(dialog_, kSyncMessage, 0, 0);
    const ULONGLONG deadline = GetTickCount64() + kDriverTimeoutMs;
    while (WaitForSingleObject(event_, 50) == WAIT_TIMEOUT) {
      if (!IsWindow(dialog_) || GetTickCount64() > deadline) return;
    }
  }
  // Runs `work` on the dialog's own thread, between its messages; returns once it ran.
  void OnUiThread(const std::function<void()>& work) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutA(dialog_, kRunMessage, 0, reinterpret_cast<LPARAM>(&work), SMTO_NORMAL,
                        kDriverTimeoutMs, &answer);
  }
  HWND Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(uiThread_, &info);
    return info.hwndFocus;
  }
  int FocusId() const {
    HWND focus = Focus();
    if (focus && GetParent(focus) != dialog_) focus = GetParent(focus);  // combo box edit
    return focus ? GetDlgCtrlID(focus) : 0;
  }
  // A click in the middle of a control; it returns only once the click was handled,
  // or once a modal loop it opened (a file dialog, a message box) handles messages.
  void Click(int id) {
    HWND control = Item(id);
    RECT box;
    GetClientRect(control, &box);
    ClickAt(control, box.right / 2, box.bottom / 2);
  }
  // keys adds MK_CONTROL or MK_SHIFT, as a click with Ctrl or Shift held carries them.
  void ClickAt(HWND control, int x, int y, WPARAM keys = 0) {
    const LPARAM at = MAKELPARAM(x, y);
    PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON | keys, at);
    PostMessageA(control, WM_LBUTTONUP, keys, at);
    Sync();
  }
  // Clicks a field and selects its text, the way a user starts retyping it.
  void ClickField(int id) {
    Click(id);
    PostMessageA(Item(id), EM_SETSEL, 0, -1);
    Sync();
  }
  // A key pressed and released at the focused control. The loop's TranslateMessage
  // posts the character behind the messages posted here, so a second Sync waits for it.
  void Key(UINT virtualKey) {
    HWND target = Focus();
    PostMessageA(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageA(target, WM_KEYUP, virtualKey, 0xC0000001);
    Sync();
    Sync();
  }
  // A key pressed with Alt held, as for a mnemonic ("&Start"): the system key messages,
  // which the loop translates into WM_SYSCHAR.
  void AltKey(UINT virtualKey) {
    HWND target = Focus();
    PostMessageA(target, WM_SYSKEYDOWN, virtualKey, 0x20000001);
    PostMessageA(target, WM_SYSKEYUP, virtualKey, 0xE0000001);
    Sync();
    Sync();
  }
  // Digits, small letters and "." as key presses. With shiftedDot each "." comes as
  // Shift held over the period key, the sequence of layouts (AZERTY) where "." needs
  // Shift; a posted Shift leaves the key state alone, so the character stays ".".
  void Press(const std::string& keys, bool shiftedDot = false) {
    for (char c : keys) {
      const bool dot = c == '.';
      const UINT key = dot ? VK_OEM_PERIOD : (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
      HWND target = Focus();
      if (dot && shiftedDot) PostMessageA(target, WM_KEYDOWN, VK_SHIFT, 0x002A0001);
      PostMessageA(target, WM_KEYDOWN, key, 1);
      PostMessageA(target, WM_KEYUP, key, 0xC0000001);
      if (dot && shiftedDot) PostMessageA(target, WM_KEYUP, VK_SHIFT, 0xC02A0001);
      Sync();
      Sync();
    }
  }
  // One WM_CHAR a character, as TranslateMessage makes it from a key press; the key
  // messages themselves are left out, since the dialog's loop would translate them again.
  void Type(const std::string& text) {
    for (char c : text) {
      PostMessageA(Focus(), WM_CHAR, static_cast<unsigned char>(c), 1);
      Sync();
    }
  }
  std::string Text(int id) const {
    char text[256] = {};
    GetWindowTextA(Item(id), text, sizeof(text));
    return text;
  }
  std::string Address() const {
    return Text(IDC_OCTET1) + "." + Text(IDC_OCTET2) + "." + Text(IDC_OCTET3) + "." +
           Text(IDC_OCTET4);
  }
  std::string Mac() const {
    std::string mac;
    for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) mac += Text(id);
    return mac;
  }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  int Rows(int listId = IDC_DEVICE_LIST) const { return ListView_GetItemCount(Item(listId)); }
  std::string RowText(int row, int column, int listId = IDC_DEVICE_LIST) const {
    char text[256] = {};
    ListView_GetItemText(Item(listId), row, column, text, sizeof(text));
    return text;
  }
  // A click near the left end of a row: in the first column, where the row's image is.
  void ClickRow(int row, int listId) {
    HWND list = Item(listId);
    RECT item{};
    item.left = LVIR_BOUNDS;
    SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&item));
    ClickAt(list, item.left + 8, (item.top + item.bottom) / 2);
  }
  void SelectRow(int row) { ClickRow(row, IDC_DEVICE_LIST); }
  // Item data of the focused row and of the selected rows, in row order; -1 when none.
  int FocusedSlot() const {
    HWND list = Item(IDC_DEVICE_LIST);
    const int row = ListView_GetNextItem(list, -1, LVNI_FOCUSED);
    return row < 0 ? -1 : static_cast<int>(RowData(row));
  }
  std::vector<int> SelectedSlots() const {
    std::vector<int> slots;
    HWND list = Item(IDC_DEVICE_LIST);
    for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(list, row, LVNI_SELECTED)) {
      slots.push_back(static_cast<int>(RowData(row)));
    }
    return slots;
  }
  LPARAM RowData(int row) const {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    SendMessageA(Item(IDC_DEVICE_LIST), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return item.lParam;
  }
  // A click on a header item of the device list.
  void ClickHeader(int column) {
    HWND header = ListView_GetHeader(Item(IDC_DEVICE_LIST));
    RECT box{};
    SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&box));
    ClickAt(header, (box.left + box.right) / 2, (box.top + box.bottom) / 2);
  }
  bool DialogOpen() const { return IsWindow(dialog_) && IsWindowVisible(dialog_); }

 private:
  static constexpr char kDriverProp[] = "orvel.test.DialogDriver";

  static LRESULT CALLBACK SyncProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = static_cast<DialogDriver*>(GetPropA(window, kDriverProp));
    if (!self) return DefWindowProcA(window, message, wParam, lParam);
    if (message == kSyncMessage) {
      SetEvent(self->event_);
      return 0;
    }
    if (message == kRunMessage) {
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return 0;
    }
    return CallWindowProcA(self->previous_, window, message, wParam, lParam);
  }

  HWND dialog_;
  DWORD uiThread_;
  HANDLE event_;
  WNDPROC previous_ = nullptr;
};

struct ThreadWindowSearch {
  const std::function<bool(HWND)>* pick;
  HWND found;
};

inline BOOL CALLBACK VisitThreadWindow(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<ThreadWindowSearch*>(data);
  if (IsWindowVisible(window) && (*search->pick)(window)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A visible top-level window of the thread that the predicate picks, waiting up to
// timeoutMs for it to appear; nullptr when none did.
inline HWND FindThreadWindow(DWORD thread, const std::function<bool(HWND)>& pick,
                             DWORD timeoutMs = kDriverTimeoutMs) {
  ThreadWindowSearch search{&pick, nullptr};
  WaitUntil(
      [&] {
        EnumThreadWindows(thread, VisitThreadWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

inline std::string WindowTitle(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof(text));
  return text;
}

// --- What a screen reader is given

// The calling thread in a single-threaded apartment for its lifetime, as the program's
// dialog thread is.
struct ComApartment {
  ComApartment() : joined(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComApartment() {
    if (SUCCEEDED(joined)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  HRESULT joined;
};

struct FocusableSearch {
  HWND dialog;
  std::vector<HWND> controls;
};

inline BOOL CALLBACK CollectFocusable(HWND child, LPARAM data) {
  auto* search = reinterpret_cast<FocusableSearch*>(data);
  HWND parent = GetParent(child);
  char parentKind[16] = {};
  GetClassNameA(parent, parentKind, sizeof(parentKind));
  if (parent == search->dialog ? (GetWindowLongA(child, GWL_STYLE) & WS_TABSTOP) != 0
                               : lstrcmpiA(parentKind, "ComboBox") == 0) {
    search->controls.push_back(child);
  }
  return TRUE;
}

// Every control of a dialog that takes the focus, enabled or not: the children with a
// tab stop, and the edit inside a combo box, which holds the box's focus.
inline std::vector<HWND> FocusableControls(HWND dialog) {
  FocusableSearch search{dialog, {}};
  EnumChildWindows(dialog, CollectFocusable, reinterpret_cast<LPARAM>(&search));
  return search.controls;
}

// The name the platform's accessibility proxy gives a window or one of its elements
// (a list row is element row + 1); call it on the window's thread.
inline std::wstring AccessibleName(HWND window, long element = CHILDID_SELF) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                        __uuidof(IAccessible),
                                        reinterpret_cast<void**>(&object))) ||
      !object) {
    return L"";
  }
  VARIANT child;
  VariantInit(&child);
  child.vt = VT_I4;
  child.lVal = element;
  BSTR name = nullptr;
  std::wstring text;
  if (SUCCEEDED(object->get_accName(child, &name)) && name) text = name;
  SysFreeString(name);
  object->Release();
  return text;
}

// A string of the program's table, with "%s" replaced by detail, as the annotation
// puts it together.
inline std::wstring TableText(unsigned id, const std::string& detail = {}) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleA(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  std::wstring value = length > 0 && text ? std::wstring(text, length) : L"";
  if (const std::size_t at = value.find(L"%s"); at != std::wstring::npos)
    value.replace(at, 2, std::wstring(detail.begin(), detail.end()));
  return value;
}

// A name says something only with a letter or a digit in it (any non-ASCII character
// counts as one): "." or ", " is no name.
inline bool SaysSomething(const std::wstring& name) {
  for (wchar_t c : name) {
    if (c >= 0x80 || iswalnum(c)) return true;
  }
  return false;
}

// The name a control that takes the focus is given: the text the annotation double
// recorded for it, or the one the platform's proxy gives (a button's caption).
struct ControlName {
  int id;  // the dialog's control; the edit inside a combo box counts as the box
  std::optional<testing::RecordingAnnotation::Text> annotated;
  std::wstring proxyName;
  std::string caption;  // without its "&"
};

// Call on the dialog's thread (DialogDriver::OnUiThread).
inline std::vector<ControlName> ControlNames(HWND dialog,
                                             const testing::RecordingAnnotation& names) {
  std::vector<ControlName> seen;
  for (HWND control : FocusableControls(dialog)) {
    HWND owner = GetParent(control) == dialog ? control : GetParent(control);
    std::string caption = WindowTitle(control);
    caption.erase(std::remove(caption.begin(), caption.end(), '&'), caption.end());
    seen.push_back({GetDlgCtrlID(owner), names.Name(reinterpret_cast<std::uintptr_t>(control)),
                    AccessibleName(control), caption});
  }
  return seen;
}

struct NameWant {
  int id;
  unsigned text;  // 0: a button, named by its caption
};

// Every control seen is in the table with the name it wants; each name says something,
// and no two controls share one.
inline void ExpectNames(const std::vector<ControlName>& seen, const std::vector<NameWant>& wants) {
  std::map<int, std::wstring> spoken;
  for (const ControlName& s : seen) {
    SCOPED_TRACE(s.id);
    const auto want =
        std::find_if(wants.begin(), wants.end(), [&](const NameWant& w) { return w.id == s.id; });
    ASSERT_NE(want, wants.end()) << "a control that takes the focus is missing from the table";
    std::wstring name;
    if (want->text == 0) {
      EXPECT_FALSE(s.annotated);
      name = s.proxyName;
      EXPECT_EQ(name, std::wstring(s.caption.begin(), s.caption.end()));
    } else {
      ASSERT_TRUE(s.annotated);
      EXPECT_EQ(s.annotated->text, want->text);
      name = TableText(s.annotated->text, s.annotated->detail);
    }
    EXPECT_TRUE(SaysSomething(name));
    if (spoken.count(s.id)) {
      EXPECT_EQ(spoken[s.id], name);  // a combo box and its edit
    }
    spoken[s.id] = name;
  }
  EXPECT_EQ(spoken.size(), wants.size());
  std::set<std::wstring> distinct;
  for (const auto& [id, name] : spoken) distinct.insert(name);
  EXPECT_EQ(distinct.size(), spoken.size()) << "two controls share a name";
}

// --- How the lists lay out their texts

inline std::string Joined(std::initializer_list<std::string> parts) {
  std::string joined;
  for (const std::string& part : parts) joined += part;
  return joined;
}

inline int DpiOf(HWND window) {
  HDC dc = GetDC(window);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(window, dc);
  return dpi;
}

// The widest of the texts that repeat one character of `places` in each of the places
// where `form` holds one ("0123456789" in " 255.  255.  255.  255").
inline int WidestForm(HWND list, const std::string& form, const char* places) {
  int widest = 0;
  for (const char* c = places; *c; ++c) {
    std::string text = form;
    for (char& t : text) {
      if (std::strchr(places, t)) t = *c;
    }
    widest = std::max(widest, ListView_GetStringWidth(list, text.c_str()));
  }
  return widest;
}

// What the header needs to show a title whole: the text in the header's font, the
// header's margins either side of it and of a sort mark, and the item's edges.
inline int TitleNeed(HWND header, const char* title, int mark) {
  HDC dc = GetDC(header);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(header, WM_GETFONT, 0, 0)));
  SIZE text{};
  GetTextExtentPoint32A(dc, title, static_cast<int>(std::strlen(title)), &text);
  SelectObject(dc, old);
  ReleaseDC(header, dc);
  const int margin = static_cast<int>(SendMessageA(header, HDM_GETBITMAPMARGIN, 0, 0));
  return text.cx + 2 * margin + (mark > 0 ? mark + 2 * margin : 0) +
         2 * GetSystemMetrics(SM_CXEDGE);
}

// Each column of the two lists against what it shows, in the font the list really has:
// every address, MAC and port a cell can hold, and the title with the sort mark beside
// it. A column is at least as wide as that needs, beside the scroll bar too, and no
// wider than its designed width (scaled) or that need; all columns fit in the list.
// Names are cut with an ellipsis as designed. The pictures are at the DPI's size. A text
// that does not fit goes to `cut`, every other fault to `faults`.
inline void CheckList(HWND list, std::vector<std::string>& cut, std::vector<std::string>& faults) {
  struct Column {
    const char* title;
    int width;  // designed, at 96 DPI; the last column's without the scroll bar
    std::string form;
    const char* places;
  };
  struct Columns {
    int id;
    std::vector<Column> columns;
    int narrowLast;  // the last column beside the scroll bar
    bool sortMarks;  // on the first three titles
    int imageList;   // LVSIL_SMALL, or -1 for the header's sort marks
  };
  const std::string address = AddressColumnText(0xFFFFFFFFu);
  const std::string mac = "FF FF FF FF FF FF";
  const Columns kLists[] = {
      {IDC_AD_RESULTS,
       {{"Add", 36, "", ""},
        {"Device IP Address", 115, address, "0123456789"},
        {"Device Name", 95, "", ""},
        {"Device MAC Address", 140, mac, "0123456789ABCDEF"}},
       123,
       false,
       LVSIL_SMALL},
      {IDC_DEVICE_LIST,
       {{"Device Name", 110, "", ""},
        {"Device IP Address", 136, address, "0123456789"},
        {"Device MAC Address", 150, mac, "0123456789ABCDEF"},
        {"Device Port No.", 114, "16", "0123456789"}},
       97,
       true,
       -1},
  };
  const std::string where = std::to_string(GetDlgCtrlID(list));
  const int dpi = DpiOf(list);
  auto scale = [&](int pixels) { return MulDiv(pixels, dpi, 96); };
  HWND header = ListView_GetHeader(list);
  for (const Columns& c : kLists) {
    if (c.id != GetDlgCtrlID(list)) continue;
    const bool scrollBar = (GetWindowLongA(list, GWL_STYLE) & WS_VSCROLL) != 0;
    RECT client{};
    GetClientRect(list, &client);
    int total = 0;
    const int count = static_cast<int>(c.columns.size());
    for (int i = 0; i < count; ++i) {
      const Column& column = c.columns[static_cast<std::size_t>(i)];
      int need = TitleNeed(header, column.title, c.sortMarks && i < 3 ? scale(16) : 0);
      if (!column.form.empty())
        need = std::max(need, WidestForm(list, column.form, column.places) + scale(12));
      const bool last = i == count - 1;
      const int designed = scale(last && scrollBar ? c.narrowLast : column.width);
      // The last column gives way to the scroll bar by the same pixels, whether it shows.
      const int giveWay = last && !scrollBar ? scale(column.width) - scale(c.narrowLast) : 0;
      const int has = ListView_GetColumnWidth(list, i);
      total += has;
      const std::string what = Joined({where, " column ", std::to_string(i), " (", column.title,
                                       ") needs ", std::to_string(need), ", designed ",
                                       std::to_string(designed), ", has ", std::to_string(has)});
      if (has < need + giveWay) cut.push_back(what + ": too narrow");
      if (has > std::max(designed, need + giveWay)) faults.push_back(what + ": wider than needed");
    }
    if (total > client.right)
      faults.push_back(Joined(
          {where, " columns take ", std::to_string(total), " of ", std::to_string(client.right)}));
    HIMAGELIST images =
        c.imageList < 0 ? reinterpret_cast<HIMAGELIST>(SendMessageA(header, HDM_GETIMAGELIST, 0, 0))
                        : ListView_GetImageList(list, c.imageList);
    int cx = 0, cy = 0;
    ImageList_GetIconSize(images, &cx, &cy);
    const int size = scale(16);
    if (cx != size || cy != size)
      faults.push_back(Joined({where, " pictures ", std::to_string(cx), "x", std::to_string(cy),
                               ", not ", std::to_string(size)}));
  }
}

}  // namespace orvel::test
