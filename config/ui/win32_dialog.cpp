#include "config/ui/win32_dialog.h"

namespace orvel::ui {

Dialog::~Dialog() {
  if (hwnd_) DestroyWindow(hwnd_);
}

INT_PTR Dialog::DoModal(HWND owner) {
  ending_ = false;
  result_ = -1;
  hwnd_ = CreateDialogParamA(instance_, MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                             reinterpret_cast<LPARAM>(this));
  if (!hwnd_) return -1;
  const bool disableOwner = owner && IsWindowEnabled(owner);
  if (disableOwner) EnableWindow(owner, FALSE);
  if (!ending_) ShowWindow(hwnd_, SW_SHOW);

  MSG message;
  while (!ending_) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0) {
      // WM_QUIT belongs to the outer loop, if any.
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got < 0) break;
    if (PreTranslateMessage(message)) continue;
    if (IsDialogMessageA(hwnd_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }

  if (disableOwner) EnableWindow(owner, TRUE);
  OnDestroying();
  HWND window = hwnd_;
  hwnd_ = nullptr;
  DestroyWindow(window);
  return result_;
}

void Dialog::EndDialog(INT_PTR result) {
  result_ = result;
  ending_ = true;
  // Wake the loop even when no other message is queued.
  if (hwnd_) PostMessageA(hwnd_, WM_NULL, 0, 0);
}

bool Dialog::PreTranslateMessage(MSG&) { return false; }

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    dialog->hwnd_ = hwnd;
    return dialog->OnInitDialog();
  }
  auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!dialog || dialog->hwnd_ != hwnd) return FALSE;
  return dialog->HandleMessage(message, wParam, lParam);
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (OnMessage(message, wParam, lParam, result)) {
    // Notifications answer through DWLP_MSGRESULT; the dialog procedure returns TRUE.
    SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, result);
    return TRUE;
  }
  // Enter, Esc and the close box come from the dialog manager with no control.
  if (message == WM_COMMAND && (HIWORD(wParam) == BN_CLICKED || lParam == 0)) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
      return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace orvel::ui
