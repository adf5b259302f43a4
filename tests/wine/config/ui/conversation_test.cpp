// The real Orvelcfg.exe and the substitute server: what the main dialog says to the
// server when it opens and closes, how it opens on what the server reports, and how it
// follows the driver's use.
#include <gtest/gtest.h>

#include <algorithm>

#include "config/resources/resource.h"
#include "tests/doubles/pinned_server_protocol.h"
#include "tests/wine/config/ui/orvelcfg_driver.h"
#include "tests/wine/support/substitute_server.h"

namespace orvel::test {
namespace {

constexpr DWORD kExitTimeoutMs = 20000;
// Long enough for a message box that is coming to show up.
constexpr DWORD kNoBoxWaitMs = 1500;

constexpr char kQuitApplications[] =
    "Quit all applications that use the Quorin Network Driver in order to change settings.\n";
constexpr char kSaveBeforeClosing[] = " Save the current settings before closing?";
constexpr char kServerNotResponding[] =
    "The Quorin Network Driver's server does not respond. The settings were not saved.";
// How long a user may be kept waiting by a server that has stopped answering.
constexpr DWORD kHungServerBoundMs = 10000;

constexpr std::uint32_t kKeysAddress = 0xC0A8000Au;  // 192.168.0.10
// Slot 0 "Keys" at 192.168.0.10 with MAC 00A0DE112233, slot 1 "Drums" at 10.0.0.1.
constexpr char kTwoUnits[] =
    "[Device Name]\r\n0=Keys\r\n1=Drums\r\n"
    "[IP Address]\r\n0=-1062731766\r\n1=167772161\r\n"
    "[Protect No]\r\n0=00A0DE112233\r\n1=00A0DE445566\r\n"
    "[Device ID]\r\n0=2\r\n1=15\r\n"
    "[Tcp]\r\n0=1\r\n1=1\r\n";

std::uint32_t Handle(HWND window) {
  return static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(window));
}

// What every opening with a server sends before the MAC check of slot 0.
std::vector<ServerLogRecord> Opening(HWND dialog, std::uint32_t notifyLParam,
                                     std::vector<std::uint32_t> active = {}) {
  std::vector<ServerLogRecord> records = {
      In(SRVM_QUERY_IN_USE, 0, 0, 0), In(SRVM_SET_NOTIFY_WINDOW, Handle(dialog), notifyLParam, 0),
      In(SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0,
         static_cast<std::uint32_t>(active.size()))};
  for (std::uint32_t i = 0; i < active.size(); ++i) {
    records.push_back(In(SRVM_GET_ACTIVE_ADDRESS, i, 0, active[i]));
  }
  return records;
}

void Append(std::vector<ServerLogRecord>& records, std::initializer_list<ServerLogRecord> more) {
  records.insert(records.end(), more.begin(), more.end());
}

// The MAC check of slot 0 when the server knows 00A0DE112233 for it.
void AppendKeysMacCheck(std::vector<ServerLogRecord>& records) {
  Append(records, {In(SRVM_GET_MAC_ADDRESS, 0, kKeysAddress, 0x11DEA000u),
                   In(SRVM_GET_MAC_ADDRESS, 1, kKeysAddress, 0x3322u)});
}

std::string MacShown(HWND dialog) {
  std::string mac;
  for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) mac += ItemText(dialog, id);
  return mac;
}

std::string Value(const char* section, const char* key) {
  char text[256] = {};
  GetPrivateProfileStringA(section, key, "<missing>", text, sizeof(text),
                           SettingsFilePath().c_str());
  return text;
}

long CountOf(const std::vector<ServerLogRecord>& records, std::uint32_t message,
             std::uint32_t wParam) {
  return std::count_if(records.begin(), records.end(), [&](const ServerLogRecord& r) {
    return r.message == message && r.wParam == wParam;
  });
}

class ConversationTest : public ::testing::Test {
 protected:
  // The box that must be up now, with its text; pressing `button` closes it.
  void Answer(const char* text, int button) {
    HWND box = program.MessageBoxWindow();
    ASSERT_NE(box, nullptr) << "no message box: " << text;
    EXPECT_EQ(MessageBoxText(box), text);
    PressButton(box, button);
    ASSERT_TRUE(WaitGone(box));
  }
  // Remove All marks the list modified without asking anything; it then disables itself.
  void ModifyList(HWND dialog) {
    ASSERT_TRUE(ItemEnabled(dialog, IDC_REMOVE_ALL));
    PressButton(dialog, IDC_REMOVE_ALL);
    WaitUntil([&] { return !ItemEnabled(dialog, IDC_REMOVE_ALL); }, kExitTimeoutMs);
    ASSERT_FALSE(ItemEnabled(dialog, IDC_REMOVE_ALL));
    EXPECT_TRUE(ItemEnabled(dialog, IDC_UNDO));
  }

  SettingsFileGuard guard;
  Orvelcfg program;
};

TEST_F(ConversationTest, OpeningAsksInUseRegistersReadsActiveAddressesAndChecksSlot0) {
  ASSERT_TRUE(WriteSettingsFile(kTwoUnits));
  SubstituteServer server(
      "unit 192.168.0.10 mac 00A0DE112233\nunit 10.0.0.1 mac 00A0DE445566\n"
      "active 10.9.9.9 10.9.9.8 10.9.9.9\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_TRUE(program.Start());
  HWND dialog = program.MainDialog();
  ASSERT_NE(dialog, nullptr);

  std::vector<ServerLogRecord> expected =
      Opening(dialog, 1, {0x0A090909u, 0x0A090908u, 0x0A090909u});
  AppendKeysMacCheck(expected);
  EXPECT_EQ(server.Received(), expected);
  EXPECT_EQ(ListRowCount(GetDlgItem(dialog, IDC_DEVICE_LIST)), 2);
  EXPECT_EQ(ItemText(dialog, IDC_DEVICE_NAME), "Keys");
  EXPECT_TRUE(ItemEnabled(dialog, IDOK));

  // Unchanged, Cancel asks nothing and only ends the registration.
  PressButton(dialog, IDCANCEL);
  ASSERT_EQ(program.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
  Append(expected, {In(SRVM_SET_NOTIFY_WINDOW, 0, 0, 0)});
  EXPECT_EQ(server.Received(), expected);
}

TEST_F(ConversationTest, Slot0OpensOnWhatTheServerKnowsOfItsMac) {
  struct Case {
    const char* serverMac;
    const char* shown;
    bool macFieldsEnabled;
    bool applyEnabled;
    std::vector<ServerLogRecord> check;
  };
  const Case cases[] = {
      {"00A0DE112233",
       "00A0DE112233",
       false,
       false,
       {In(SRVM_GET_MAC_ADDRESS, 0, kKeysAddress, 0x11DEA000u),
        In(SRVM_GET_MAC_ADDRESS, 1, kKeysAddress, 0x3322u)}},
      // A different MAC: shown locked, and can be applied at once.
      {"00A0DE998877",
       "00A0DE998877",
       false,
       true,
       {In(SRVM_GET_MAC_ADDRESS, 0, kKeysAddress, 0x99DEA000u),
        In(SRVM_GET_MAC_ADDRESS, 1, kKeysAddress, 0x7788u)}},
      // The first half of a different MAC differs too.
      {"12A0DE112233",
       "12A0DE112233",
       false,
       true,
       {In(SRVM_GET_MAC_ADDRESS, 0, kKeysAddress, 0x11DEA012u),
        In(SRVM_GET_MAC_ADDRESS, 1, kKeysAddress, 0x3322u)}},
      // No MAC known: the stored one stays, editable; the second half is not asked.
      {"none",
       "00A0DE112233",
       true,
       false,
       {In(SRVM_GET_MAC_ADDRESS, 0, kKeysAddress, kNoMacKnown)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.serverMac);
    ASSERT_TRUE(WriteSettingsFile(kTwoUnits));
    SubstituteServer server(std::string("unit 192.168.0.10 mac ") + c.serverMac + "\n");
    ASSERT_TRUE(server.Running()) << server.Error();
    Orvelcfg run;
    ASSERT_TRUE(run.Start());
    HWND dialog = run.MainDialog();
    ASSERT_NE(dialog, nullptr);

    std::vector<ServerLogRecord> expected = Opening(dialog, 1);
    expected.insert(expected.end(), c.check.begin(), c.check.end());
    EXPECT_EQ(server.Received(), expected);
    EXPECT_EQ(MacShown(dialog), c.shown);
    for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) {
      EXPECT_EQ(ItemEnabled(dialog, id), c.macFieldsEnabled) << "MAC field " << id;
    }
    for (int id : {IDC_DEVICE_NAME, IDC_OCTET1, IDC_OCTET4, IDC_PORT, IDC_LABEL_MAC}) {
      EXPECT_TRUE(ItemEnabled(dialog, id)) << "field " << id;
    }
    EXPECT_EQ(ItemEnabled(dialog, IDC_APPLY), c.applyEnabled);
    EXPECT_EQ(ItemText(dialog, IDC_DEVICE_NAME), "Keys");
    EXPECT_EQ(ItemText(dialog, IDC_OCTET1) + "." + ItemText(dialog, IDC_OCTET4), "192.10");

    PressButton(dialog, IDCANCEL);
    ASSERT_EQ(run.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
  }
}

TEST_F(ConversationTest, EmptyTableOpensWithDetailsAndRowCommandsDisabled) {
  SubstituteServer server("unit 192.168.0.10 mac 00A0DE112233\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_TRUE(program.Start());
  HWND dialog = program.MainDialog();
  ASSERT_NE(dialog, nullptr);

  // No slot 0, so no MAC check; no active addresses, so no index is asked.
  EXPECT_EQ(server.Received(), Opening(dialog, 1));
  EXPECT_EQ(ListRowCount(GetDlgItem(dialog, IDC_DEVICE_LIST)), 0);
  const int disabled[] = {IDC_LABEL_NAME,  IDC_LABEL_ADDRESS, IDC_LABEL_MAC,  IDC_LABEL_PORT,
                          IDC_DEVICE_NAME, IDC_OCTET1,        IDC_OCTET2,     IDC_OCTET3,
                          IDC_OCTET4,      IDC_MAC1,          IDC_MAC2,       IDC_MAC3,
                          IDC_MAC4,        IDC_MAC5,          IDC_MAC6,       IDC_PORT,
                          IDC_REMOVE,      IDC_DUPLICATE,     IDC_REMOVE_ALL, IDC_APPLY,
                          IDC_UNDO};
  for (int id : disabled) EXPECT_FALSE(ItemEnabled(dialog, id)) << "control " << id;
  for (int id : {IDC_NEW, IDC_ADVANCED, IDOK, IDCANCEL}) {
    EXPECT_TRUE(ItemEnabled(dialog, id)) << "control " << id;
  }

  PressButton(dialog, IDCANCEL);
  ASSERT_EQ(program.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
}

TEST_F(ConversationTest, InUseAtStartShowsText3ThenAsksAgain) {
  // Whether the driver became free while text 3 was up.
  for (const bool freed : {true, false}) {
    SCOPED_TRACE(freed ? "freed while shown" : "still in use");
    SubstituteServer server("inuse 1\n");
    ASSERT_TRUE(server.Running()) << server.Error();
    Orvelcfg run;
    ASSERT_TRUE(run.Start());
    HWND box = run.MessageBoxWindow();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), kQuitApplications);
    EXPECT_NE(GetDlgItem(box, IDOK), nullptr);
    EXPECT_EQ(GetDlgItem(box, IDYES), nullptr);
    // The registration waits for the second answer.
    EXPECT_EQ(server.Received(), (std::vector<ServerLogRecord>{In(SRVM_QUERY_IN_USE, 0, 0, 1)}));
    if (freed) {
      ASSERT_TRUE(server.SetInUse(false));
    }
    PressButton(box, IDOK);
    ASSERT_TRUE(WaitGone(box));
    HWND dialog = run.MainDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(run.MessageBoxWindow(kNoBoxWaitMs), nullptr);

    const std::uint32_t inUse = freed ? 0 : 1;
    EXPECT_EQ(server.Received(),
              (std::vector<ServerLogRecord>{
                  In(SRVM_QUERY_IN_USE, 0, 0, 1), In(SRVM_QUERY_IN_USE, 0, 0, inUse),
                  In(SRVM_SET_NOTIFY_WINDOW, Handle(dialog), inUse ? 0u : 1u, 0),
                  In(SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0, 0)}));
    // A member of the Administrators group may press it anyway; "Save and Close" asks again.
    EXPECT_TRUE(ItemEnabled(dialog, IDOK));

    PressButton(dialog, IDCANCEL);
    ASSERT_EQ(run.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
  }
}

TEST_F(ConversationTest, UseStateNotificationsFollowTheDriver) {
  // Each step: the notice's lParam and "Save and Close" after it.
  struct Step {
    std::uint32_t lParam;
    bool saveEnabled;
  };
  struct Case {
    const char* name;
    bool inUseAtStart;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"free at start",
       false,
       {{0, false}, {0, false}, {1, true}, {1, true}, {7, true}, {0, false}, {7, false}}},
      // Opened in use, yet enabled: a notice that it is in use changes nothing.
      {"in use at start", true, {{0, true}, {1, true}, {0, false}, {1, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SubstituteServer server(c.inUseAtStart ? "inuse 1\n" : "\n");
    ASSERT_TRUE(server.Running()) << server.Error();
    Orvelcfg run;
    ASSERT_TRUE(run.Start());
    if (c.inUseAtStart) {
      HWND box = run.MessageBoxWindow();
      ASSERT_NE(box, nullptr);
      PressButton(box, IDOK);
      ASSERT_TRUE(WaitGone(box));
    }
    HWND dialog = run.MainDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(ItemEnabled(dialog, IDOK));
    for (const Step& step : c.steps) {
      ASSERT_TRUE(server.SendUseStateChanged(step.lParam));
      EXPECT_EQ(ItemEnabled(dialog, IDOK), step.saveEnabled) << "after lParam " << step.lParam;
    }
    const std::vector<ServerLogRecord> log = server.Log();
    const long sent = std::count_if(log.begin(), log.end(), [](const ServerLogRecord& r) {
      return r.direction == Direction::kSent && r.message == SRVM_USE_STATE_CHANGED &&
             r.answer == 0;
    });
    EXPECT_EQ(sent, static_cast<long>(c.steps.size()));

    PressButton(dialog, IDCANCEL);
    ASSERT_EQ(run.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
  }
}

TEST_F(ConversationTest, InUseAtSaveAndCloseKeepsTheDialogOpen) {
  ASSERT_TRUE(WriteSettingsFile(kTwoUnits));
  SubstituteServer server("unit 192.168.0.10 mac 00A0DE112233\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_TRUE(program.Start());
  HWND dialog = program.MainDialog();
  ASSERT_NE(dialog, nullptr);
  std::vector<ServerLogRecord> expected = Opening(dialog, 1);
  AppendKeysMacCheck(expected);

  ASSERT_TRUE(server.SetInUse(true));
  PressButton(dialog, IDOK);
  Answer(kQuitApplications, IDOK);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(program.Wait(0), std::nullopt);
  Append(expected, {In(SRVM_QUERY_IN_USE, 0, 0, 1)});
  EXPECT_EQ(server.Received(), expected);

  ASSERT_TRUE(server.SetInUse(false));
  PressButton(dialog, IDOK);
  ASSERT_EQ(program.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
  // The dialog's own check, the end of its registration, then the save flow's check.
  Append(expected, {In(SRVM_QUERY_IN_USE, 0, 0, 0), In(SRVM_SET_NOTIFY_WINDOW, 0, 0, 0),
                    In(SRVM_QUERY_IN_USE, 0, 0, 0), In(SRVM_RELOAD_SETTINGS, 0, 0, 0)});
  EXPECT_EQ(server.Received(), expected);
}

TEST_F(ConversationTest, CancelWithChangesAsksText9AndNoDropsThem) {
  ASSERT_TRUE(WriteSettingsFile(kTwoUnits));
  SubstituteServer server("unit 192.168.0.10 mac 00A0DE112233\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_TRUE(program.Start());
  HWND dialog = program.MainDialog();
  ASSERT_NE(dialog, nullptr);
  std::vector<ServerLogRecord> expected = Opening(dialog, 1);
  AppendKeysMacCheck(expected);
  ModifyList(dialog);

  PressButton(dialog, IDCANCEL);
  HWND box = program.MessageBoxWindow();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), kSaveBeforeClosing);
  EXPECT_NE(GetDlgItem(box, IDYES), nullptr);
  EXPECT_NE(GetDlgItem(box, IDNO), nullptr);
  PressButton(box, IDNO);
  ASSERT_EQ(program.Wait(kExitTimeoutMs), std::optional<DWORD>(0));

  Append(expected, {In(SRVM_SET_NOTIFY_WINDOW, 0, 0, 0)});
  EXPECT_EQ(server.Received(), expected);
  EXPECT_EQ(ReadFileText(SettingsFilePath()), std::optional<std::string>(kTwoUnits));
}

TEST_F(ConversationTest, CancelWithYesWhileInUseShowsText3ThenSavesOnceFree) {
  ASSERT_TRUE(WriteSettingsFile(kTwoUnits));
  SubstituteServer server("unit 192.168.0.10 mac 00A0DE112233\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_TRUE(program.Start());
  HWND dialog = program.MainDialog();
  ASSERT_NE(dialog, nullptr);
  std::vector<ServerLogRecord> expected = Opening(dialog, 1);
  AppendKeysMacCheck(expected);
  ModifyList(dialog);

  ASSERT_TRUE(server.SetInUse(true));
  PressButton(dialog, IDCANCEL);
  Answer(kSaveBeforeClosing, IDYES);
  Answer(kQuitApplications, IDOK);
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(program.Wait(0), std::nullopt);
  Append(expected, {In(SRVM_QUERY_IN_USE, 0, 0, 1)});
  EXPECT_EQ(server.Received(), expected);

  // Still modified, so it asks again; this time Yes saves as "Save and Close" does.
  ASSERT_TRUE(server.SetInUse(false));
  PressButton(dialog, IDCANCEL);
  Answer(kSaveBeforeClosing, IDYES);
  ASSERT_EQ(program.Wait(kExitTimeoutMs), std::optional<DWORD>(0));
  Append(expected, {In(SRVM_QUERY_IN_USE, 0, 0, 0), In(SRVM_SET_NOTIFY_WINDOW, 0, 0, 0),
                    In(SRVM_QUERY_IN_USE, 0, 0, 0), In(SRVM_RELOAD_SETTINGS, 0, 0, 0)});
  const std::vector<ServerLogRecord> received = server.Received();
  EXPECT_EQ(received, expected);
  EXPECT_EQ(CountOf(received, SRVM_SET_NOTIFY_WINDOW, 0), 1);
  // Remove All, saved: both loaded slots are written empty.
  EXPECT_EQ(Value("IP Address", "0"), "0");
  EXPECT_EQ(Value("IP Address", "1"), "0");
}

// A server that takes no messages any more (Wine never calls it hung, so each wait
// runs to its limit): the dialog still opens and answers, "Save and Close" says so
// and writes nothing, and Cancel ends the program, each within a few seconds.
TEST_F(ConversationTest, AServerThatStoppedAnsweringHoldsNothingUp) {
  ASSERT_TRUE(WriteSettingsFile(kTwoUnits));
  SubstituteServer server("unit 192.168.0.10 mac 00A0DE112233\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_TRUE(server.StopAnswering(120000));
  ASSERT_TRUE(program.Start());
  HWND dialog = program.MainDialog(kHungServerBoundMs);
  ASSERT_NE(dialog, nullptr);
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, kHungServerBoundMs, &answer),
            0);
  EXPECT_EQ(ItemText(dialog, IDC_DEVICE_NAME), "Keys");
  ModifyList(dialog);

  PressButton(dialog, IDOK);
  HWND box = program.MessageBoxWindow(kHungServerBoundMs);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), kServerNotResponding);
  PressButton(box, IDOK);
  ASSERT_TRUE(WaitGone(box));
  EXPECT_TRUE(IsWindowVisible(dialog));
  EXPECT_EQ(program.Wait(0), std::nullopt);

  // Yes to the save question meets the same answer; No then leaves.
  PressButton(dialog, IDCANCEL);
  box = program.MessageBoxWindow(kHungServerBoundMs);
  ASSERT_NE(box, nullptr);
  Answer(kSaveBeforeClosing, IDYES);
  box = program.MessageBoxWindow(kHungServerBoundMs);
  ASSERT_NE(box, nullptr);
  Answer(kServerNotResponding, IDOK);
  PressButton(dialog, IDCANCEL);
  box = program.MessageBoxWindow(kHungServerBoundMs);
  ASSERT_NE(box, nullptr);
  Answer(kSaveBeforeClosing, IDNO);
  EXPECT_EQ(program.Wait(kHungServerBoundMs), std::optional<DWORD>(0));
  EXPECT_EQ(ReadFileText(SettingsFilePath()), std::optional<std::string>(kTwoUnits));
}

}  // namespace
}  // namespace orvel::test
