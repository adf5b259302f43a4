// Opening and closing the main dialog, and its answers to the server's notices.
#include "config/editor/main_dialog_flow.h"

#include "tests/native/config/editor/editor_fixture.h"

namespace orvel::testing {
namespace {

class FakeHost : public MainDialogHost {
 public:
  std::uint32_t WindowHandle() override { return 0x1234; }
  bool IsUserInAdministratorsGroup() override { return administrator; }
  Answer ShowMessage(TextId text, bool askYesNo) override {
    shown.push_back(text);
    if (onMessage) onMessage(text);
    return askYesNo ? (answerYes ? Answer::kYes : Answer::kNo) : Answer::kOk;
  }
  void PrepareWindow() override { steps.push_back("window"); }
  void AllowServerNotifications() override {
    steps.push_back("notices allowed");
    if (onAllow) onAllow();
  }
  void PrepareFields() override { steps.push_back("fields"); }
  void PrepareList() override { steps.push_back("list"); }
  void DestroyHeaderImages() override { steps.push_back("images gone"); }
  void EnableSaveAndClose(bool enabled) override { saveEnabled = enabled; }
  void EndDialog(int result) override { ended = result; }

  bool administrator = true;
  bool answerYes = false;
  std::function<void(TextId)> onMessage;
  std::function<void()> onAllow;
  std::vector<TextId> shown;
  std::vector<std::string> steps;
  bool saveEnabled = true;
  int ended = 0;
};

class MainDialogFlowTest : public EditorTest {
 protected:
  void OpenFlow(std::initializer_list<StoredUnit> units) {
    Reset();
    flow = std::make_unique<MainDialogFlow>(host, server, *editor);
    MainDialogSession session;
    for (int slot = 0; slot < kSlotCount; ++slot) session.entries[slot] = DefaultDeviceEntry(slot);
    int slot = 0;
    for (const StoredUnit& unit : units) {
      session.entries[slot].deviceName = unit.name;
      session.entries[slot].ipAddress = unit.address;
      session.entries[slot].macText = unit.macText;
      ++slot;
    }
    session.scanStartAddress = Ip(10, 0, 0, 2);
    session.scanStopOctet = 40;
    flow->OnInitDialog(session);
  }
  int NotifyRegistrations(std::uint32_t wParam) const {
    int count = 0;
    for (const auto& m : server.messages) {
      count += m.message == SRVM_SET_NOTIFY_WINDOW && m.wParam == wParam;
    }
    return count;
  }
  // "Save and Close", then Cancel answered Yes after an edit: each refused with `why`,
  // and the dialog stays open.
  void ExpectEverySaveRefused(TextId why) {
    flow->OnOK();
    EXPECT_EQ(host.ended, 0);
    EXPECT_EQ(host.shown, std::vector<TextId>{why});

    view.ClickRow(1);
    editor->Remove();
    host.answerYes = true;
    host.shown.clear();
    flow->OnCancel();
    EXPECT_EQ(host.ended, 0);
    EXPECT_EQ(host.shown, (std::vector<TextId>{kTextSaveBeforeClosing, why}));
  }

  FakeHost host;
  std::unique_ptr<MainDialogFlow> flow;
};

TEST_F(MainDialogFlowTest, OpeningTalksToServerInOrder) {
  server.active = {Ip(10, 9, 9, 1), Ip(10, 9, 9, 2)};
  server.macs[Ip(10, 0, 0, 1)] = {0, 0, 0, 0, 0, 1};
  std::size_t sentBeforeAllowing = 0;
  host.onAllow = [&] { sentBeforeAllowing = server.messages.size(); };
  OpenFlow({{"Keys", Ip(10, 0, 0, 1), "000000000001"}});
  const std::vector<FakeServerChannel::Message> expected = {
      {SRVM_QUERY_IN_USE, 0, 0},
      {SRVM_SET_NOTIFY_WINDOW, 0x1234, 1},
      {SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0},
      {SRVM_GET_ACTIVE_ADDRESS, 0, 0},
      {SRVM_GET_ACTIVE_ADDRESS, 1, 0},
      {SRVM_GET_MAC_ADDRESS, 0, Ip(10, 0, 0, 1)},
      {SRVM_GET_MAC_ADDRESS, 1, Ip(10, 0, 0, 1)},
  };
  EXPECT_EQ(server.messages, expected);
  EXPECT_EQ(flow->activeAddresses(), server.active);
  EXPECT_EQ(host.steps, (std::vector<std::string>{"window", "notices allowed", "fields", "list"}));
  // The server's notices are let through before it learns the window: only the
  // in-use question went out.
  EXPECT_EQ(sentBeforeAllowing, 1u);
  EXPECT_TRUE(host.shown.empty());
  EXPECT_TRUE(host.saveEnabled);
  EXPECT_EQ(editor->table()[0].checkState, kCheckMacEqual);
}

TEST_F(MainDialogFlowTest, PrivilegeAndInUseChecksAtOpening) {
  struct Case {
    const char* name;
    bool serverRunning;
    bool administrator;
    bool inUse;
    std::vector<TextId> shown;
    std::uint32_t notifyLParam;
    bool saveEnabled;
  };
  const Case cases[] = {
      {"free, administrator", true, true, false, {}, 1, true},
      {"not an administrator", true, false, false, {kTextAdminRequired}, 1, false},
      {"in use, administrator", true, true, true, {kTextQuitApplications}, 0, true},
      {"in use, not an administrator", true, false, true, {kTextAdminRequired}, 0, false},
      {"no server, not an administrator", false, false, false, {}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server = FakeServerChannel();
    server.running = c.serverRunning;
    server.inUse = c.inUse;
    host = FakeHost();
    host.administrator = c.administrator;
    OpenFlow({{"Keys", Ip(10, 0, 0, 1), "000000000001"}});
    EXPECT_EQ(host.shown, c.shown);
    EXPECT_EQ(host.saveEnabled, c.saveEnabled);
    EXPECT_EQ(flow->driverInUse(), c.inUse);
    if (c.serverRunning) {
      ASSERT_GE(server.messages.size(), 2u);
      const auto& registration = server.messages[c.inUse && c.administrator ? 2 : 1];
      EXPECT_EQ(registration.message, SRVM_SET_NOTIFY_WINDOW);
      EXPECT_EQ(registration.lParam, c.notifyLParam);
    } else {
      EXPECT_TRUE(server.messages.empty());
    }
  }
}

TEST_F(MainDialogFlowTest, ImplausibleActiveAddressCountLeavesListEmpty) {
  // A server claiming four billion addresses is not asked for each of them.
  class Liar : public FakeServerChannel {
   public:
    std::uint32_t Send(std::uint32_t m, std::uint32_t w, std::uint32_t l) override {
      if (m == SRVM_GET_ACTIVE_ADDRESS && w == kActiveAddressCount) return 0xFFFFFFF0u;
      return FakeServerChannel::Send(m, w, l);
    }
  } liar;
  Reset();
  MainDialogFlow liarFlow(host, liar, *editor);
  MainDialogSession session;
  liarFlow.OnInitDialog(session);
  EXPECT_TRUE(liarFlow.activeAddresses().empty());
  EXPECT_LT(liar.messages.size(), 10u);
}

TEST_F(MainDialogFlowTest, EveryWayOfClosingUnregistersExactlyOnce) {
  struct Case {
    const char* name;
    bool modify;
    bool answerYes;
    bool useOk;
    int result;
  };
  const Case cases[] = {
      {"save and close", false, false, true, 1},
      {"cancel, unchanged", false, false, false, 2},
      {"cancel, No", true, false, false, 2},
      {"cancel, Yes", true, true, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server = FakeServerChannel();
    host = FakeHost();
    host.answerYes = c.answerYes;
    OpenFlow({{"Keys", Ip(10, 0, 0, 1), "000000000001"}, {"Pads", Ip(10, 0, 0, 2), "00"}});
    EXPECT_EQ(NotifyRegistrations(0), 0);
    if (c.modify) {
      view.ClickRow(1);
      editor->Remove();
    }
    if (c.useOk) {
      flow->OnOK();
    } else {
      flow->OnCancel();
    }
    EXPECT_EQ(host.ended, c.result);
    EXPECT_EQ(NotifyRegistrations(0), 1);
    EXPECT_EQ(host.shown,
              c.modify ? std::vector<TextId>{kTextSaveBeforeClosing} : std::vector<TextId>{});
  }
}

TEST_F(MainDialogFlowTest, DriverInUseKeepsDialogOpen) {
  OpenFlow({{"Keys", Ip(10, 0, 0, 1), "000000000001"}, {"Pads", Ip(10, 0, 0, 2), "00"}});
  server.inUse = true;
  ExpectEverySaveRefused(kTextQuitApplications);
  EXPECT_EQ(NotifyRegistrations(0), 0);
}

TEST_F(MainDialogFlowTest, CancelNeverAsksAUserOutsideAdministrators) {
  host.administrator = false;
  OpenFlow({{"Keys", Ip(10, 0, 0, 1), "000000000001"}, {"Pads", Ip(10, 0, 0, 2), "00"}});
  host.shown.clear();
  view.ClickRow(1);
  editor->Remove();
  flow->OnCancel();
  EXPECT_TRUE(host.shown.empty());
  EXPECT_EQ(host.ended, 2);
}

TEST_F(MainDialogFlowTest, UseStateNotificationsSteerSaveAndClose) {
  struct Step {
    std::uint32_t lParam;
    bool saveEnabled;
    bool inUse;
  };
  OpenFlow({{"Keys", Ip(10, 0, 0, 1), "000000000001"}});
  const Step steps[] = {
      {0, false, true},  // became in use
      {0, false, true},  // again: nothing changes
      {7, false, true},  // neither 0 nor 1
      {1, true, false},  // free again
      {1, true, false},
  };
  for (const Step& step : steps) {
    EXPECT_EQ(flow->OnUseStateChanged(step.lParam), 0u);
    EXPECT_EQ(host.saveEnabled, step.saveEnabled) << step.lParam;
    EXPECT_EQ(flow->driverInUse(), step.inUse) << step.lParam;
  }
  host.administrator = false;
  flow->OnUseStateChanged(1);
  EXPECT_FALSE(host.saveEnabled);
}

TEST_F(MainDialogFlowTest, CopyBackHandsTheEditedTableAndRange) {
  OpenFlow({{"Keys", Ip(10, 0, 0, 1), "000000000001"}, {"Pads", Ip(10, 0, 0, 2), "00"}});
  view.ClickRow(0);
  editor->Remove();
  MainDialogSession out;
  flow->CopyBack(out);
  EXPECT_EQ(out.entries[0].deviceName, "Pads");
  EXPECT_FALSE(out.entries[1].Used());
  EXPECT_EQ(out.scanStartAddress, Ip(10, 0, 0, 2));
  EXPECT_EQ(out.scanStopOctet, 40);
}

// A server that stops answering costs one bounded wait: the dialog opens or stays
// usable, and no save goes ahead while the server may still be using the file.
TEST_F(MainDialogFlowTest, AServerThatStopsAnsweringIsNotTakenForNoServer) {
  struct Case {
    const char* name;
    bool hungAtOpening;
  };
  for (const Case c : {Case{"hung at opening", true}, Case{"hung after opening", false}}) {
    SCOPED_TRACE(c.name);
    server = FakeServerChannel();
    server.hung = c.hungAtOpening;
    server.macs[Ip(10, 0, 0, 1)] = {0, 0, 0, 0, 0, 1};
    host = FakeHost();
    OpenFlow({{"Keys", Ip(10, 0, 0, 1), "000000000001"}, {"Pads", Ip(10, 0, 0, 2), "00"}});
    EXPECT_EQ(host.steps.front(), "window");
    EXPECT_EQ(host.steps.back(), "list");
    EXPECT_TRUE(host.shown.empty());
    EXPECT_TRUE(host.saveEnabled);
    // Not registered with a server that took nothing.
    EXPECT_EQ(NotifyRegistrations(0x1234), c.hungAtOpening ? 0 : 1);
    server.hung = true;
    ExpectEverySaveRefused(kTextServerNotResponding);

    host.answerYes = false;
    flow->OnCancel();
    EXPECT_EQ(host.ended, 2);
    EXPECT_EQ(server.unanswered.size(), 1u);
    EXPECT_EQ(server.findCalls, 1);
    EXPECT_EQ(NotifyRegistrations(0), 0);
  }
}

}  // namespace
}  // namespace orvel::testing
