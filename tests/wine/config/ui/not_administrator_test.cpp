// Orvelcfg built as a user outside the Administrators group sees it, against the
// substitute server: text 10 once, "Save and Close" never enabled, Cancel never asks.
#include <gtest/gtest.h>

#include "config/resources/resource.h"
#include "tests/doubles/pinned_server_protocol.h"
#include "tests/wine/config/ui/orvelcfg_driver.h"
#include "tests/wine/support/substitute_server.h"

#ifndef ORVEL_NOT_ADMINISTRATOR_EXE
#error "ORVEL_NOT_ADMINISTRATOR_EXE must name the test build of Orvelcfg"
#endif

namespace orvel::test {
namespace {

constexpr DWORD kExitTimeoutMs = 20000;
constexpr DWORD kNoBoxWaitMs = 1500;
constexpr char kAdminRequired[] = "Administrator privileges are required to change the settings. ";

constexpr char kOneUnit[] =
    "[Device Name]\r\n0=Keys\r\n[IP Address]\r\n0=-1062731766\r\n"
    "[Protect No]\r\n0=00A0DE112233\r\n[Device ID]\r\n0=2\r\n[Tcp]\r\n0=1\r\n";

std::uint32_t Handle(HWND window) {
  return static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(window));
}

class NotAdministratorTest : public ::testing::Test {
 protected:
  SettingsFileGuard guard;
};

TEST_F(NotAdministratorTest, Text10OnceSaveStaysDisabledCancelAsksNothing) {
  // In use at start too: text 3 is for members of the group only, so nobody asks again.
  for (const bool inUse : {false, true}) {
    SCOPED_TRACE(inUse ? "in use" : "free");
    ASSERT_TRUE(WriteSettingsFile(kOneUnit));
    SubstituteServer server(inUse ? "unit 192.168.0.10 mac 00A0DE112233\ninuse 1\n"
                                  : "unit 192.168.0.10 mac 00A0DE112233\n");
    ASSERT_TRUE(server.Running()) << server.Error();
    Orvelcfg program;
    ASSERT_TRUE(program.Start(ORVEL_NOT_ADMINISTRATOR_EXE));
    HWND box = program.MessageBoxWindow();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kAdminRequired);
    PressButton(box, IDOK);
    ASSERT_TRUE(WaitGone(box));
    HWND dialog = program.MainDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(program.MessageBoxWindow(kNoBoxWaitMs), nullptr);
    EXPECT_FALSE(ItemEnabled(dialog, IDOK));

    const std::uint32_t inUseAnswer = inUse ? 1 : 0;
    std::vector<ServerLogRecord> expected = {
        In(SRVM_QUERY_IN_USE, 0, 0, inUseAnswer),
        In(SRVM_SET_NOTIFY_WINDOW, Handle(dialog), inUse ? 0u : 1u, 0),
        In(SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0, 0),
        In(SRVM_GET_MAC_ADDRESS, 0, 0xC0A8000Au, 0x11DEA000u),
        In(SRVM_GET_MAC_ADDRESS, 1, 0xC0A8000Au, 0x3322u)};
    EXPECT_EQ(server.Received(), expected);

    for (const std::uint32_t notice : {1u, 0u, 1u}) {
      ASSERT_TRUE(server.SendUseStateChanged(notice));
      EXPECT_FALSE(ItemEnabled(dialog, IDOK)) << "after lParam " << notice;
    }

    // A change, then Cancel: the question of text 9 is not for this user.
    PressButton(dialog, IDC_REMOVE_ALL);
    WaitUntil([&] { return !ItemEnabled(dialog, IDC_REMOVE_ALL); }, kExitTimeoutMs);
    ASSERT_TRUE(ItemEnabled(dialog, IDC_UNDO));
    PressButton(dialog, IDCANCEL);
    EXPECT_EQ(program.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
    EXPECT_EQ(program.MessageBoxWindow(0), nullptr);

    expected.push_back(In(SRVM_SET_NOTIFY_WINDOW, 0, 0, 0));
    EXPECT_EQ(server.Received(), expected);
    EXPECT_EQ(ReadFileText(SettingsFilePath()), std::optional<std::string>(kOneUnit));
  }
}

TEST_F(NotAdministratorTest, NoServerNoText10) {
  Orvelcfg program;
  ASSERT_TRUE(program.Start(ORVEL_NOT_ADMINISTRATOR_EXE));
  HWND dialog = program.MainDialog();
  ASSERT_NE(dialog, nullptr);
  EXPECT_EQ(program.MessageBoxWindow(kNoBoxWaitMs), nullptr);
  // Without a server it follows the group check alone.
  EXPECT_FALSE(ItemEnabled(dialog, IDOK));
  PressButton(dialog, IDCANCEL);
  EXPECT_EQ(program.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
}

TEST_F(NotAdministratorTest, CommandLineImportIsRefusedButExportWorks) {
  TempFolder folder;
  ASSERT_TRUE(folder.Ok());
  const std::string setup = folder.File("one.ini");
  ASSERT_TRUE(WriteFileText(setup, kOneUnit));
  ASSERT_TRUE(WriteSettingsFile(kOneUnit));
  SubstituteServer server("\n");
  ASSERT_TRUE(server.Running()) << server.Error();

  const CommandRun import = RunOrvelcfgBuild(ORVEL_NOT_ADMINISTRATOR_EXE, {"/import", setup});
  EXPECT_EQ(import.exitCode, 5u) << import.output;
  EXPECT_FALSE(import.showedWindow);
  EXPECT_EQ(server.Received(), std::vector<ServerLogRecord>{});
  // Reading the list needs no rights.
  const CommandRun exported =
      RunOrvelcfgBuild(ORVEL_NOT_ADMINISTRATOR_EXE, {"/export", folder.File("out.ini")});
  EXPECT_EQ(exported.exitCode, 0u) << exported.output;
  EXPECT_EQ(ReadFileText(SettingsFilePath()), std::optional<std::string>(kOneUnit));
}

}  // namespace
}  // namespace orvel::test
