#include "config/ui/win32_interim_main_dialog.h"

#include <string>

#include "config/resources/resource.h"

namespace orvel::ui {

InterimMainDialog::InterimMainDialog(HINSTANCE instance) : Dialog(instance, IDD_MAIN_DIALOG) {}

int InterimMainDialog::RunModal(MainDialogSession& session) {
  session_ = &session;
  const INT_PTR result = DoModal(nullptr);
  session_ = nullptr;
  return static_cast<int>(result);
}

BOOL InterimMainDialog::OnInitDialog() {
  int used = 0;
  for (const DeviceEntry& entry : session_->entries) {
    if (entry.Used()) ++used;
  }
  const std::string summary =
      std::to_string(used) + " target device(s) in " + session_->settingsFolder + "orveld.ini";
  SetDlgItemTextA(hwnd(), IDC_INTERIM_SUMMARY, summary.c_str());
  return TRUE;
}

}  // namespace orvel::ui
