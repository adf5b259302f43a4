#pragma once
// The program's small dialog framework over the Win32 API: a modal dialog with a
// message map and its own message loop, so that PreTranslateMessage sees every
// message before the dialog manager does.

#include <windows.h>

#include <span>

namespace orvel::ui {

class Dialog {
 public:
  Dialog(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog until EndDialog; returns its result, or -1 when it could not be created.
  INT_PTR DoModal(HWND owner);
  HWND hwnd() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }

 protected:
  void EndDialog(INT_PTR result);

  // Returns TRUE to let the dialog manager set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // True when the message was handled and must not be dispatched.
  virtual bool PreTranslateMessage(MSG& message);
  // The message-map lookup: true when a route handled the message.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE instance_;
  int templateId_;
  HWND hwnd_ = nullptr;
  bool ending_ = false;
  INT_PTR result_ = -1;
};

// One route of a dialog's message map: a command or notification code from a
// range of control ids, or a plain window message, to a member handler.
template <class T>
struct MessageRoute {
  enum class Kind { kCommand, kNotify, kMessage };
  Kind kind;
  UINT code;  // notification code (WM_COMMAND, WM_NOTIFY) or message number
  UINT firstId;
  UINT lastId;
  LRESULT (T::*handler)(UINT id, WPARAM wParam, LPARAM lParam);
};

template <class T>
bool RouteMessage(std::span<const MessageRoute<T>> routes, T& dialog, UINT message, WPARAM wParam,
                  LPARAM lParam, LRESULT& result) {
  using Kind = typename MessageRoute<T>::Kind;
  Kind kind = Kind::kMessage;
  UINT code = message;
  UINT id = 0;
  if (message == WM_COMMAND) {
    kind = Kind::kCommand;
    code = HIWORD(wParam);
    id = LOWORD(wParam);
  } else if (message == WM_NOTIFY && lParam != 0) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    kind = Kind::kNotify;
    code = header->code;
    id = static_cast<UINT>(header->idFrom);
  }
  for (const MessageRoute<T>& route : routes) {
    if (route.kind != kind || route.code != code) continue;
    if (kind != Kind::kMessage && (id < route.firstId || id > route.lastId)) continue;
    result = (dialog.*route.handler)(id, wParam, lParam);
    return true;
  }
  return false;
}

}  // namespace orvel::ui
