#include "config/core/configure_app.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "config/autodetect/setup_file.h"
#include "tests/doubles/fake_firewall_updater.h"
#include "tests/doubles/fake_server_channel.h"
#include "tests/doubles/fake_settings_folder.h"
#include "tests/doubles/memory_profile_store.h"

namespace orvel {
namespace {

using testing::FakeFirewall;
using testing::FakeFolderTree;
using testing::FakeServerChannel;
using testing::MemoryProfileStore;

// Settings files by path; a store sees the file as it was when opened and
// replaces it on Commit, unless commits are made to fail.
class FakePlatform : public AppPlatform {
 public:
  class Store : public testing::MemorySettingsStore {
   public:
    Store(FakePlatform& owner, std::string path)
        : owner_(owner), path_(std::move(path)), data_(owner.files[path_]) {}
    bool Commit() override {
      ++owner_.commits;
      owner_.heldAtCommit = owner_.tree.held;
      if (owner_.failCommit) return false;
      // A file goes nowhere without its folder.
      const std::string folder = path_.substr(0, path_.rfind('\\'));
      if (owner_.commonAppData && folder.rfind(*owner_.commonAppData, 0) == 0 &&
          !owner_.tree.Has(folder)) {
        return false;
      }
      owner_.files[path_] = data_;
      return true;
    }
    bool Readable() const override {
      return !owner_.unreadable && !owner_.unreadablePaths.count(path_);
    }
    bool HeldOpen() const override { return owner_.failCommit && owner_.heldOpen; }

   private:
    MemoryProfileStore& Values() override { return data_; }
    FakePlatform& owner_;
    std::string path_;
    MemoryProfileStore data_;
  };

  std::optional<std::string> CommonAppDataFolder() override { return commonAppData; }
  bool ProcessElevated() override { return elevated; }
  FolderGuardPlatform& Folders() override { return tree; }
  bool SingleInstanceMutexExists(const std::string& name) override {
    return existingMutexes.count(name) != 0;
  }
  void CreateSingleInstanceMutex(const std::string& name) override { createdMutex = name; }
  void ReleaseSingleInstanceMutex() override { ++mutexReleases; }
  MachineMutexFacts CreateMachineInstanceMutex(const std::string& name) override {
    machineCalls.push_back("create " + name);
    return machineCreate;
  }
  TakeResult TakeMachineInstanceMutex() override {
    machineCalls.push_back("take");
    return machineTake;
  }
  void ReleaseMachineInstanceMutex() override { machineCalls.push_back("release"); }
  MachineMutexFacts OpenMachineInstanceMutex(const std::string& name) override {
    machineCalls.push_back("open " + name);
    return machineOpen;
  }
  void InitCommonControls() override { ++commonControlsInits; }
  std::string ModuleFileName() override { return moduleFileName; }
  std::unique_ptr<SettingsStore> OpenSettings(const std::string& path) override {
    openedPaths.push_back(path);
    return std::make_unique<Store>(*this, path);
  }
  FileAccess& SettingsFiles() override { return tree; }
  std::unique_ptr<SettingsStore> OpenSetupFile(const std::string& path) override {
    return OpenSettings(path);
  }
  void ShowMessage(TextId text) override { shown.push_back(text); }
  void WriteConsoleText(const std::string& text) override { console += text; }

  std::optional<std::string> commonAppData = std::string("C:\\ProgramData");
  bool elevated = true;
  FakeFolderTree tree = [] {
    FakeFolderTree t;
    t.AddFolder("C:\\ProgramData", FakeFolderTree::kSystem, FakeFolderTree::ParentLocked());
    return t;
  }();
  std::set<std::string> heldAtCommit;
  std::set<std::string> existingMutexes;
  // The machine-wide mutex: what making it (with full rights) or opening it (without)
  // finds, and whether it can be taken.
  MachineMutexFacts machineCreate{MachineMutexFacts::Found::kMade, true};
  MachineMutexFacts machineOpen{MachineMutexFacts::Found::kNothing, false};
  TakeResult machineTake = TakeResult::kTaken;
  std::vector<std::string> machineCalls;
  std::string createdMutex;
  int mutexReleases = 0;
  int commonControlsInits = 0;
  std::string moduleFileName = "D:\\Tools\\Orvel\\Orvelcfg.exe";
  std::map<std::string, MemoryProfileStore> files;
  std::vector<std::string> openedPaths;
  bool failCommit = false;
  bool heldOpen = false;  // the failed commit was another program's doing
  bool unreadable = false;
  std::set<std::string> unreadablePaths;
  int commits = 0;
  std::vector<TextId> shown;
  std::string console;
};

class FakeDialog : public MainDialogRunner {
 public:
  int RunModal(MainDialogSession& session) override {
    ++runs;
    seen = session;
    if (edit) edit(session);
    return result;
  }
  int result = 2;  // IDCANCEL
  std::function<void(MainDialogSession&)> edit;
  MainDialogSession seen;
  int runs = 0;
};

constexpr char kSettingsPath[] = "C:\\ProgramData\\VANTOR\\ORVELDRIVER\\orveld.ini";

class ConfigureAppTest : public ::testing::Test {
 protected:
  // A settings file with `used` units at 10.0.0.1, 10.0.0.2, ...
  void SeedUnits(int used) {
    MemoryProfileStore& file = platform.files[kSettingsPath];
    for (int slot = 0; slot < used; ++slot) {
      const std::string key = std::to_string(slot);
      file.Set("IP Address", key, std::to_string(0x0A000001 + slot));
      file.Set("Device Name", key, "Seeded" + key);
      file.Set("Tcp", key, "0");
    }
  }
  // The dialog leaves `used` units in the table, the rest empty.
  void DialogKeeps(int used) {
    dialog.result = kDialogResultOk;
    dialog.edit = [used](MainDialogSession& session) {
      for (int slot = 0; slot < kSlotCount; ++slot) {
        if (slot >= used) session.entries[slot] = DefaultDeviceEntry(slot);
        if (slot < used && !session.entries[slot].Used())
          session.entries[slot].ipAddress = 0x0B000001 + slot;
      }
    };
  }
  bool Run() {
    COrvelConfigureApp app(platform, server, dialog, firewall);
    const bool result = app.InitInstance();
    app.ExitInstance();
    return result;
  }
  MemoryProfileStore& SavedFile() { return platform.files[kSettingsPath]; }
  std::vector<MemoryProfileStore::Write> CommittedWrites() {
    return platform.commits ? SavedFile().writes : std::vector<MemoryProfileStore::Write>{};
  }

  FakePlatform platform;
  FakeServerChannel server;
  FakeDialog dialog;
  FakeFirewall firewall;
};

TEST_F(ConfigureAppTest, SecondCopyLeavesWithoutDialogOrMutex) {
  platform.existingMutexes.insert(kSingleInstanceMutexName);
  EXPECT_FALSE(Run());
  EXPECT_EQ(dialog.runs, 0);
  EXPECT_TRUE(platform.createdMutex.empty());
  EXPECT_EQ(platform.mutexReleases, 0);
  EXPECT_TRUE(platform.openedPaths.empty());
  EXPECT_TRUE(platform.machineCalls.empty());
}

// One copy on the PC, whichever session it runs in: the dialog and /import alike. What
// sits under the machine-wide name without being a copy's keeps no copy out.
TEST_F(ConfigureAppTest, OneCopyPerMachine) {
  using Found = AppPlatform::MachineMutexFacts::Found;
  using Take = AppPlatform::TakeResult;
  const std::string create = std::string("create ") + kMachineInstanceMutexName;
  const std::string open = std::string("open ") + kMachineInstanceMutexName;
  struct Case {
    const char* what;
    bool elevated;
    AppPlatform::MachineMutexFacts
        found;  // what making it, or without full rights opening it, finds
    Take take;
    bool runs;
    std::vector<std::string> calls;  // on the machine-wide mutex, to the end of the run
  };
  const Case cases[] = {
      {"free", true, {Found::kMade, true}, Take::kTaken, true, {create, "take", "release"}},
      // The last copy ended, or was ended, but someone still has it open.
      {"left free",
       true,
       {Found::kExisting, true},
       Take::kTaken,
       true,
       {create, "take", "release"}},
      {"held in another session",
       true,
       {Found::kExisting, true},
       Take::kHeldElsewhere,
       false,
       {create, "take", "release"}},
      {"cannot be taken",
       true,
       {Found::kMade, true},
       Take::kFailed,
       true,
       {create, "take", "release"}},
      // A user's object under the name, however made: not a copy.
      {"a user's mutex",
       true,
       {Found::kExisting, false},
       Take::kHeldElsewhere,
       true,
       {create, "release"}},
      {"shut out", true, {Found::kShutOut, false}, Take::kFailed, true, {create, "release"}},
      {"another kind of object",
       true,
       {Found::kOtherObject, false},
       Take::kFailed,
       true,
       {create, "release"}},
      {"cannot be made", true, {Found::kFailed, false}, Take::kFailed, true, {create, "release"}},
      // Without full rights a copy only looks, and never takes it.
      {"not elevated, a copy runs", false, {Found::kExisting, true}, Take::kTaken, false, {open}},
      {"not elevated, none runs", false, {Found::kNothing, false}, Take::kTaken, true, {open}},
      {"not elevated, a user's", false, {Found::kExisting, false}, Take::kTaken, true, {open}},
      {"not elevated, shut out", false, {Found::kShutOut, false}, Take::kTaken, true, {open}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool import : {false, true}) {
      platform = FakePlatform();
      dialog = FakeDialog();
      platform.elevated = c.elevated;
      platform.machineCreate = c.found;
      platform.machineOpen = c.found;
      platform.machineTake = c.take;
      COrvelConfigureApp app(platform, server, dialog, firewall);
      if (import) {
        autodetect::DialogSetupFiles setupFiles;
        const int code = app.RunCommand({Command::Kind::kImport, "D:\\none.ini"}, setupFiles, true);
        // Past the check, the missing file or the missing rights answer.
        EXPECT_EQ(code, !c.runs ? kExitOtherCopy : c.elevated ? kExitUsageOrFile : kExitNoRights);
      } else {
        app.InitInstance();
        EXPECT_EQ(dialog.runs, c.runs ? 1 : 0);
      }
      app.ExitInstance();
      EXPECT_EQ(platform.createdMutex.empty(), !c.runs) << import;
      EXPECT_EQ(platform.machineCalls, c.calls) << import;
    }
  }
}

TEST_F(ConfigureAppTest, FirstCopyHoldsMutexUntilExit) {
  EXPECT_FALSE(Run());
  EXPECT_EQ(platform.createdMutex, "Vantor Quorin Network Driver Control Panel");
  EXPECT_EQ(platform.mutexReleases, 1);
  EXPECT_EQ(platform.commonControlsInits, 1);
  EXPECT_EQ(dialog.runs, 1);
}

TEST_F(ConfigureAppTest, SettingsFolderFallsBackToProgramFolder) {
  struct Case {
    const char* name;
    std::optional<std::string> commonAppData;
    std::string unmakeable;
    std::string expectedFolder;
  };
  const Case cases[] = {
      {"created", std::string("C:\\ProgramData"), "", "C:\\ProgramData\\VANTOR\\ORVELDRIVER\\"},
      {"no common folder", std::nullopt, "", "D:\\Tools\\Orvel\\"},
      {"first level refused", std::string("C:\\ProgramData"), "C:\\ProgramData\\VANTOR",
       "D:\\Tools\\Orvel\\"},
      {"second level refused", std::string("C:\\ProgramData"),
       "C:\\ProgramData\\VANTOR\\ORVELDRIVER", "D:\\Tools\\Orvel\\"},
  };
  for (const Case& c : cases) {
    FakePlatform p;
    p.commonAppData = c.commonAppData;
    if (!c.unmakeable.empty()) p.tree.unmakeable.insert(c.unmakeable);
    FakeServerChannel s;
    FakeDialog d;
    FakeFirewall f;
    COrvelConfigureApp app(p, s, d, f);
    app.InitInstance();
    EXPECT_EQ(app.settingsFolder(), c.expectedFolder) << c.name;
    EXPECT_EQ(d.seen.settingsFolder, c.expectedFolder) << c.name;
    ASSERT_FALSE(p.openedPaths.empty()) << c.name;
    EXPECT_EQ(p.openedPaths[0], c.expectedFolder + "orveld.ini") << c.name;
  }
}

TEST_F(ConfigureAppTest, ExistingFoldersAreUsedAsTheyAre) {
  platform.tree.AddFolder("C:\\ProgramData\\VANTOR", FakeFolderTree::kAdministrators,
                          FakeFolderTree::ParentLocked());
  platform.tree.AddFolder("C:\\ProgramData\\VANTOR\\ORVELDRIVER");
  COrvelConfigureApp app(platform, server, dialog, firewall);
  app.InitInstance();
  EXPECT_EQ(app.settingsFolder(), "C:\\ProgramData\\VANTOR\\ORVELDRIVER\\");
  EXPECT_TRUE(platform.tree.changes.empty());
}

TEST(FolderOfModulePath, KeepsDriveAndDirectoryWithSeparator) {
  EXPECT_EQ(FolderOfModulePath("C:\\Windows\\SysWOW64\\Orvelcfg.exe"), "C:\\Windows\\SysWOW64\\");
  EXPECT_EQ(FolderOfModulePath("\\\\host\\share\\Orvelcfg.exe"), "\\\\host\\share\\");
  EXPECT_EQ(FolderOfModulePath("C:Orvelcfg.exe"), "C:");
  EXPECT_EQ(FolderOfModulePath("Orvelcfg.exe"), "");
}

// What the installer's actions hold, from the folder the package names.
TEST(SettingsLevels, TheFolderAndItsParentAndNeverARoot) {
  using Levels = std::vector<std::string>;
  EXPECT_EQ(SettingsLevels("C:\\ProgramData\\VANTOR\\ORVELDRIVER\\"),
            (Levels{"C:\\ProgramData\\VANTOR", "C:\\ProgramData\\VANTOR\\ORVELDRIVER"}));
  EXPECT_EQ(SettingsLevels("\\\\host\\data\\VANTOR\\ORVELDRIVER"),
            (Levels{"\\\\host\\data\\VANTOR", "\\\\host\\data\\VANTOR\\ORVELDRIVER"}));
  EXPECT_EQ(SettingsLevels("C:\\VANTOR\\ORVELDRIVER"), Levels{});
  EXPECT_EQ(SettingsLevels("\\\\host\\ORVELDRIVER"), Levels{});
  EXPECT_EQ(SettingsLevels("ORVELDRIVER"), Levels{});
}

TEST_F(ConfigureAppTest, DialogGetsTableWithTransportFlagSetAndScanRange) {
  SeedUnits(2);
  SavedFile().Set("Net Address", "Value", "-1062731775");
  SavedFile().Set("Stop Address Field3", "Value", "40");
  Run();
  EXPECT_EQ(dialog.seen.entries[0].deviceName, "Seeded0");
  EXPECT_EQ(dialog.seen.entries[1].ipAddress, 0x0A000002u);
  for (const DeviceEntry& entry : dialog.seen.entries) EXPECT_EQ(entry.tcpFlag, 1);
  EXPECT_EQ(dialog.seen.scanStartAddress, 0xC0A80001u);
  EXPECT_EQ(dialog.seen.scanStopOctet, 40);
}

TEST_F(ConfigureAppTest, CancelWritesAndSendsNothing) {
  SeedUnits(3);
  dialog.result = 2;
  Run();
  EXPECT_EQ(platform.commits, 0);
  EXPECT_TRUE(firewall.calls.empty());
  EXPECT_TRUE(server.messages.empty());
  EXPECT_TRUE(platform.shown.empty());
}

TEST_F(ConfigureAppTest, StoreCountIsLargerOfLoadedAndEdited) {
  struct Case {
    int loaded, edited, expectedSlots;
    const char* firewall;
  };
  const Case cases[] = {
      {5, 3, 5, "register"}, {2, 4, 4, "register"},     {0, 0, 0, "disable"},
      {3, 0, 3, "disable"},  {0, 256, 256, "register"},
  };
  for (const Case& c : cases) {
    FakePlatform p;
    FakeServerChannel s;
    FakeDialog d;
    FakeFirewall f;
    {
      MemoryProfileStore& file = p.files[kSettingsPath];
      for (int slot = 0; slot < c.loaded; ++slot) {
        file.Set("IP Address", std::to_string(slot), std::to_string(0x0A000001 + slot));
      }
    }
    d.result = kDialogResultOk;
    const int edited = c.edited;
    d.edit = [edited](MainDialogSession& session) {
      for (int slot = 0; slot < kSlotCount; ++slot) {
        session.entries[slot] = DefaultDeviceEntry(slot);
        if (slot < edited) session.entries[slot].ipAddress = 0x0B000001 + slot;
      }
    };
    COrvelConfigureApp app(p, s, d, f);
    app.InitInstance();
    MemoryProfileStore& saved = p.files[kSettingsPath];
    int slotWrites = 0;
    for (const auto& w : saved.writes) slotWrites += w.section == "IP Address";
    const std::string label = std::to_string(c.loaded) + "->" + std::to_string(c.edited);
    EXPECT_EQ(slotWrites, c.expectedSlots) << label;
    // Every store ends with the scan range.
    ASSERT_GE(saved.writes.size(), 2u) << label;
    EXPECT_EQ(saved.writes.back().section, "Stop Address Field3") << label;
    EXPECT_EQ(f.calls, std::vector<std::string>{c.firewall}) << label;
    for (int slot = c.edited; slot < c.expectedSlots; ++slot) {
      EXPECT_EQ(saved.Get("IP Address", std::to_string(slot)), "0") << label << " slot " << slot;
    }
  }
}

TEST_F(ConfigureAppTest, SaveCopiesBackEveryEditedValueAndTheScanRange) {
  SeedUnits(2);
  dialog.result = kDialogResultOk;
  dialog.edit = [](MainDialogSession& session) {
    session.entries[0].portIndex = 15;
    session.entries[0].macText = "00A0DEC0FFEE";
    session.entries[1].deviceName = "Renamed";
    session.entries[1].ipAddress = 0xC0A80105;
    session.scanStartAddress = 0xAC100A07;
    session.scanStopOctet = 200;
  };
  Run();
  EXPECT_EQ(SavedFile().Get("Device ID", "0"), "15");
  EXPECT_EQ(SavedFile().Get("Protect No", "0"), "00A0DEC0FFEE");
  EXPECT_EQ(SavedFile().Get("Device Name", "1"), "Renamed");
  EXPECT_EQ(SavedFile().Get("IP Address", "1"), "-1062731515");
  EXPECT_EQ(SavedFile().Get("Net Address", "Value"), "-1408235001");
  EXPECT_EQ(SavedFile().Get("Stop Address Field3", "Value"), "200");
}

TEST_F(ConfigureAppTest, SavedSlotsAllHaveTransportFlagOne) {
  SeedUnits(4);
  DialogKeeps(4);
  Run();
  for (int slot = 0; slot < 4; ++slot) {
    EXPECT_EQ(SavedFile().Get("Tcp", std::to_string(slot)), "1") << slot;
  }
}

TEST_F(ConfigureAppTest, ServerOutcomes) {
  struct Case {
    const char* name;
    bool serverRunning;
    bool inUse;
    bool failCommit;
    bool expectSaved;
    bool expectReload;
    std::vector<TextId> expectShown;
    bool unreadable = false;
    bool hung = false;
    bool outOfMemory = false;
    bool heldOpen = false;
  };
  const Case cases[] = {
      {"free server", true, false, false, true, true, {}},
      {"another program holds the file",
       true,
       false,
       true,
       false,
       false,
       {kTextSettingsFileHeldOpen},
       false,
       false,
       false,
       true},
      {"no server", false, false, false, true, false, {}},
      {"driver in use", true, true, false, false, false, {kTextSaveFailed}},
      {"write fails", true, false, true, false, false, {kTextSaveFailed}},
      {"write fails, no server", false, false, true, false, false, {kTextSaveFailed}},
      // The list showed defaults: the empty table must not switch the exception off.
      {"file unreadable at start", true, false, true, false, false, {kTextSaveFailed}, true},
      // Not taken for no server: it may be using the file.
      {"server does not answer",
       true,
       false,
       false,
       false,
       false,
       {kTextServerNotResponding},
       false,
       true},
      {"memory runs out reading the file",
       true,
       false,
       false,
       false,
       false,
       {kTextSaveFailed},
       false,
       false,
       true},
  };
  for (const Case& c : cases) {
    FakePlatform p;
    p.files[kSettingsPath].Set("IP Address", "0", "5");
    p.failCommit = c.failCommit;
    p.heldOpen = c.heldOpen;
    p.unreadable = c.unreadable;
    p.files[kSettingsPath].failAllocation = c.outOfMemory;
    FakeServerChannel s;
    s.running = c.serverRunning;
    s.inUse = c.inUse;
    s.hung = c.hung;
    FakeDialog d;
    d.result = kDialogResultOk;
    d.edit = [](MainDialogSession& session) { session.entries[0].deviceName = "Edited"; };
    FakeFirewall f;
    COrvelConfigureApp app(p, s, d, f);
    app.InitInstance();
    EXPECT_EQ(p.files[kSettingsPath].Get("Device Name", "0") == "Edited", c.expectSaved) << c.name;
    // Numbers as the server knows them: 1347 asks whether the driver is in use, 1346
    // asks for a reload; both carry 0 and 0.
    std::vector<FakeServerChannel::Message> expectedMessages;
    const bool notLoaded = c.unreadable || c.outOfMemory;
    if (c.serverRunning && !notLoaded && !c.hung) expectedMessages.push_back({1347, 0, 0});
    if (c.expectReload) expectedMessages.push_back({1346, 0, 0});
    EXPECT_EQ(s.messages, expectedMessages) << c.name;
    EXPECT_EQ(s.unanswered.size(), c.hung ? 1u : 0u) << c.name;
    EXPECT_EQ(p.shown, c.expectShown) << c.name;
    // The firewall follows the edited list whether or not the file is written, but
    // never a list that was not loaded.
    EXPECT_EQ(f.calls,
              notLoaded ? std::vector<std::string>{} : std::vector<std::string>{"register"})
        << c.name;
    if (c.outOfMemory) EXPECT_EQ(d.seen.entries[0], DefaultDeviceEntry(0)) << c.name;
  }
}

// One bounded wait per run: after the first message that got no answer the server is
// neither looked for nor asked again, and a caller can still tell that from no server.
TEST(ServerWindowChannel, AServerThatDidNotAnswerIsGoneForTheRun) {
  FakeServerChannel s;
  ASSERT_TRUE(s.Find());
  EXPECT_EQ(s.Ask(SRVM_PROBE_ADDRESS, 0, 1).reply, ServerChannel::Reply::kAnswered);
  s.hung = true;
  EXPECT_EQ(s.Ask(SRVM_QUERY_IN_USE, 0, 0).reply, ServerChannel::Reply::kNoAnswer);
  s.hung = false;  // even if it would answer again, nothing more is sent
  EXPECT_FALSE(s.Find());
  EXPECT_FALSE(s.Present());
  EXPECT_EQ(s.Send(SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0), 0u);
  EXPECT_EQ(s.Ask(SRVM_QUERY_IN_USE, 0, 0).reply, ServerChannel::Reply::kNoAnswer);
  EXPECT_EQ(s.findCalls, 1);
  EXPECT_EQ(s.unanswered.size(), 1u);
  // A probe may wait on the network for a unit; the rest is answered from memory.
  EXPECT_EQ(s.limitsMs, (std::vector<std::uint32_t>{kServerProbeLimitMs, kServerQueryLimitMs}));

  // A window that went away is no server, and may be found again.
  FakeServerChannel gone;
  ASSERT_TRUE(gone.Find());
  gone.running = false;
  EXPECT_EQ(gone.Ask(SRVM_QUERY_IN_USE, 0, 0).reply, ServerChannel::Reply::kNoServer);
  EXPECT_FALSE(gone.StoppedAnswering());
  gone.running = true;
  EXPECT_TRUE(gone.Find());

  // A server that stops between the two halves of a MAC, or within the active
  // addresses, leaves no made-up MAC of zeros and no made-up address.
  FakeServerChannel half;
  half.macs[0x0A000001u] = {1, 2, 3, 4, 5, 6};
  half.active = {0x0A090901u, 0x0A090902u};
  half.hangAfter = 2;
  ASSERT_TRUE(half.Find());
  EXPECT_EQ(ReadActiveAddresses(half), std::vector<std::uint32_t>{0x0A090901u});
  FakeServerChannel halfMac;
  halfMac.macs[0x0A000001u] = {1, 2, 3, 4, 5, 6};
  halfMac.hangAfter = 1;
  ASSERT_TRUE(halfMac.Find());
  EXPECT_EQ(ReadUnitMac(halfMac, 0x0A000001u), std::nullopt);
}

}  // namespace
}  // namespace orvel

namespace orvel {
namespace {

TEST(CommandLine, ParsesTheThreeSwitchesAndNothingElse) {
  using K = Command::Kind;
  const struct {
    std::vector<std::string> arguments;
    Command expected;
  } cases[] = {
      {{}, {K::kDialog, ""}},
      {{"/import", "D:\\a.ini"}, {K::kImport, "D:\\a.ini"}},
      {{"-EXPORT", "b.ini"}, {K::kExport, "b.ini"}},
      {{"/?"}, {K::kHelp, ""}},
      {{"/import"}, {K::kUsage, ""}},
      {{"/import", ""}, {K::kUsage, ""}},
      // An unquoted path with a blank arrives as two words.
      {{"/import", "D:\\My", "Setups.ini"}, {K::kUsage, ""}},
      {{"import", "a.ini"}, {K::kUsage, ""}},
      {{"/imports", "a.ini"}, {K::kUsage, ""}},
      {{"/?", "a.ini"}, {K::kUsage, ""}},
      {{"/"}, {K::kUsage, ""}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ParseCommandLine(c.arguments), c.expected) << ::testing::PrintToString(c.arguments);
  }
}

constexpr char kSetupPath[] = "D:\\Setups\\stage.ini";

class CommandLineTest : public ConfigureAppTest {
 protected:
  // Two units and a range that the range fields change: start 0.0.0.0, stop 0.
  void SeedSetupFile() {
    MemoryProfileStore& file = platform.files[kSetupPath];
    file.Set("Device Name", "0", "Stage left");
    file.Set("Device Name", "1", "Stage right");
    file.Set("IP Address", "0", "-1062731766");
    file.Set("IP Address", "1", "-1062731765");
    file.Set("Protect No", "0", "00A0DE112233");
    file.Set("Protect No", "1", "00A0DE445566");
    file.Set("Device ID", "0", "3");
    file.Set("Device ID", "1", "4");
    file.Set("Tcp", "0", "0");
    file.Set("Net Address", "Value", "0");
    file.Set("Stop Address Field3", "Value", "0");
  }
  int RunCommand(const std::vector<std::string>& arguments, bool administrator = true) {
    COrvelConfigureApp app(platform, server, dialog, firewall);
    autodetect::DialogSetupFiles setupFiles;
    const int code = app.RunCommand(ParseCommandLine(arguments), setupFiles, administrator);
    app.ExitInstance();
    return code;
  }
};

// What the Wine tests cannot bring about: the program and the server are real there.
TEST_F(CommandLineTest, ImportOutcomes) {
  enum Fault {
    kNone,
    kNoServer,
    kHung,
    kWriteFails,
    kSettingsUnreadable,
    kNotElevated,
    kSetupUnreadable,
    kHeldOpen,
    kFolderUnsafe
  };
  const struct {
    Fault fault;
    int expectCode;
    const char* expectLine;  // a part of the one line on the console
    std::vector<FakeServerChannel::Message> expectMessages;
    std::vector<std::string> expectFirewall;
  } cases[] = {
      {kNone,
       0,
       "2 units from D:\\Setups\\stage.ini saved in C:\\ProgramData\\VANTOR\\"
       "ORVELDRIVER\\orveld.ini; the server was asked to reload",
       {{1347, 0, 0}, {1346, 0, 0}},
       {"register"}},
      {kNoServer,
       0,
       "no server window was found, so nothing was asked to reload",
       {},
       {"register"}},
      // Not taken for no server: it may be using the file.
      {kHung, 4, "the server did not answer", {}, {"register"}},
      {kWriteFails, 4, "could not be written to C:\\ProgramData", {{1347, 0, 0}}, {"register"}},
      {kSettingsUnreadable, 4, "orveld.ini could not be read; nothing was written", {}, {}},
      {kNotElevated, 5, "needs full administrator rights", {}, {}},
      {kSetupUnreadable, 1, "stage.ini could not be read", {}, {}},
      {kHeldOpen,
       4,
       "another program has C:\\ProgramData\\VANTOR\\ORVELDRIVER\\orveld.ini open; nothing "
       "was changed",
       {{1347, 0, 0}},
       {"register"}},
      {kFolderUnsafe,
       4,
       "the settings folder cannot be made safe: \"C:\\ProgramData\\VANTOR\\ORVELDRIVER\" is "
       "owned by S-1-5-21-1000-2000-3000-1001, and cannot be moved aside; nothing was written",
       {{1347, 0, 0}},
       {"register"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expectLine);
    platform = FakePlatform();
    server = FakeServerChannel();
    firewall = FakeFirewall();
    SeedUnits(3);
    SeedSetupFile();
    server.running = c.fault != kNoServer;
    server.hung = c.fault == kHung;
    platform.failCommit = c.fault == kWriteFails || c.fault == kHeldOpen;
    platform.heldOpen = c.fault == kHeldOpen;
    if (c.fault == kFolderUnsafe) {
      platform.tree.AddFolder("C:\\ProgramData\\VANTOR", FakeFolderTree::kAdministrators,
                              FakeFolderTree::ParentLocked());
      platform.tree.AddFolder("C:\\ProgramData\\VANTOR\\ORVELDRIVER", FakeFolderTree::kUser);
      platform.tree.unmovable.insert("C:\\ProgramData\\VANTOR\\ORVELDRIVER");
    }
    if (c.fault == kSettingsUnreadable) platform.unreadablePaths.insert(kSettingsPath);
    if (c.fault == kSetupUnreadable) platform.unreadablePaths.insert(kSetupPath);
    platform.elevated = c.fault != kNotElevated;

    EXPECT_EQ(RunCommand({"/import", kSetupPath}), c.expectCode);
    EXPECT_EQ(dialog.runs, 0);
    EXPECT_EQ(platform.shown, std::vector<TextId>{});
    EXPECT_NE(platform.console.find(c.expectLine), std::string::npos) << platform.console;
    EXPECT_EQ(std::count(platform.console.begin(), platform.console.end(), '\n'), 1);
    EXPECT_EQ(server.messages, c.expectMessages);
    EXPECT_EQ(firewall.calls, c.expectFirewall);
    EXPECT_EQ(SavedFile().Get("Device Name", "0") == "Stage left", c.expectCode == 0);
  }
}

TEST_F(CommandLineTest, ExportRefusesWhatItCannotReadOrWrite) {
  SeedUnits(3);
  platform.unreadablePaths.insert(kSettingsPath);
  EXPECT_EQ(RunCommand({"/export", "D:\\out.ini"}), kExitUsageOrFile);
  // Defaults would pass for the list.
  EXPECT_FALSE(platform.files["D:\\out.ini"].Has("IP Address", "0"));
  platform.unreadablePaths.clear();
  platform.failCommit = true;
  EXPECT_EQ(RunCommand({"/export", "D:\\out.ini"}), kExitUsageOrFile);
  EXPECT_NE(platform.console.find("D:\\out.ini could not be written."), std::string::npos);
}

}  // namespace
}  // namespace orvel
