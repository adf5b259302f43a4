#pragma once
// The main dialog until the device list editor takes its place: it shows how many
// units the table holds and offers "Save and Close" and "Cancel".

#include <windows.h>

#include "config/core/configure_app.h"
#include "config/ui/win32_dialog.h"

namespace orvel::ui {

class InterimMainDialog : public Dialog, public MainDialogRunner {
 public:
  explicit InterimMainDialog(HINSTANCE instance);
  int RunModal(MainDialogSession& session) override;

 protected:
  BOOL OnInitDialog() override;

 private:
  MainDialogSession* session_ = nullptr;
};

}  // namespace orvel::ui
