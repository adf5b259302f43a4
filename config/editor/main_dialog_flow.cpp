#include "config/editor/main_dialog_flow.h"

#include "config/core/server_messages.h"

namespace orvel {

MainDialogFlow::MainDialogFlow(MainDialogHost& host, ServerChannel& server,
                               DeviceListEditor& editor)
    : host_(host), server_(server), editor_(editor) {}

void MainDialogFlow::OnInitDialog(const MainDialogSession& session) {
  scanStartAddress_ = session.scanStartAddress;
  scanStopOctet_ = session.scanStopOctet;
  editor_.Load(session.entries);
  host_.PrepareWindow();

  // A server that does not answer its first question counts as none, so the
  // dialog opens after one bounded wait.
  const ServerChannel::Answer inUse =
      server_.Find() ? server_.Ask(SRVM_QUERY_IN_USE, 0, 0) : ServerChannel::Answer{};
  if (inUse.reply == ServerChannel::Reply::kAnswered) {
    driverInUse_ = inUse.value != 0;
    const bool admin = host_.IsUserInAdministratorsGroup();
    if (!admin) host_.ShowMessage(kTextAdminRequired, false);
    if (driverInUse_) {
      if (admin) {
        host_.ShowMessage(kTextQuitApplications, false);
        driverInUse_ = server_.Send(SRVM_QUERY_IN_USE, 0, 0) != 0;
      }
      if (driverInUse_) host_.EnableSaveAndClose(false);
    }
    if (server_.Present()) {
      host_.AllowServerNotifications();
      server_.Send(SRVM_SET_NOTIFY_WINDOW, host_.WindowHandle(), driverInUse_ ? 0 : 1);
    }
    activeAddresses_ = ReadActiveAddresses(server_);
  }
  editor_.SetActiveAddresses(activeAddresses_);

  host_.PrepareFields();
  editor_.PresentFirstEntry();
  host_.PrepareList();
  editor_.FinishOpening();
  // Members of the Administrators group may press it even while the driver is
  // in use; OnOK asks again.
  host_.EnableSaveAndClose(host_.IsUserInAdministratorsGroup());
}

bool MainDialogFlow::MaySave() {
  const ServerChannel::Answer inUse = server_.Ask(SRVM_QUERY_IN_USE, 0, 0);
  // Not the same as no server: the server may still be using the file.
  if (inUse.reply == ServerChannel::Reply::kNoAnswer) {
    host_.ShowMessage(kTextServerNotResponding, false);
    return false;
  }
  if (inUse.value != 0) {
    host_.ShowMessage(kTextQuitApplications, false);
    return false;
  }
  return true;
}

void MainDialogFlow::OnOK() {
  if (!MaySave()) return;
  ReleaseServerLink();
  host_.DestroyHeaderImages();
  End(kDialogResultOk);
}

void MainDialogFlow::OnCancel() {
  if (editor_.modified() && host_.IsUserInAdministratorsGroup()) {
    if (host_.ShowMessage(kTextSaveBeforeClosing, true) == MainDialogHost::Answer::kYes) {
      if (!MaySave()) return;
      host_.DestroyHeaderImages();
      ReleaseServerLink();
      End(kDialogResultOk);
      return;
    }
  }
  host_.DestroyHeaderImages();
  ReleaseServerLink();
  End(2);  // IDCANCEL
}

std::uint32_t MainDialogFlow::OnUseStateChanged(std::uint32_t lParam) {
  if (!host_.IsUserInAdministratorsGroup()) {
    host_.EnableSaveAndClose(false);
    return 0;
  }
  if (driverInUse_) {
    if (lParam == 1) {
      driverInUse_ = false;
      host_.EnableSaveAndClose(true);
    }
  } else if (lParam == 0) {
    driverInUse_ = true;
    host_.EnableSaveAndClose(false);
  }
  return 0;
}

void MainDialogFlow::ReleaseServerLink() {
  activeAddresses_.clear();
  if (server_.Present()) server_.Send(SRVM_SET_NOTIFY_WINDOW, 0, 0);
}

void MainDialogFlow::CopyBack(MainDialogSession& session) const {
  for (int slot = 0; slot < kSlotCount; ++slot) session.entries[slot] = editor_.table()[slot].entry;
  session.scanStartAddress = scanStartAddress_;
  session.scanStopOctet = scanStopOctet_;
}

void MainDialogFlow::End(int result) { host_.EndDialog(result); }

}  // namespace orvel
