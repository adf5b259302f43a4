#include "installer/setup_file_settings.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/doubles/fake_firewall_updater.h"
#include "tests/doubles/installer_fakes.h"

namespace orvel::installer {
namespace {

using fakes::FakeWorld;
using orvel::testing::FakeFirewall;

constexpr char kSetupPath[] = "\\\\server\\share\\hall.ini";
constexpr char16_t kFolder[] = u"c:\\programdata\\vantor\\orveldriver\\";
constexpr char kIni[] = "c:\\programdata\\vantor\\orveldriver\\orveld.ini";
constexpr char kBackup[] = "c:\\programdata\\vantor\\orveldriver\\orveld.ini.before-setup";

// Files with content, whose names the installer's own file calls see and delete.
class SharedFiles final : public FileAccess {
 public:
  explicit SharedFiles(fakes::FakeFiles& names) : names_(names) {}
  FileReadStatus ReadWholeFile(const std::string& path, std::string& bytes) override {
    if (unreadable.count(path)) return FileReadStatus::kError;
    if (!names_.files.count(Wide(path))) return FileReadStatus::kMissing;
    bytes = content[path];
    return FileReadStatus::kOk;
  }
  bool ReplaceWholeFile(const std::string& path, const std::string& bytes) override {
    if (failReplace.count(path)) return false;
    content[path] = bytes;
    names_.files[Wide(path)] = {};
    return true;
  }
  void Put(const std::string& path, const std::string& bytes) { ReplaceWholeFile(path, bytes); }
  bool Has(const std::string& path) const { return names_.files.count(Wide(path)) != 0; }
  static Text Wide(const std::string& path) { return Text(path.begin(), path.end()); }

  std::map<std::string, std::string> content;
  std::set<std::string> unreadable, failReplace;

 private:
  fakes::FakeFiles& names_;
};

const std::string kSetupText =
    "[Device Name]\r\n0=Booth\r\n[IP Address]\r\n0=-1062731490\r\n[Protect No]\r\n0=00\r\n"
    "[Device ID]\r\n0=4\r\n[Tcp]\r\n0=0\r\n[Net Address]\r\nValue=-1062731518\r\n";
const std::string kEmptySetupText =
    "[Device Name]\r\n0=UNIT1\r\n[IP Address]\r\n0=0\r\n[Protect No]\r\n0=00\r\n"
    "[Device ID]\r\n0=0\r\n";
const std::string kEarlier = "[Device Name]\r\n0=Earlier\r\n[IP Address]\r\n0=5\r\n";

TEST(SetupFileSettings, TheCheckedListIsWrittenAndEveryFailureLeavesTheFileAsItWas) {
  struct Case {
    const char* name;
    const char* earlier;  // orveld.ini before; nullptr: none
    bool earlierUnreadable;
    bool replaceFails;
    bool staleBackup;  // an earlier run's copy lies next to it
    std::uint32_t expected;
    bool emptyList = false;
  };
  const Case cases[] = {
      {"no earlier file", nullptr, false, false, false, kErrorSuccess},
      {"an earlier file", kEarlier.c_str(), false, false, true, kErrorSuccess},
      // Orvelcfg never replaces a file it could not read; nor does the install.
      {"earlier file unreadable", kEarlier.c_str(), true, false, false, kErrorInstallFailure},
      {"replacement fails", kEarlier.c_str(), false, true, false, kErrorInstallFailure},
      // An empty list clears the earlier one and, as in Orvelcfg, closes the firewall.
      {"an empty list", kEarlier.c_str(), false, false, false, kErrorSuccess, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    SharedFiles files(w.files);
    Latin1Codec codec;
    FakeFirewall firewall;
    SetupFileAccess access{w.platform, files, files, codec, firewall};
    files.Put(kSetupPath, c.emptyList ? kEmptySetupText : kSetupText);
    if (c.earlier) files.Put(kIni, c.earlier);
    if (c.earlierUnreadable) files.unreadable.insert(kIni);
    if (c.replaceFails) files.failReplace.insert(kIni);
    if (c.staleBackup) files.Put(kBackup, "stale");
    w.session.properties[u"SETUPFILE"] = u"\\\\server\\share\\hall.ini";
    w.session.properties[u"SettingsFolder"] = kFolder;

    ASSERT_EQ(CheckSetupFile(access), kErrorSuccess);
    // The in-script actions write what was checked, whatever the file holds by then.
    files.content[kSetupPath] = "[Other]\r\n";
    w.session.properties[u"CustomActionData"] = w.session.properties[u"WriteSetupFileSettings"];
    EXPECT_EQ(WriteSetupFileSettings(access), c.expected);
    if (c.expected == kErrorSuccess) {
      const std::string& written = files.content[kIni];
      EXPECT_NE(written.find(c.emptyList ? "0=UNIT1" : "0=Booth"), std::string::npos);
      EXPECT_NE(written.find(c.emptyList ? "[IP Address]\r\n0=0" : "[Tcp]\r\n0=1"),
                std::string::npos);
      EXPECT_EQ(firewall.calls, std::vector<std::string>{c.emptyList ? "disable" : "register"});
    } else {
      EXPECT_TRUE(firewall.calls.empty());
      EXPECT_EQ(w.session.messages.back().number, 25011);
      EXPECT_EQ(files.content[kIni], c.earlier);
    }
    files.failReplace.clear();

    w.session.properties[u"CustomActionData"] = kFolder;
    EXPECT_EQ(RollbackSetupFileSettings(access), kErrorSuccess);
    EXPECT_EQ(files.Has(kIni), c.earlier != nullptr);
    if (c.earlier) EXPECT_EQ(files.content[kIni], c.earlier);
    EXPECT_FALSE(files.Has(kBackup));
    EXPECT_EQ(w.OpenHandles(), 0u);
  }
}

}  // namespace
}  // namespace orvel::installer
