#pragma once
// CAppletDlg: the main dialog of Orvelcfg, template 102.

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include "config/core/configure_app.h"
#include "config/core/server_channel.h"
#include "config/editor/device_list_editor.h"
#include "config/editor/main_dialog_flow.h"
#include "config/ui/control_names.h"
#include "config/ui/win32_dialog.h"
#include "config/ui/win32_editor_view.h"

namespace orvel::ui {

class CAppletDlg : public Dialog, public MainDialogRunner, private MainDialogHost {
 public:
  // isAdministrator answers the Administrators-group test for this process; annotation
  // names the controls of this dialog and of "Advanced Settings" for screen readers.
  CAppletDlg(HINSTANCE instance, ServerChannel& server, bool (*isAdministrator)(),
             ControlAnnotation* annotation = nullptr);
  ~CAppletDlg() override;

  int RunModal(MainDialogSession& session) override;

  const DeviceListEditor& editor() const { return editor_; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnDestroying() override { names_.ClearAll(); }
  bool PreTranslateMessage(MSG& message) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  // MainDialogHost
  std::uint32_t WindowHandle() override;
  bool IsUserInAdministratorsGroup() override { return isAdministrator_(); }
  Answer ShowMessage(TextId text, bool askYesNo) override;
  void PrepareWindow() override;
  void AllowServerNotifications() override;
  void PrepareFields() override;
  void PrepareList() override;
  void DestroyHeaderImages() override;
  void EnableSaveAndClose(bool enabled) override;
  void EndDialog(int result) override { Dialog::EndDialog(result); }

  // Message-map handlers.
  LRESULT OnFieldCommand(const RoutedMessage& message);
  LRESULT OnPortCommand(const RoutedMessage& message);
  LRESULT OnListNotify(const RoutedMessage& message);
  void RunAutoDetect();

  bool IsPushButton(HWND window) const;

  void NameControls();

  HINSTANCE instance_;
  ServerChannel& server_;
  bool (*isAdministrator_)();
  ControlAnnotation* annotation_;
  DialogAnnotations names_;
  Win32EditorView view_;
  DeviceListEditor editor_;
  MainDialogFlow flow_;
  MainDialogSession* session_ = nullptr;
  HICON icon_ = nullptr;
  HIMAGELIST headerImages_ = nullptr;
};

}  // namespace orvel::ui
