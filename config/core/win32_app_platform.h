#pragma once

#include <windows.h>

#include <memory>

#include "config/core/configure_app.h"
#include "config/core/win32_file_access.h"
#include "config/core/win32_handle.h"
#include "config/core/win32_settings_folder.h"

namespace orvel {

// The machine-wide instance mutex: owned by the Administrators; SYSTEM and the
// Administrators may do anything with it, everyone else only read who owns it. So every
// user's copy can see that one runs, and none but theirs can take it or change it.
inline constexpr char kMachineInstanceMutexSddl[] =
    "O:BAD:P(A;;0x1F0001;;;SY)(A;;0x1F0001;;;BA)(A;;RC;;;WD)";

// Opens a settings or setup file as a store that replaces the file in one step on
// Commit; orveld.ini is opened with Links::kRefuse.
std::unique_ptr<SettingsStore> OpenSettingsFile(
    const std::string& path, Win32FileAccess::Links links = Win32FileAccess::Links::kFollow);

class Win32AppPlatform : public AppPlatform {
 public:
  explicit Win32AppPlatform(HINSTANCE instance) : instance_(instance) {}

  std::optional<std::string> CommonAppDataFolder() override;
  bool ProcessElevated() override { return folders_.ProcessElevated(); }
  FolderGuardPlatform& Folders() override { return folders_; }
  bool SingleInstanceMutexExists(const std::string& name) override;
  void CreateSingleInstanceMutex(const std::string& name) override;
  void ReleaseSingleInstanceMutex() override;
  MachineMutexFacts CreateMachineInstanceMutex(const std::string& name) override;
  TakeResult TakeMachineInstanceMutex() override;
  void ReleaseMachineInstanceMutex() override;
  MachineMutexFacts OpenMachineInstanceMutex(const std::string& name) override;
  void InitCommonControls() override;
  std::string ModuleFileName() override;
  std::unique_ptr<SettingsStore> OpenSettings(const std::string& path) override;
  FileAccess& SettingsFiles() override { return settingsFiles_; }
  std::unique_ptr<SettingsStore> OpenSetupFile(const std::string& path) override;
  void ShowMessage(TextId text) override;
  void WriteConsoleText(const std::string& text) override;

 private:
  // Found on the first line: a file or pipe the starter gave as standard output,
  // else the starter's console; nothing when there is neither.
  void FindConsole();

  HINSTANCE instance_;
  UniqueHandle mutex_;
  UniqueHandle machineMutex_;
  bool machineMutexTaken_ = false;
  bool consoleLooked_ = false;
  HANDLE output_ = nullptr;  // the inherited standard output, or conout_
  UniqueHandle conout_;
  Win32FolderSecurity folders_;
  Win32FileAccess settingsFiles_{Win32FileAccess::Links::kRefuse};
};

// A string of the program's string table, in the user interface language.
std::string LoadText(HINSTANCE instance, unsigned id);

}  // namespace orvel
