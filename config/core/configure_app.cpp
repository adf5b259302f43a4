#include "config/core/configure_app.h"

#include <new>

#include "config/core/server_messages.h"

namespace orvel {

COrvelConfigureApp::COrvelConfigureApp(AppPlatform& platform, ServerChannel& server,
                                       MainDialogRunner& mainDialog, FirewallUpdater& firewall)
    : platform_(platform), server_(server), mainDialog_(mainDialog), firewall_(firewall) {}

bool COrvelConfigureApp::AnotherCopyHoldsTheMachine() {
  using Found = AppPlatform::MachineMutexFacts::Found;
  // Without full rights a copy can only look: it may not take the mutex, so that no
  // user can hold it against the administrators. A mutex an administrator's copy
  // made, or SYSTEM's, means such a copy runs.
  if (!platform_.ProcessElevated()) {
    const auto facts = platform_.OpenMachineInstanceMutex(kMachineInstanceMutexName);
    return facts.found == Found::kExisting && facts.administratorsOwn;
  }
  const auto facts = platform_.CreateMachineInstanceMutex(kMachineInstanceMutexName);
  // Any user may put an object under that name first (only file mappings and links in
  // the global namespace need a privilege). What no copy made is no copy: honouring it
  // would let that user keep every administrator out, with a dialog that silently
  // never opens. This copy then runs as before, one per session.
  if ((facts.found != Found::kMade && facts.found != Found::kExisting) ||
      !facts.administratorsOwn) {
    platform_.ReleaseMachineInstanceMutex();
    return false;
  }
  // Held, not merely there: anyone may keep a handle to look at it, and a copy that
  // ended without letting go leaves it free.
  switch (platform_.TakeMachineInstanceMutex()) {
    case AppPlatform::TakeResult::kTaken:
      holdsMachineMutex_ = true;
      return false;
    case AppPlatform::TakeResult::kHeldElsewhere:
      platform_.ReleaseMachineInstanceMutex();
      return true;
    case AppPlatform::TakeResult::kFailed:
      break;
  }
  platform_.ReleaseMachineInstanceMutex();
  return false;
}

bool COrvelConfigureApp::Start(bool singleInstance) {
  if (singleInstance) {
    // A second copy leaves silently; the first one is not brought forward.
    if (platform_.SingleInstanceMutexExists(kSingleInstanceMutexName)) return false;
    if (AnotherCopyHoldsTheMachine()) return false;
    platform_.CreateSingleInstanceMutex(kSingleInstanceMutexName);
    holdsMutex_ = true;
  }
  platform_.InitCommonControls();

  const bool elevated = platform_.ProcessElevated();
  // Made safe now, so that a standard user's folder is the administrators' again even
  // when this run saves nothing, and so that the list loaded is the one kept.
  std::optional<SettingsLocation> location =
      EnsureSettingsFolder(platform_, platform_.SettingsFiles(), kSettingsSubPath, elevated);
  settingsFolder_ = location ? location->folder : FolderOfModulePath(platform_.ModuleFileName());
  settingsPath_ = settingsFolder_ + kSettingsFileName;
  // A run without full rights writes with the user's own rights, which no folder
  // check can add to.
  if (location && elevated) guardedFolders_ = location->levels;

  try {
    std::unique_ptr<SettingsStore> settings = platform_.OpenSettings(settingsPath_);
    deviceTable_ = LoadDeviceTable(*settings);
    settingsUnreadable_ = !settings->Readable();
  } catch (const std::bad_alloc&) {
    // The program never ends on a file: one that cannot be held is an unreadable one.
    deviceTable_ = DefaultDeviceTable();
    settingsUnreadable_ = true;
  }
  return true;
}

bool COrvelConfigureApp::InitInstance() {
  if (!Start(true)) return false;

  MainDialogSession session;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    session.entries[slot] = deviceTable_.entries[slot];
    // The dialog works with the transport flag the program always writes.
    session.entries[slot].tcpFlag = 1;
  }
  session.scanStartAddress = deviceTable_.scanStartAddress;
  session.scanStopOctet = deviceTable_.scanStopOctet;
  session.settingsFolder = settingsFolder_;

  const int loadedCount = LoadedCount();
  if (mainDialog_.RunModal(session) != kDialogResultOk) return false;
  switch (SaveFlow(session.entries, session.scanStartAddress, session.scanStopOctet, loadedCount)) {
    case SaveOutcome::kSaved:
    case SaveOutcome::kSavedNoServer:
      break;
    case SaveOutcome::kNoAnswer:
      platform_.ShowMessage(kTextServerNotResponding);
      break;
    case SaveOutcome::kHeldOpen:
      platform_.ShowMessage(kTextSettingsFileHeldOpen);
      break;
    case SaveOutcome::kNotLoaded:
    case SaveOutcome::kInUse:
    case SaveOutcome::kFolderUnsafe:
    case SaveOutcome::kNotWritten:
      platform_.ShowMessage(kTextSaveFailed);
      break;
  }
  return false;
}

int COrvelConfigureApp::ExitInstance() {
  if (holdsMutex_) {
    platform_.ReleaseSingleInstanceMutex();
    holdsMutex_ = false;
  }
  if (holdsMachineMutex_) {
    platform_.ReleaseMachineInstanceMutex();
    holdsMachineMutex_ = false;
  }
  return 0;
}

COrvelConfigureApp::SaveOutcome COrvelConfigureApp::SaveFlow(
    const std::array<DeviceEntry, kSlotCount>& entries, std::uint32_t scanStartAddress,
    std::int32_t scanStopOctet, int loadedCount) {
  // The list showed defaults, not the file: neither the file nor the firewall
  // exception may follow it.
  if (settingsUnreadable_) return SaveOutcome::kNotLoaded;
  int editedCount = 0;
  for (int slot = 0; slot < kSlotCount; ++slot) {
    DeviceEntry& entry = deviceTable_.entries[slot];
    entry.deviceName = entries[slot].deviceName;
    entry.ipAddress = entries[slot].ipAddress;
    entry.macText = entries[slot].macText;
    entry.portIndex = entries[slot].portIndex;
    entry.tcpFlag = 1;
    if (entry.Used()) ++editedCount;
  }
  deviceTable_.scanStartAddress = scanStartAddress;
  deviceTable_.scanStopOctet = scanStopOctet;

  // The exception follows the edited list even when the file is not written.
  if (editedCount > 0) {
    firewall_.RegisterFirewallException();
  } else {
    firewall_.DisableFirewallException();
  }

  server_.Find();
  const ServerChannel::Answer inUse = server_.Ask(SRVM_QUERY_IN_USE, 0, 0);
  // A server that does not answer may still be using the file: not the same as none.
  if (inUse.reply == ServerChannel::Reply::kNoAnswer) return SaveOutcome::kNoAnswer;
  if (inUse.value != 0) return SaveOutcome::kInUse;

  // Removed units are rewritten as empty slots, so the next load does not bring them back.
  const int slotCount = loadedCount > editedCount ? loadedCount : editedCount;
  // A folder that cannot be made the administrators' own takes no write: the elevated
  // save would otherwise write wherever a user points it. Held until the file is in place.
  bool committed = false;
  bool heldOpen = false;
  {
    SettingsFolderHold hold(platform_.Folders(), platform_.SettingsFiles());
    const HoldResult held = hold.Take(guardedFolders_, SettingsFolderHold::Mode::kMakeSafe);
    if (held.status != HoldResult::Status::kHeld) {
      unsafeWhy_ = held.why;
      return SaveOutcome::kFolderUnsafe;
    }
    std::unique_ptr<SettingsStore> settings = platform_.OpenSettings(settingsPath_);
    StoreDeviceTable(deviceTable_, slotCount, *settings);
    committed = settings->Commit();
    heldOpen = !committed && settings->HeldOpen();
  }
  // The old file is still there; a reload would only read it again.
  if (heldOpen) return SaveOutcome::kHeldOpen;
  if (!committed) return SaveOutcome::kNotWritten;
  if (!server_.Present()) return SaveOutcome::kSavedNoServer;
  server_.Send(SRVM_RELOAD_SETTINGS, 0, 0);
  return SaveOutcome::kSaved;
}

namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Units(int count) { return std::to_string(count) + (count == 1 ? " unit" : " units"); }

}  // namespace

Command ParseCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return {};
  std::string word = Lower(arguments[0]);
  if (word.size() < 2 || (word[0] != '/' && word[0] != '-')) return {Command::Kind::kUsage, {}};
  word.erase(0, 1);
  if (word == "?" && arguments.size() == 1) return {Command::Kind::kHelp, {}};
  // One file and nothing after it: a second word would be a file name split by a
  // missing pair of quotes.
  if (arguments.size() == 2 && !arguments[1].empty()) {
    if (word == "import") return {Command::Kind::kImport, arguments[1]};
    if (word == "export") return {Command::Kind::kExport, arguments[1]};
  }
  return {Command::Kind::kUsage, {}};
}

int COrvelConfigureApp::RunCommand(const Command& command, SetupFiles& setupFiles,
                                   bool administrator) {
  switch (command.kind) {
    case Command::Kind::kImport:
      return Import(command.file, setupFiles, administrator);
    case Command::Kind::kExport:
      return Export(command.file, setupFiles);
    case Command::Kind::kHelp:
      platform_.WriteConsoleText(kCommandUsage);
      return kExitDone;
    case Command::Kind::kDialog:
    case Command::Kind::kUsage:
      break;
  }
  platform_.WriteConsoleText(kCommandUsage);
  return kExitUsageOrFile;
}

int COrvelConfigureApp::Import(const std::string& file, SetupFiles& setupFiles,
                               bool administrator) {
  auto say = [this](const std::string& line) {
    platform_.WriteConsoleText("Orvelcfg: " + line + "\n");
  };
  if (!Start(true)) {
    say("another copy of Orvelcfg is open; nothing was changed.");
    return kExitOtherCopy;
  }
  // The dialog keeps "Save and Close" from such a user; without full rights the
  // firewall and the protected settings folder would refuse the save halfway.
  if (!administrator || !platform_.ProcessElevated()) {
    say("/import needs full administrator rights (run it elevated); nothing was changed.");
    return kExitNoRights;
  }

  std::optional<DeviceTable> imported;
  bool readable = true;
  try {
    std::unique_ptr<SettingsStore> setup = platform_.OpenSetupFile(file);
    readable = setup->Readable();
    if (readable) imported = setupFiles.Import(*setup);
  } catch (const std::bad_alloc&) {
    // Too large to hold: no setup file.
  }
  if (!readable) {
    say(file + " could not be read; nothing was changed.");
    return kExitUsageOrFile;
  }
  if (!imported) {
    say(file + " is missing or is not a Quorin Network Driver setup file; nothing was changed.");
    return kExitUsageOrFile;
  }

  const int units = CountUsedSlots(*imported);
  switch (SaveFlow(imported->entries, imported->scanStartAddress, imported->scanStopOctet,
                   LoadedCount())) {
    case SaveOutcome::kSaved:
      say(Units(units) + " from " + file + " saved in " + settingsPath_ +
          "; the server was asked to reload.");
      return kExitDone;
    case SaveOutcome::kSavedNoServer:
      say(Units(units) + " from " + file + " saved in " + settingsPath_ +
          "; no server window was found, so nothing was asked to reload.");
      return kExitDone;
    case SaveOutcome::kInUse:
      say("the driver is in use; close the programs that use it and try again. Nothing was "
          "written.");
      return kExitInUse;
    case SaveOutcome::kNoAnswer:
      say("the server did not answer whether the driver is in use; nothing was written.");
      return kExitNotWritten;
    case SaveOutcome::kNotLoaded:
      say(settingsPath_ + " could not be read; nothing was written.");
      return kExitNotWritten;
    case SaveOutcome::kFolderUnsafe:
      say("the settings folder cannot be made safe: " + unsafeWhy_ + "; nothing was written.");
      return kExitNotWritten;
    case SaveOutcome::kHeldOpen:
      say("another program has " + settingsPath_ +
          " open; nothing was changed. Close it, or wait a moment, and try again.");
      return kExitNotWritten;
    case SaveOutcome::kNotWritten:
      break;
  }
  say("the settings could not be written to " + settingsPath_ + ".");
  return kExitNotWritten;
}

int COrvelConfigureApp::Export(const std::string& file, SetupFiles& setupFiles) {
  auto say = [this](const std::string& line) {
    platform_.WriteConsoleText("Orvelcfg: " + line + "\n");
  };
  // Reading needs no single copy: the file is only ever replaced in one step.
  Start(false);
  if (settingsUnreadable_) {
    // Defaults would be exported as if they were the list.
    say(settingsPath_ + " could not be read; nothing was exported.");
    return kExitUsageOrFile;
  }
  DeviceTable table = deviceTable_;
  // The table as the main dialog hands it over.
  for (DeviceEntry& entry : table.entries) entry.tcpFlag = 1;
  bool written = false;
  try {
    std::unique_ptr<SettingsStore> setup = platform_.OpenSetupFile(file);
    setupFiles.Export(table, *setup);
    written = setup->Commit();
  } catch (const std::bad_alloc&) {
    // An existing file too large to hold is left as it is.
  }
  if (!written) {
    say(file + " could not be written.");
    return kExitUsageOrFile;
  }
  say(Units(CountUsedSlots(table)) + " of " + settingsPath_ + " exported to " + file + ".");
  return kExitDone;
}

}  // namespace orvel
