#pragma once
// Start-up and save flow of the configuration program: one copy at a time, the
// settings folder, the table load, the main dialog on a copy of the table, and
// after "Save and Close" the firewall update, the in-use check, the store and
// the reload request.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/core/device_table.h"
#include "config/core/profile_store.h"
#include "config/core/server_channel.h"
#include "config/core/settings_folder.h"
#include "config/core/text_ids.h"

namespace orvel {

inline constexpr char kSingleInstanceMutexName[] = "Vantor Quorin Network Driver Control Panel";
inline constexpr int kDialogResultOk = 1;  // IDOK

// The settings file, read once when opened; writes take effect on Commit.
class SettingsStore : public ProfileStore {
 public:
  // Replaces the file in one step; false when it could not be written, in which
  // case the file on disk is what it was.
  virtual bool Commit() = 0;
  // False when the file is there but could not be read; the table then holds
  // defaults that describe nothing on disk.
  virtual bool Readable() const = 0;
};

// What the main dialog is handed and, after IDOK, hands back.
struct MainDialogSession {
  std::array<DeviceEntry, kSlotCount> entries{};
  std::uint32_t scanStartAddress = 0;
  std::int32_t scanStopOctet = 0;
  std::string settingsFolder;
};

class MainDialogRunner {
 public:
  virtual ~MainDialogRunner() = default;
  // Runs the dialog modally; returns IDOK (1) or another result.
  virtual int RunModal(MainDialogSession& session) = 0;
};

class FirewallUpdater {
 public:
  virtual ~FirewallUpdater() = default;
  virtual bool RegisterFirewallException() = 0;
  virtual bool DisableFirewallException() = 0;
};

// The platform calls start-up and the save flow make, besides the folders.
class AppPlatform : public FolderPlatform {
 public:
  // OpenMutexA(MUTEX_ALL_ACCESS): true when another copy holds the name (the
  // opened handle is closed again).
  virtual bool SingleInstanceMutexExists(const std::string& name) = 0;
  // CreateMutexA, not initially owned; the platform keeps the handle.
  virtual void CreateSingleInstanceMutex(const std::string& name) = 0;
  // ReleaseMutex on the kept handle, if any, and let it go.
  virtual void ReleaseSingleInstanceMutex() = 0;
  virtual void InitCommonControls() = 0;
  // GetModuleFileNameA of the program.
  virtual std::string ModuleFileName() = 0;
  virtual std::unique_ptr<SettingsStore> OpenSettings(const std::string& path) = 0;
  // MessageBoxA with no owner, the text's string, caption string 1 and the
  // information icon.
  virtual void ShowMessage(TextId text) = 0;
};

class COrvelConfigureApp {
 public:
  COrvelConfigureApp(AppPlatform& platform, ServerChannel& server, MainDialogRunner& mainDialog,
                     FirewallUpdater& firewall);

  // Runs the whole program; always false, so that the program ends when it returns.
  bool InitInstance();
  // Releases the single-instance mutex; returns the exit code.
  int ExitInstance();

  const std::string& settingsFolder() const { return settingsFolder_; }
  const DeviceTable& deviceTable() const { return deviceTable_; }

 private:
  void SaveFlow(const MainDialogSession& session, int loadedCount);

  AppPlatform& platform_;
  ServerChannel& server_;
  MainDialogRunner& mainDialog_;
  FirewallUpdater& firewall_;
  std::string settingsFolder_;
  std::string settingsPath_;
  // The settings folder's levels that an elevated save checks before writing.
  std::vector<std::string> guardedFolders_;
  DeviceTable deviceTable_;
  bool holdsMutex_ = false;
  // The file could not be read at start: a save would act on a table never loaded.
  bool settingsUnreadable_ = false;
};

}  // namespace orvel
