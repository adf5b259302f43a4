#pragma once
// The main dialog's life: what happens when it opens (the privilege and in-use
// checks, the registration with the server, the first entry), how it closes, and
// how "Save and Close" follows the server's notice that the driver's use changed.

#include <cstdint>
#include <vector>

#include "config/core/configure_app.h"
#include "config/core/server_channel.h"
#include "config/core/text_ids.h"
#include "config/editor/device_list_editor.h"

namespace orvel {

// What the flow needs of the dialog window beyond the editor's controls.
class MainDialogHost {
 public:
  enum class Answer { kOk, kYes, kNo };

  virtual ~MainDialogHost() = default;
  virtual std::uint32_t WindowHandle() = 0;  // for SRVM_SET_NOTIFY_WINDOW
  virtual bool IsUserInAdministratorsGroup() = 0;
  // A message box owned by the dialog: the text, caption string 1, the
  // information icon, and OK or Yes and No.
  virtual Answer ShowMessage(TextId text, bool askYesNo) = 0;
  // Window set-up before the server is asked: icons, name limit, foreground.
  virtual void PrepareWindow() = 0;
  // Lets the server's two notices through to the dialog's window from a server
  // that runs with fewer rights than this program; before the registration.
  virtual void AllowServerNotifications() = 0;
  // Control set-up after it: port items, field limits.
  virtual void PrepareFields() = 0;
  // The header image list, the list's style, columns and scroll range.
  virtual void PrepareList() = 0;
  virtual void DestroyHeaderImages() = 0;
  virtual void EnableSaveAndClose(bool enabled) = 0;
  virtual void EndDialog(int result) = 0;
};

class MainDialogFlow {
 public:
  // The server channel is the one the editor asks; its Find happens at opening.
  MainDialogFlow(MainDialogHost& host, ServerChannel& server, DeviceListEditor& editor);

  void OnInitDialog(const MainDialogSession& session);
  void OnOK();
  void OnCancel();
  std::uint32_t OnUseStateChanged(std::uint32_t lParam);
  void ReleaseServerLink();

  // After IDOK: the edited table and range, for the save flow.
  void CopyBack(MainDialogSession& session) const;
  bool driverInUse() const { return driverInUse_; }
  std::uint32_t scanStartAddress() const { return scanStartAddress_; }
  std::int32_t scanStopOctet() const { return scanStopOctet_; }
  // The range the user left in "Advanced Settings", whatever way it closed.
  void SetScanRange(std::uint32_t start, std::int32_t stopOctet) {
    scanStartAddress_ = start;
    scanStopOctet_ = stopOctet;
  }
  const std::vector<std::uint32_t>& activeAddresses() const { return activeAddresses_; }

 private:
  void End(int result);
  // The in-use question before a save: false, after telling the user why, when the
  // settings must not be saved now.
  bool MaySave();

  MainDialogHost& host_;
  ServerChannel& server_;
  DeviceListEditor& editor_;
  bool driverInUse_ = false;
  std::vector<std::uint32_t> activeAddresses_;
  std::uint32_t scanStartAddress_ = 0;
  std::int32_t scanStopOctet_ = 0;
};

}  // namespace orvel
