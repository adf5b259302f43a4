#include "installer/common.h"

#include <gtest/gtest.h>

#include <type_traits>

#include "tests/doubles/installer_fakes.h"

namespace orvel::installer {
namespace {

using fakes::FakeWorld;

// Each kind of handle is a type of its own: a key does not go where a device set is asked for.
static_assert(!std::is_convertible_v<KeyHandle, DeviceSetHandle> &&
              !std::is_convertible_v<std::uintptr_t, KeyHandle>);

TEST(RecordOemInf, TakesTheFirstMissingIndexAndRemovalStopsAtTheGap) {
  FakeWorld w;
  w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem3.inf");
  w.registry.SetString(kInstallerKey, u"OemInfFileName0002", u"oem5.inf");
  w.devices.store[u"oem3.inf"] = u"a.inf";
  w.devices.store[u"oem5.inf"] = u"b.inf";

  RecordOemInf(w.platform, u"oem7.inf");
  EXPECT_EQ(w.registry.GetString(kInstallerKey, u"OemInfFileName0001"), u"oem7.inf");

  w.registry.DeleteTree(kInstallerKey);
  w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem3.inf");
  w.registry.SetString(kInstallerKey, u"OemInfFileName0002", u"oem5.inf");
  RemoveRecordedOemInfs(w.platform);
  EXPECT_EQ(w.devices.uninstallCalls, (std::vector<Text>{u"oem3.inf", u"oem5.inf"}));
  EXPECT_TRUE(w.devices.store.empty());
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"OemInfFileName0000"));
  EXPECT_EQ(w.registry.GetString(kInstallerKey, u"OemInfFileName0002"), u"");
  EXPECT_EQ(w.OpenHandles(), 0u);
}

TEST(RecordOemInf, AFailedProbeNeverOverwritesARecord) {
  FakeWorld w;
  w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem3.inf");
  w.plan.failing.insert("RegQueryValueEx");
  RecordOemInf(w.platform, u"oem9.inf");
  EXPECT_EQ(w.registry.GetString(kInstallerKey, u"OemInfFileName0000"), u"oem3.inf");
  EXPECT_EQ(w.registry.ValueCount(kInstallerKey), 1u);
  EXPECT_EQ(w.OpenHandles(), 0u);
}

TEST(RemoveRecordedOemInfs, TooLongNamesAndDataStopTheEnumeration) {
  FakeWorld w;
  w.registry.SetString(kInstallerKey, u"AVeryLongValueNameIndeed", u"x");
  w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem3.inf");
  RemoveRecordedOemInfs(w.platform);
  EXPECT_TRUE(w.devices.uninstallCalls.empty());
  // The delete pass still runs.
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"OemInfFileName0000"));
}

TEST(RequestReboot, WritesBothKeysAndStopsAtTheFirstFailure) {
  struct Case {
    const char* fail;
    bool result;
    bool integrated;
    bool installer;
  };
  const Case cases[] = {
      {"", true, true, true},
      {"RegCreateKeyEx", false, false, false},
      {"RegSetValueEx", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fail);
    FakeWorld w;
    if (*c.fail) w.plan.failing.insert(c.fail);
    EXPECT_EQ(RequestReboot(w.platform), c.result);
    EXPECT_EQ(
        w.registry.GetDword(kIntegratedInstallerKey, u"RebootRequest", RegView::k32).has_value(),
        c.integrated);
    EXPECT_EQ(w.registry.GetDword(kInstallerKey, u"RebootRequest").has_value(), c.installer);
    EXPECT_EQ(w.OpenHandles(), 0u);
  }
  FakeWorld w;
  ASSERT_TRUE(RequestReboot(w.platform));
  // The 32-bit view lives under WOW6432Node, not in the native key.
  EXPECT_TRUE(
      w.registry.GetDword(u"Software\\WOW6432Node\\Vantor\\IntegratedInstaller", u"RebootRequest"));
  EXPECT_FALSE(w.registry.GetDword(kIntegratedInstallerKey, u"RebootRequest", RegView::k64));
  EXPECT_EQ(w.registry.GetDword(kInstallerKey, u"RebootRequest"), 0u);
}

TEST(PostInstallerMessage, SendsTheNumberAndClosesTheRecord) {
  FakeWorld w;
  PostInstallerMessage(w.session, kInstallMessageUser, 25008);
  ASSERT_EQ(w.session.messages.size(), 1u);
  EXPECT_EQ(w.session.messages[0], (fakes::FakeSession::Message{kInstallMessageUser, 25008}));
  EXPECT_EQ(w.OpenHandles(), 0u);
  w.plan.failing.insert("MsiCreateRecord");
  PostInstallerMessage(w.session, kInstallMessageError, 25005);
  EXPECT_EQ(w.session.messages.size(), 1u);
}

TEST(PathHelpers, SplitAPathIntoFolderAndName) {
  EXPECT_EQ(FolderOf(u"C:\\pkg\\drv.inf"), u"C:\\pkg");
  EXPECT_EQ(FolderOf(u"C:\\drv.inf"), u"C:\\");
  EXPECT_EQ(FindFileName(u"C:\\Windows\\INF\\oem12.inf"), u"oem12.inf");
  EXPECT_EQ(RemoveBackslash(u"C:\\Windows\\system32\\"), u"C:\\Windows\\system32");
  EXPECT_EQ(RemoveBackslash(u"C:\\"), u"C:\\");
  EXPECT_EQ(IndexedName(u"OemInfFileName", 0), u"OemInfFileName0000");
  EXPECT_EQ(IndexedName(u"OemInfFileName", 12345), u"OemInfFileName12345");
  EXPECT_FALSE(JoinPath(Text(250, u'a'), u"0123456789"));
  EXPECT_TRUE(JoinPath(Text(248, u'a'), u"0123456789"));
}

}  // namespace
}  // namespace orvel::installer
