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
  // The dialog's windows are about to go; they and their controls still exist.
  virtual void OnDestroying() {}
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

// A message as a route hands it on: for WM_COMMAND and WM_NOTIFY the control id and
// notification code are already taken out, for other messages the code is the message.
struct RoutedMessage {
  UINT id;
  UINT code;
  WPARAM wParam;
  LPARAM lParam;
};

// One route of a dialog's message map: a command or notification code from a
// range of control ids, or a plain window message, to a handler.
template <class T>
struct MessageRoute {
  enum class Kind { kCommand, kNotify, kMessage };
  Kind kind;
  UINT code;  // notification code (WM_COMMAND, WM_NOTIFY) or message number
  UINT firstId;
  UINT lastId;
  LRESULT (*handler)(T& dialog, const RoutedMessage& message);
  // Instead of the handler: an action with nothing to answer.
  void (*action)(T& dialog) = nullptr;
};

// The route for a click on one button.
template <class T>
constexpr MessageRoute<T> Click(UINT id, void (*action)(T& dialog)) {
  return {MessageRoute<T>::Kind::kCommand, BN_CLICKED, id, id, nullptr, action};
}

// The route for a window message that needs none of its parameters.
template <class T>
constexpr MessageRoute<T> Message(UINT message, void (*action)(T& dialog)) {
  return {MessageRoute<T>::Kind::kMessage, message, 0, 0, nullptr, action};
}

// A route's handler that is a member of the dialog.
template <class T, LRESULT (T::*member)(const RoutedMessage&)>
LRESULT CallMember(T& dialog, const RoutedMessage& message) {
  return (dialog.*member)(message);
}

template <class T>
bool RouteMessage(std::span<const MessageRoute<T>> routes, T& dialog, UINT message, WPARAM wParam,
                  LPARAM lParam, LRESULT& result) {
  using Kind = typename MessageRoute<T>::Kind;
  Kind kind = Kind::kMessage;
  RoutedMessage routed = {0, message, wParam, lParam};
  if (message == WM_COMMAND) {
    kind = Kind::kCommand;
    routed.code = HIWORD(wParam);
    routed.id = LOWORD(wParam);
  } else if (message == WM_NOTIFY && lParam != 0) {
    const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
    kind = Kind::kNotify;
    routed.code = header->code;
    routed.id = static_cast<UINT>(header->idFrom);
  }
  for (const MessageRoute<T>& route : routes) {
    if (route.kind != kind || route.code != routed.code) continue;
    if (kind != Kind::kMessage && (routed.id < route.firstId || routed.id > route.lastId)) continue;
    if (route.action) {
      route.action(dialog);
      result = 0;
    } else {
      result = route.handler(dialog, routed);
    }
    return true;
  }
  return false;
}

}  // namespace orvel::ui
