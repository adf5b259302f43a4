#include "installer/setup_file_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "config/autodetect/setup_file.h"
#include "config/core/configure_app.h"
#include "config/core/device_table.h"
#include "config/core/ini_file_store.h"
#include "tests/doubles/fake_firewall_updater.h"
#include "tests/doubles/fake_server_channel.h"
#include "tests/doubles/fake_settings_folder.h"
#include "tests/doubles/installer_fakes.h"
#include "tests/doubles/memory_file_access.h"

namespace orvel::installer {
namespace {

using fakes::FakeWorld;
using orvel::testing::FakeFirewall;
using orvel::testing::FakeFolderTree;
using orvel::testing::MemoryFileAccess;

constexpr char kSetupPath[] = "\\\\server\\share\\hall.ini";
constexpr char kProgramData[] = "C:\\ProgramData";
constexpr char kVantor[] = "C:\\ProgramData\\VANTOR";
constexpr char kFolder[] = "C:\\ProgramData\\VANTOR\\ORVELDRIVER";
constexpr char kIni[] = "C:\\ProgramData\\VANTOR\\ORVELDRIVER\\orveld.ini";
constexpr char kBackup[] = "C:\\ProgramData\\VANTOR\\ORVELDRIVER\\orveld.ini.before-setup";
constexpr char16_t kFolderValue[] = u"C:\\ProgramData\\VANTOR\\ORVELDRIVER\\";
constexpr char kElsewhere[] = "C:\\Users\\Public\\Elsewhere";

const std::string kSetupText =
    "[Device Name]\r\n0=Booth\r\n[IP Address]\r\n0=-1062731490\r\n[Protect No]\r\n0=00\r\n"
    "[Device ID]\r\n0=4\r\n[Tcp]\r\n0=0\r\n[Net Address]\r\nValue=-1062731518\r\n";
const std::string kEmptySetupText =
    "[Device Name]\r\n0=UNIT1\r\n[IP Address]\r\n0=0\r\n[Protect No]\r\n0=00\r\n"
    "[Device ID]\r\n0=0\r\n";
const std::string kEarlier = "[Device Name]\r\n0=Earlier\r\n[IP Address]\r\n0=5\r\n";

// The product's folders, and the common folder above them.
FakeFolderTree SafeTree() {
  FakeFolderTree tree;
  tree.AddFolder("C:", FakeFolderTree::kSystem);
  tree.AddFolder(kProgramData, FakeFolderTree::kSystem, FakeFolderTree::ParentLocked());
  tree.AddFolder(kVantor, FakeFolderTree::kAdministrators, FakeFolderTree::ParentLocked());
  tree.AddFolder(kFolder);
  return tree;
}

// Takes a folder and what it holds out of the tree.
void Remove(FakeFolderTree& tree, const std::string& path) {
  std::erase_if(tree.nodes, [&path](const auto& node) {
    return node.first == path || node.first.rfind(path + "\\", 0) == 0;
  });
}

// An installer action's world over a folder tree.
struct ActionWorld {
  explicit ActionWorld(FakeFolderTree& tree) : tree(tree) {
    w.session.properties[u"AdminUser"] = u"1";
    w.session.properties[u"SETUPFILE"] = u"\\\\server\\share\\hall.ini";
    w.session.properties[u"SettingsFolder"] = kFolderValue;
    setupFile.files[kSetupPath] = kSetupText;
  }
  // Checks the file and hands the action its CustomActionData, as the package does.
  std::uint32_t Run(std::uint32_t (*action)(SetupFileAccess&)) {
    if (action == &WriteSetupFileSettings) {
      if (CheckSetupFile(access) != kErrorSuccess) return kErrorInstallFailure;
      w.session.properties[u"CustomActionData"] = w.session.properties[u"WriteSetupFileSettings"];
    } else {
      w.session.properties[u"CustomActionData"] = kFolderValue;
    }
    return action(access);
  }
  FakeFolderTree& tree;
  FakeWorld w;
  MemoryFileAccess setupFile;
  Latin1Codec codec;
  FakeFirewall firewall;
  SetupFileAccess access{w.platform, setupFile, tree, codec, firewall, tree};
};

TEST(SetupFileSettings, TheCheckedListIsWrittenAndEveryFailureLeavesTheFileAsItWas) {
  struct Case {
    const char* name;
    const char* earlier;  // orveld.ini before; nullptr: none
    bool earlierUnreadable;
    bool heldOpen;
    bool staleBackup;  // an earlier run's copy lies next to it
    std::uint32_t expected;
    bool emptyList = false;
    bool administrator = true;
  };
  const Case cases[] = {
      {"no earlier file", nullptr, false, false, false, kErrorSuccess},
      {"an earlier file", kEarlier.c_str(), false, false, true, kErrorSuccess},
      // Orvelcfg never replaces a file it could not read; nor does the install.
      {"earlier file unreadable", kEarlier.c_str(), true, false, false, kErrorInstallFailure},
      {"held open by another program", kEarlier.c_str(), false, true, false, kErrorInstallFailure},
      // An empty list clears the earlier one and, as in Orvelcfg, closes the firewall.
      {"an empty list", kEarlier.c_str(), false, false, false, kErrorSuccess, true},
      // Windows may let a standard user repair the product: the system would write.
      {"no administrator", kEarlier.c_str(), false, false, false, kErrorInstallFailure, false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFolderTree tree = SafeTree();
    ActionWorld a(tree);
    a.setupFile.files[kSetupPath] = c.emptyList ? kEmptySetupText : kSetupText;
    if (c.earlier) tree.AddFile(kIni, c.earlier);
    if (c.earlierUnreadable) tree.nodes[kIni].names = 2;
    if (c.heldOpen) tree.openElsewhere.insert(kIni);
    if (c.staleBackup) tree.AddFile(kBackup, "stale");
    if (!c.administrator) a.w.session.properties.erase(u"AdminUser");

    const std::uint32_t result = a.Run(&WriteSetupFileSettings);
    EXPECT_EQ(result, c.expected);
    if (c.expected == kErrorSuccess) {
      const std::string& written = tree.Bytes(kIni);
      EXPECT_NE(written.find(c.emptyList ? "0=UNIT1" : "0=Booth"), std::string::npos);
      EXPECT_NE(written.find(c.emptyList ? "[IP Address]\r\n0=0" : "[Tcp]\r\n0=1"),
                std::string::npos);
      EXPECT_EQ(a.firewall.calls, std::vector<std::string>{c.emptyList ? "disable" : "register"});
    } else {
      EXPECT_TRUE(a.firewall.calls.empty());
      EXPECT_EQ(a.w.session.messages.back().number, c.administrator ? 25011 : 25012);
      EXPECT_EQ(tree.Bytes(kIni), c.earlier);
    }
    if (c.heldOpen) EXPECT_EQ(a.w.session.Logged(u"another program has the file open"), 1u);
    tree.openElsewhere.clear();

    EXPECT_EQ(a.Run(&RollbackSetupFileSettings), kErrorSuccess);
    EXPECT_EQ(tree.Has(kIni), c.earlier != nullptr);
    if (c.earlier) EXPECT_EQ(tree.Bytes(kIni), c.earlier);
    EXPECT_FALSE(tree.Has(kBackup));
    EXPECT_EQ(a.w.OpenHandles(), 0u);
    EXPECT_TRUE(tree.held.empty());
  }
}

// Where SETUPFILE leads: a file shipped beside the package is named without a folder.
TEST(SetupFilePath, PlacesANameBesideThePackage) {
  const Text local = u"C:\\Windows\\ccmcache\\4\\Orvel.msi";
  const Text share = u"\\\\depot\\midi\\orvel\\Orvel.msi";
  const struct {
    const char16_t* value;
    Text origin;
    std::optional<Text> expected;
  } cases[] = {
      {u"D:\\setup\\hall-a.ini", local, u"D:\\setup\\hall-a.ini"},
      {u"\\\\fileserver\\studio\\hall-a.ini", local, u"\\\\fileserver\\studio\\hall-a.ini"},
      {u"hall-a.ini", local, u"C:\\Windows\\ccmcache\\4\\hall-a.ini"},
      {u"setups/hall-a.ini", share, u"\\\\depot\\midi\\orvel\\setups/hall-a.ini"},
      {u"..\\hall-a.ini", share, u"\\\\depot\\midi\\orvel\\..\\hall-a.ini"},
      {u"\\setups\\hall-a.ini", share, u"\\\\depot\\midi\\setups\\hall-a.ini"},
      {u"\\setups\\hall-a.ini", local, u"C:\\setups\\hall-a.ini"},
      {u"hall-a.ini", u"", std::nullopt},
      {u"hall-a.ini", u"Orvel.msi", std::nullopt},
      {u"", local, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SetupFilePath(c.value, c.origin), c.expected) << Utf8Of(c.value);
  }
  // The longest path Windows opens, and no more.
  const Text folder = u"C:\\" + Text(100, u'd') + u"\\Orvel.msi";
  const Text fits(kMaxSetupFilePath - 104, u'f');
  EXPECT_EQ(SetupFilePath(fits, folder)->size(), kMaxSetupFilePath);
  EXPECT_EQ(SetupFilePath(fits + u"f", folder), std::nullopt);
}

// Orvelcfg over the same tree, as the elevated program meets it.
class TreeAppPlatform final : public AppPlatform {
 public:
  explicit TreeAppPlatform(FakeFolderTree& tree) : tree_(tree) {}
  std::optional<std::string> CommonAppDataFolder() override { return kProgramData; }
  bool ProcessElevated() override { return true; }
  FolderGuardPlatform& Folders() override { return tree_; }
  bool SingleInstanceMutexExists(const std::string&) override { return false; }
  void CreateSingleInstanceMutex(const std::string&) override {}
  void ReleaseSingleInstanceMutex() override {}
  MachineMutexFacts CreateMachineInstanceMutex(const std::string&) override {
    return {MachineMutexFacts::Found::kMade, true};
  }
  TakeResult TakeMachineInstanceMutex() override { return TakeResult::kTaken; }
  void ReleaseMachineInstanceMutex() override {}
  MachineMutexFacts OpenMachineInstanceMutex(const std::string&) override {
    return {MachineMutexFacts::Found::kNothing, false};
  }
  void InitCommonControls() override {}
  std::string ModuleFileName() override { return "D:\\Tools\\Orvelcfg.exe"; }
  std::unique_ptr<SettingsStore> OpenSettings(const std::string& path) override {
    return std::make_unique<Store>(tree_, path);
  }
  FileAccess& SettingsFiles() override { return tree_; }
  std::unique_ptr<SettingsStore> OpenSetupFile(const std::string& path) override {
    return std::make_unique<Store>(setupFiles, path);
  }
  void ShowMessage(TextId text) override { shown.push_back(text); }
  void WriteConsoleText(const std::string& text) override { console += text; }

  MemoryFileAccess setupFiles;
  std::vector<TextId> shown;
  std::string console;

 private:
  class Store final : public SettingsStore {
   public:
    Store(FileAccess& files, const std::string& path)
        : files_(files), store_(files, codec_, path) {}
    std::string GetString(const std::string& s, const std::string& k,
                          const std::string& d) override {
      return store_.GetString(s, k, d);
    }
    std::int32_t GetInt(const std::string& s, const std::string& k, std::int32_t d) override {
      return store_.GetInt(s, k, d);
    }
    bool WriteString(const std::string& s, const std::string& k, const std::string& v) override {
      return store_.WriteString(s, k, v);
    }
    bool Commit() override { return store_.Commit(); }
    bool Readable() const override { return store_.Readable(); }
    bool HeldOpen() const override { return files_.LastReplaceHeldOpen(); }

   private:
    FileAccess& files_;
    Latin1Codec codec_;
    IniFileStore store_;
  };
  FakeFolderTree& tree_;
};

class NoDialog final : public MainDialogRunner {
 public:
  int RunModal(MainDialogSession& session) override {
    seen = session.entries[0].deviceName;
    session.entries[0].deviceName = "Edited";
    session.entries[0].ipAddress = 7;
    return kDialogResultOk;
  }
  std::string seen;
};

// Every program that writes in the settings folder, against every state a standard user
// can leave it in: what each may change, and that nothing outside the folder changes.
TEST(SettingsFolderHold, EveryWriterAgainstEveryStateOfTheFolder) {
  using Entry = AccessEntry;
  const std::string aside = std::string(kFolder) + ".unsafe-20261208-120000";
  enum class Writer { kSave, kImport, kClear, kWrite, kRollback, kCommit };
  const std::pair<Writer, const char*> writers[] = {
      {Writer::kSave, "save"},   {Writer::kImport, "/import"},    {Writer::kClear, "clear"},
      {Writer::kWrite, "write"}, {Writer::kRollback, "rollback"}, {Writer::kCommit, "commit"}};
  struct State {
    const char* what;
    std::function<void(FakeFolderTree&)> make;
    bool madeSafe;         // writers that make the folder safe go on
    bool safeAsItIs;       // writers that change nothing of the folder go on: it is there and safe
    bool carried = false;  // the list ends in a new folder, the old one moved aside
    bool fileRefused = false;  // orveld.ini itself is refused
  };
  const State states[] = {
      {"safe, the parent as the common folder gives it", [](FakeFolderTree&) {}, true, true},
      {"nothing there yet", [](FakeFolderTree& t) { Remove(t, kVantor); }, true, false},
      {"the parent a user's",
       [](FakeFolderTree& t) { t.nodes[kVantor].owner = FakeFolderTree::kUser; }, true, false},
      {"a user may delete what the parent holds",
       [](FakeFolderTree& t) {
         t.nodes[kVantor].entries.push_back(
             {Entry::Type::kAllow, 0, kRightDeleteChild, FakeFolderTree::kUsers});
       },
       true, false},
      {"the parent a link",
       [](FakeFolderTree& t) {
         Remove(t, kVantor);
         t.AddLink(kVantor, kElsewhere);
       },
       true, false},
      {"the settings folder a user's",
       [](FakeFolderTree& t) { t.nodes[kFolder].owner = FakeFolderTree::kUser; }, true, false,
       true},
      {"a user may change the settings folder's list",
       [](FakeFolderTree& t) {
         t.nodes[kFolder].entries.push_back(
             {Entry::Type::kAllow, 0, kRightWriteDac, FakeFolderTree::kUser});
       },
       true, false, true},
      {"the settings folder a link",
       [](FakeFolderTree& t) {
         Remove(t, kFolder);
         t.AddLink(kFolder, std::string(kElsewhere) + "\\ORVELDRIVER");
       },
       true, false},
      {"orveld.ini a link",
       [](FakeFolderTree& t) {
         t.nodes.erase(kIni);
         t.AddLink(kIni, std::string(kElsewhere) + "\\ORVELDRIVER\\orveld.ini");
       },
       true, true, false, true},
      {"a user's settings folder that cannot be moved",
       [](FakeFolderTree& t) {
         t.nodes[kFolder].owner = FakeFolderTree::kUser;
         t.unmovable.insert(kFolder);
       },
       false, false},
      {"a settings folder that cannot be held",
       [](FakeFolderTree& t) { t.unholdable.insert(kFolder); }, false, false},
      {"a user swaps the folder while it is held",
       [](FakeFolderTree& t) {
         t.afterHold = [&t](const std::string& path) {
           if (path == kFolder) EXPECT_FALSE(t.UserMove(kFolder, std::string(kFolder) + ".x"));
         };
       },
       true, true},
  };
  for (const State& state : states) {
    for (const auto& [writer, name] : writers) {
      SCOPED_TRACE(std::string(state.what) + ", " + name);
      FakeFolderTree tree = SafeTree();
      tree.AddFile(kIni, kEarlier);
      tree.AddFile(kBackup, "backup");
      // Where a link leads: a list a user made, which no writer may touch.
      tree.AddFolder(kElsewhere, FakeFolderTree::kUser);
      tree.AddFolder(std::string(kElsewhere) + "\\ORVELDRIVER", FakeFolderTree::kUser);
      tree.AddFile(std::string(kElsewhere) + "\\ORVELDRIVER\\orveld.ini", "theirs",
                   FakeFolderTree::kUser);
      state.make(tree);
      const std::map<std::string, FakeFolderTree::Node> before = tree.nodes;
      const bool writes = writer != Writer::kRollback && writer != Writer::kCommit;
      const bool goesOn = writes ? state.madeSafe : state.safeAsItIs;

      ActionWorld a(tree);
      TreeAppPlatform app(tree);
      testing::FakeServerChannel server;
      server.running = false;
      NoDialog dialog;
      FakeFirewall firewall;
      COrvelConfigureApp orvelcfg(app, server, dialog, firewall);
      bool wrote = false;
      switch (writer) {
        case Writer::kSave:
          orvelcfg.InitInstance();
          wrote = app.shown.empty();
          EXPECT_EQ(app.shown,
                    wrote ? std::vector<TextId>{} : std::vector<TextId>{kTextSaveFailed});
          if (wrote) EXPECT_NE(tree.Bytes(kIni).find("0=Edited"), std::string::npos);
          if (state.carried) EXPECT_EQ(dialog.seen, "Earlier");
          break;
        case Writer::kImport: {
          app.setupFiles.files["D:\\hall.ini"] = kSetupText;
          autodetect::DialogSetupFiles setupFiles;
          const int code =
              orvelcfg.RunCommand({Command::Kind::kImport, "D:\\hall.ini"}, setupFiles, true);
          wrote = code == kExitDone;
          EXPECT_EQ(code, wrote ? kExitDone : kExitNotWritten) << app.console;
          if (wrote) EXPECT_NE(tree.Bytes(kIni).find("0=Booth"), std::string::npos);
          break;
        }
        case Writer::kClear:
          wrote = a.Run(&ClearSettingsFolderLinks) == kErrorSuccess;
          if (state.carried) EXPECT_EQ(tree.Bytes(kIni), kEarlier);
          break;
        case Writer::kWrite:
          wrote = a.Run(&WriteSetupFileSettings) == kErrorSuccess;
          if (wrote) EXPECT_NE(tree.Bytes(kIni).find("0=Booth"), std::string::npos);
          if (state.carried) EXPECT_EQ(tree.Bytes(kBackup), kEarlier);
          break;
        case Writer::kRollback:
          EXPECT_EQ(a.Run(&RollbackSetupFileSettings), kErrorSuccess);
          wrote = tree.Has(kIni) && tree.Bytes(kIni) == "backup";
          break;
        case Writer::kCommit:
          EXPECT_EQ(a.Run(&CommitSetupFileSettings), kErrorSuccess);
          wrote = before.count(kBackup) && !tree.Has(kBackup);
          break;
      }
      const bool refusesFile =
          state.fileRefused && (writer == Writer::kSave || writer == Writer::kImport ||
                                writer == Writer::kWrite || writer == Writer::kRollback);
      EXPECT_EQ(wrote, goesOn && !refusesFile);
      if (!writes && !goesOn) EXPECT_TRUE(tree.changes.empty());
      if (!wrote && writer == Writer::kWrite) {
        EXPECT_EQ(a.w.session.messages.back().number, 25011);
      }
      // Nothing outside the product's folder changes, nor what a link led to.
      for (const std::string& change : tree.changes) {
        EXPECT_NE(change.find(kVantor), std::string::npos) << change;
        EXPECT_EQ(change.find(kElsewhere), std::string::npos) << change;
      }
      for (const auto& [path, node] : before) {
        if (path.rfind(kElsewhere, 0) == 0) {
          EXPECT_TRUE(tree.Has(path)) << path;
          EXPECT_EQ(tree.nodes[path].bytes, node.bytes) << path;
        }
      }
      // A folder that was replaced is kept whole for the administrator to look at.
      if (state.carried && writes) {
        EXPECT_EQ(tree.Bytes(aside + "\\orveld.ini"), kEarlier);
        EXPECT_EQ(tree.Bytes(aside + "\\orveld.ini.before-setup"), "backup");
      }
      EXPECT_TRUE(tree.held.empty());
      orvelcfg.ExitInstance();
    }
  }
}

}  // namespace
}  // namespace orvel::installer
