#include "config/core/configure_app.h"

#include <new>

#include "config/core/server_messages.h"

namespace orvel {

COrvelConfigureApp::COrvelConfigureApp(AppPlatform& platform, ServerChannel& server,
                                       MainDialogRunner& mainDialog, FirewallUpdater& firewall)
    : platform_(platform), server_(server), mainDialog_(mainDialog), firewall_(firewall) {}

bool COrvelConfigureApp::InitInstance() {
  // A second copy leaves silently; the first one is not brought forward.
  if (platform_.SingleInstanceMutexExists(kSingleInstanceMutexName)) return false;
  platform_.CreateSingleInstanceMutex(kSingleInstanceMutexName);
  holdsMutex_ = true;
  platform_.InitCommonControls();

  const bool elevated = platform_.ProcessElevated();
  std::optional<SettingsLocation> location =
      EnsureSettingsFolder(platform_, kSettingsSubPath, elevated);
  settingsFolder_ = location ? location->folder : FolderOfModulePath(platform_.ModuleFileName());
  settingsPath_ = settingsFolder_ + kSettingsFileName;
  // A run without full rights writes with the user's own rights, which no folder
  // check can add to.
  if (location && elevated) {
    guardedFolders_ = location->levels;
    // Taken back now, so that a standard user's folder is the administrators' again
    // even when this run saves nothing.
    SecureSettingsFolder(platform_, guardedFolders_);
    platform_.ReleaseFolders();
  }

  try {
    std::unique_ptr<SettingsStore> settings = platform_.OpenSettings(settingsPath_);
    deviceTable_ = LoadDeviceTable(*settings);
    settingsUnreadable_ = !settings->Readable();
  } catch (const std::bad_alloc&) {
    // The program never ends on a file: one that cannot be held is an unreadable one.
    deviceTable_ = DefaultDeviceTable();
    settingsUnreadable_ = true;
  }

  MainDialogSession session;
  int loadedCount = 0;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    session.entries[slot] = deviceTable_.entries[slot];
    // The dialog works with the transport flag the program always writes.
    session.entries[slot].tcpFlag = 1;
    if (session.entries[slot].Used()) ++loadedCount;
  }
  session.scanStartAddress = deviceTable_.scanStartAddress;
  session.scanStopOctet = deviceTable_.scanStopOctet;
  session.settingsFolder = settingsFolder_;

  if (mainDialog_.RunModal(session) == kDialogResultOk) SaveFlow(session, loadedCount);
  return false;
}

int COrvelConfigureApp::ExitInstance() {
  if (holdsMutex_) {
    platform_.ReleaseSingleInstanceMutex();
    holdsMutex_ = false;
  }
  return 0;
}

void COrvelConfigureApp::SaveFlow(const MainDialogSession& session, int loadedCount) {
  // The list showed defaults, not the file: neither the file nor the firewall
  // exception may follow it.
  if (settingsUnreadable_) {
    platform_.ShowMessage(kTextSaveFailed);
    return;
  }
  int editedCount = 0;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    DeviceEntry& entry = deviceTable_.entries[slot];
    entry.deviceName = session.entries[slot].deviceName;
    entry.ipAddress = session.entries[slot].ipAddress;
    entry.macText = session.entries[slot].macText;
    entry.portIndex = session.entries[slot].portIndex;
    entry.tcpFlag = 1;
    if (entry.Used()) ++editedCount;
  }
  deviceTable_.scanStartAddress = session.scanStartAddress;
  deviceTable_.scanStopOctet = session.scanStopOctet;

  // The exception follows the edited list even when the file is not written.
  if (editedCount > 0) {
    firewall_.RegisterFirewallException();
  } else {
    firewall_.DisableFirewallException();
  }

  server_.Find();
  const ServerChannel::Answer inUse = server_.Ask(SRVM_QUERY_IN_USE, 0, 0);
  // A server that does not answer may still be using the file: not the same as none.
  if (inUse.reply == ServerChannel::Reply::kNoAnswer) {
    platform_.ShowMessage(kTextServerNotResponding);
    return;
  }
  if (inUse.value != 0) {
    platform_.ShowMessage(kTextSaveFailed);
    return;
  }

  // Removed units are rewritten as empty slots, so the next load does not bring them back.
  const int slotCount = loadedCount > editedCount ? loadedCount : editedCount;
  // A folder that is a link, or that cannot be made the administrators' own, takes
  // no write: the elevated save would otherwise write wherever a user points it.
  const bool folderSafe = SecureSettingsFolder(platform_, guardedFolders_);
  bool committed = false;
  if (folderSafe) {
    std::unique_ptr<SettingsStore> settings = platform_.OpenSettings(settingsPath_);
    StoreDeviceTable(deviceTable_, slotCount, *settings);
    committed = settings->Commit();
  }
  platform_.ReleaseFolders();
  if (!committed) {
    // The old file is still there; a reload would only read it again.
    platform_.ShowMessage(kTextSaveFailed);
    return;
  }
  if (server_.Present()) server_.Send(SRVM_RELOAD_SETTINGS, 0, 0);
}

}  // namespace orvel
