#pragma once
// Start-up and save flow of the configuration program: one copy at a time, the
// settings folder, the table load, the main dialog on a copy of the table, and
// after "Save and Close" the firewall update, the in-use check, the store and
// the reload request. A command line runs the same flow without a window.

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
// One copy on the whole PC: a mutex in the global namespace, which every session and
// SYSTEM's session 0 share. Its own name, since in session 0 the session's names are
// the global ones.
inline constexpr char kMachineInstanceMutexName[] =
    "Global\\Vantor Quorin Network Driver Control Panel (all sessions)";
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
  // After a failed Commit: true when another program held the file open throughout.
  virtual bool HeldOpen() const { return false; }
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

  // What a call found under the machine-wide mutex's name.
  struct MachineMutexFacts {
    enum class Found {
      kNothing,      // no object of that name
      kMade,         // made now
      kExisting,     // a mutex that was there
      kShutOut,      // an object whose access list refuses this process
      kOtherObject,  // an object of another kind (an event, a semaphore...)
      kFailed,       // any other failure
    };
    Found found = Found::kFailed;
    // Made or existing: its owner is SYSTEM or the Administrators, which only a copy
    // with full rights can give it.
    bool administratorsOwn = false;
  };
  enum class TakeResult { kTaken, kHeldElsewhere, kFailed };
  // CreateMutexExA(not owned; SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL) with an
  // access list that lets SYSTEM and the Administrators do anything and everyone else
  // only read it, owned by the Administrators; the platform keeps the handle, also of a
  // mutex that was there.
  virtual MachineMutexFacts CreateMachineInstanceMutex(const std::string& name) = 0;
  // WaitForSingleObject(kept handle, 0): taken (also from a copy that ended without
  // letting go), or held by another copy.
  virtual TakeResult TakeMachineInstanceMutex() = 0;
  // ReleaseMutex when taken, and let the kept handle go.
  virtual void ReleaseMachineInstanceMutex() = 0;
  // OpenMutexA(READ_CONTROL) and who owns what it finds; the handle is closed again.
  virtual MachineMutexFacts OpenMachineInstanceMutex(const std::string& name) = 0;
  virtual void InitCommonControls() = 0;
  // GetModuleFileNameA of the program.
  virtual std::string ModuleFileName() = 0;
  // orveld.ini, opened without following a link and refused when it is one.
  virtual std::unique_ptr<SettingsStore> OpenSettings(const std::string& path) = 0;
  // The settings folder's files as the settings folder's hold reads and writes them.
  virtual FileAccess& SettingsFiles() = 0;
  // A setup file a person names, wherever it is.
  virtual std::unique_ptr<SettingsStore> OpenSetupFile(const std::string& path) = 0;
  // MessageBoxA with no owner, the text's string, caption string 1 and the
  // information icon.
  virtual void ShowMessage(TextId text) = 0;
  // Lines for the console that started the program, if there is one; a program
  // without a console loses them.
  virtual void WriteConsoleText(const std::string& text) = 0;
};

// What the command line asks for; no arguments at all is the dialog.
struct Command {
  enum class Kind { kDialog, kImport, kExport, kHelp, kUsage };
  Kind kind = Kind::kDialog;
  std::string file;
  friend bool operator==(const Command&, const Command&) = default;
};
// The arguments after the program's name. Switches are "/import FILE", "/export FILE"
// and "/?", with "/" or "-" and in any case; anything else is kUsage.
Command ParseCommandLine(const std::vector<std::string>& arguments);

// Exit codes of a command line run, one per outcome.
enum ExitCode : int {
  kExitDone = 0,
  kExitUsageOrFile = 1,  // not understood, or a setup file missing, unreadable or invalid
  kExitInUse = 2,        // the driver is in use: nothing written
  kExitOtherCopy = 3,    // another copy of Orvelcfg is open
  kExitNotWritten = 4,   // the settings could not be written (or the server did not answer)
  kExitNoRights = 5,     // not run with full administrator rights
};

inline constexpr char kCommandUsage[] =
    "Usage: Orvelcfg [/import FILE | /export FILE | /?]\n"
    "  /import FILE  replace the device list by the setup file FILE and save it\n"
    "                as \"Save and Close\" does (needs full administrator rights)\n"
    "  /export FILE  write the saved device list to FILE as a setup file\n"
    "  Without arguments the dialog opens.\n"
    "Exit codes: 0 done, 1 usage or file error, 2 driver in use (nothing written),\n"
    "  3 another copy of Orvelcfg is open, 4 settings not written (another program\n"
    "  has orveld.ini open, or its folder cannot be made safe),\n"
    "  5 not run with full administrator rights\n";

// Setup files as the auto-detect dialog reads and writes them.
class SetupFiles {
 public:
  virtual ~SetupFiles() = default;
  // The table and range that the dialog's import hands to the main dialog; none
  // when the file is not a setup file.
  virtual std::optional<DeviceTable> Import(ProfileStore& file) = 0;
  // What the dialog's export writes when handed this table and range.
  virtual void Export(const DeviceTable& table, ProfileStore& file) = 0;
};

class COrvelConfigureApp {
 public:
  COrvelConfigureApp(AppPlatform& platform, ServerChannel& server, MainDialogRunner& mainDialog,
                     FirewallUpdater& firewall);

  // Runs the whole program; always false, so that the program ends when it returns.
  bool InitInstance();
  // Runs a command line instead of the dialog, without any window, and leaves one
  // line for the console; returns the exit code. `administrator` answers the
  // Administrators-group test for this process.
  int RunCommand(const Command& command, SetupFiles& setupFiles, bool administrator);
  // Releases the single-instance mutex; returns the exit code.
  int ExitInstance();

  const std::string& settingsFolder() const { return settingsFolder_; }
  const DeviceTable& deviceTable() const { return deviceTable_; }

 private:
  enum class SaveOutcome {
    kSaved,
    kSavedNoServer,
    kNotLoaded,
    kInUse,
    kNoAnswer,
    kFolderUnsafe,  // the settings folder could not be made safe: why in unsafeWhy_
    kHeldOpen,      // another program held orveld.ini open
    kNotWritten,
  };

  // Single instance (when asked for), the settings folder and the table load; false
  // when another copy runs.
  bool Start(bool singleInstance);
  // True when a copy in any session holds the machine-wide mutex; takes it when this
  // copy has full rights and it is free.
  bool AnotherCopyHoldsTheMachine();
  int LoadedCount() const { return CountUsedSlots(deviceTable_); }
  SaveOutcome SaveFlow(const std::array<DeviceEntry, kSlotCount>& entries,
                       std::uint32_t scanStartAddress, std::int32_t scanStopOctet, int loadedCount);
  int Import(const std::string& file, SetupFiles& setupFiles, bool administrator);
  int Export(const std::string& file, SetupFiles& setupFiles);

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
  bool holdsMachineMutex_ = false;
  // The file could not be read at start: a save would act on a table never loaded.
  bool settingsUnreadable_ = false;
  // Why the last save found the settings folder unsafe.
  std::string unsafeWhy_;
};

}  // namespace orvel
