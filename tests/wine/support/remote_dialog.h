#pragma once
// Drives a dialog of another process, the way a user does: posted mouse and character
// messages go through that process's own message loop. Nothing can be hooked into a
// foreign loop, so there is no sync point: a caller waits for the effect it expects
// (WaitFor) before it reads or goes on where order matters.

#include <windows.h>

#include <functional>
#include <string>

namespace orvel::test {

class RemoteDialog {
 public:
  explicit RemoteDialog(HWND dialog) : dialog_(dialog) {}
  HWND Window() const { return dialog_; }
  HWND Item(int id) const { return GetDlgItem(dialog_, id); }
  bool Open() const { return IsWindow(dialog_) && IsWindowVisible(dialog_); }

  // A click in the middle of a control.
  void Click(int id) const;
  // A click at a point of a control's client area.
  static void ClickAt(HWND control, int x, int y);
  // Clicks a field and selects its text, the way a user starts retyping it.
  void ClickField(int id) const;
  // One WM_CHAR a character to the control, as TranslateMessage makes it from a key press.
  void TypeInto(int id, const std::string& text) const;
  // A click near the left end of a list-view row, where the row's image is.
  void ClickRow(int listId, int row) const;

  // Read through messages that cross process boundaries.
  std::string Text(int id) const;
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }
  int Rows(int listId) const;

  // Waits until the condition holds, checking every 20 ms; false at the timeout.

 private:
  HWND dialog_;
};

// A visible dialog (class #32770) of another process with this title (nullptr: any) that
// has a child with this control id, waiting up to timeoutMs for it; nullptr when none
// appeared.
HWND FindForeignDialog(const char* title, int childId, DWORD timeoutMs = 20000);

}  // namespace orvel::test
