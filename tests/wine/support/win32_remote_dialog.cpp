#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <memory>

#include "tests/wine/support/process_util.h"
#include "tests/wine/support/remote_dialog.h"

namespace orvel::test {
namespace {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr) CloseHandle(h);
  }
};

// The bounds of a list-view row. The rectangle has to live in the list's own process,
// since the message carries only its address there.
bool RemoteItemRect(HWND list, int row, RECT* bounds) {
  DWORD processId = 0;
  GetWindowThreadProcessId(list, &processId);
  std::unique_ptr<void, HandleCloser> process(
      OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
  if (!process) return false;
  void* remote = VirtualAllocEx(process.get(), nullptr, sizeof(RECT), MEM_COMMIT | MEM_RESERVE,
                                PAGE_READWRITE);
  if (!remote) return false;
  RECT rect{};
  rect.left = LVIR_BOUNDS;
  bool ok = WriteProcessMemory(process.get(), remote, &rect, sizeof rect, nullptr) &&
            SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote)) &&
            ReadProcessMemory(process.get(), remote, bounds, sizeof *bounds, nullptr);
  VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
  return ok;
}

struct DialogSearch {
  const char* title;
  int childId;
  HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  char text[256] = {};
  GetClassNameA(window, text, sizeof text);
  if (lstrcmpA(text, "#32770") != 0) return TRUE;
  text[0] = '\0';
  // WM_GETTEXT crosses process boundaries; GetWindowText would not ask the window.
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  if ((search->title != nullptr && lstrcmpA(text, search->title) != 0) ||
      GetDlgItem(window, search->childId) == nullptr) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

}  // namespace

void RemoteDialog::Click(int id) const {
  HWND control = Item(id);
  RECT box{};
  GetClientRect(control, &box);
  ClickAt(control, box.right / 2, box.bottom / 2);
}

void RemoteDialog::ClickAt(HWND control, int x, int y) {
  const LPARAM at = MAKELPARAM(x, y);
  PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageA(control, WM_LBUTTONUP, 0, at);
}

void RemoteDialog::ClickField(int id) const {
  Click(id);
  PostMessageA(Item(id), EM_SETSEL, 0, -1);
}

void RemoteDialog::TypeInto(int id, const std::string& text) const {
  for (char c : text) PostMessageA(Item(id), WM_CHAR, static_cast<unsigned char>(c), 1);
}

void RemoteDialog::ClickRow(int listId, int row) const {
  RECT bounds{};
  if (!RemoteItemRect(Item(listId), row, &bounds)) return;
  ClickAt(Item(listId), bounds.left + 8, (bounds.top + bounds.bottom) / 2);
}

std::string RemoteDialog::Text(int id) const {
  char text[1024] = {};
  const LRESULT length =
      SendMessageA(Item(id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

int RemoteDialog::Rows(int listId) const {
  return static_cast<int>(SendMessageA(Item(listId), LVM_GETITEMCOUNT, 0, 0));
}

HWND FindForeignDialog(const char* title, int childId, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        DialogSearch search{title, childId, nullptr};
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        found = search.found;
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

}  // namespace orvel::test
