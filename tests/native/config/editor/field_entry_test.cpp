// Typing into the detail fields, through the view double, with the flags gating
// the re-entrant notifications as in the real dialog.
#include "tests/native/config/editor/editor_fixture.h"

namespace orvel::testing {
namespace {

TEST_F(EditorTest, OctetFieldsKeepDigitsCutOthersAndJump) {
  struct Case {
    const char* name;
    int field;  // 1..4
    std::string keys;
    std::string text;  // what the field shows afterwards
    int value;         // the octet in the pending address
    int focusAfter;    // control with the focus
  };
  const Case cases[] = {
      {"223 kept, jumps", 1, "223", "223", 223, IDC_OCTET2},
      {"224 too big", 1, "224", "0", 0, IDC_OCTET2},
      {"22 stays", 1, "22", "22", 22, IDC_OCTET1},
      {"dot after one digit jumps", 1, "2.", "2", 2, IDC_OCTET2},
      {"digit then letter is cut", 1, "5x", "5", 5, IDC_OCTET1},
      {"255 kept in octet 2", 2, "255", "255", 255, IDC_OCTET3},
      {"256 too big in octet 2", 2, "256", "0", 0, IDC_OCTET3},
      {"1 then dot in octet 3", 3, "1.", "1", 1, IDC_OCTET4},
      {"dot cut in octet 4, no jump", 4, "1.", "1", 1, IDC_OCTET4},
      {"letter first leaves empty", 2, "q", "", 0, IDC_OCTET2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open({{"A", Ip(1, 1, 1, 1), "000000000001"}});
    const int id = IDC_OCTET1 + c.field - 1;
    view.Click(id);
    view.SelectEditText(id, 0, -1);
    view.Type(c.keys);
    EXPECT_EQ(view.Text(id), c.text);
    EXPECT_EQ(OctetOf(editor->pending().address, c.field), c.value);
    EXPECT_EQ(view.Focus(), c.focusAfter);
  }
}

TEST_F(EditorTest, DotTypedFirstByHandRestoresOctetAndJumps) {
  Open({{"A", Ip(192, 168, 0, 2), "000000000001"}});
  view.Click(IDC_OCTET2);
  view.SelectEditText(IDC_OCTET2, 0, -1);
  view.Type(".");
  EXPECT_EQ(view.Text(IDC_OCTET2), "168");
  EXPECT_EQ(editor->pending().address, Ip(192, 168, 0, 2));
  EXPECT_NE(view.Focus(), IDC_OCTET2);
}

TEST_F(EditorTest, TypedAddressWithDotsLandsInTheRightFields) {
  struct Case {
    std::string keys;
    std::uint32_t address;
  };
  const Case cases[] = {
      {"192.168.0.10", Ip(192, 168, 0, 10)},       {"10.0.0.25", Ip(10, 0, 0, 25)},
      {"172.16.254.1", Ip(172, 16, 254, 1)},       {"1.2.3.4", Ip(1, 2, 3, 4)},
      {"100.200.100.200", Ip(100, 200, 100, 200)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    Open({{"A", Ip(9, 9, 9, 9), "000000000001"}});
    ClickOctet1AndType(c.keys);
    EXPECT_EQ(editor->pending().address, c.address);
    EXPECT_EQ(view.Address(), c.keys);
  }
}

TEST_F(EditorTest, SecondDotAfterAutomaticMoveIsNotSwallowed) {
  Open({{"A", Ip(9, 8, 7, 6), "000000000001"}});
  // "192" moves on by itself; the first "." is the separator, a second one an edit.
  ClickOctet1AndType("192..");
  EXPECT_EQ(view.Text(IDC_OCTET2), "8");
  EXPECT_EQ(view.Focus(), IDC_OCTET3);
}

TEST_F(EditorTest, OtherKeyEndsTheSwallowState) {
  Open({{"A", Ip(9, 8, 7, 6), "000000000001"}});
  ClickOctet1AndType("192");
  ASSERT_EQ(view.Focus(), IDC_OCTET2);
  editor->OnKeyDown(0x25);  // an arrow key
  view.Type(".");
  EXPECT_EQ(view.Text(IDC_OCTET2), "8");  // the old value, put back
  EXPECT_EQ(view.Focus(), IDC_OCTET3);
}

TEST_F(EditorTest, LastOctetCommitsEveryDigit) {
  server.macs[Ip(10, 0, 0, 1)] = {1, 2, 3, 4, 5, 6};
  Open({{"A", Ip(9, 9, 9, 9), "000000000001"}});
  view.Click(IDC_OCTET4);
  view.SelectEditText(IDC_OCTET4, 0, -1);
  view.Type("10");
  std::vector<std::uint32_t> asked;
  for (const auto& m : server.messages) {
    if (m.message == SRVM_GET_MAC_ADDRESS && m.wParam == 0) asked.push_back(m.lParam);
  }
  EXPECT_EQ(asked, (std::vector<std::uint32_t>{Ip(9, 9, 9, 1), Ip(9, 9, 9, 10)}));
}

TEST_F(EditorTest, LeavingEmptyFieldsFillsZeros) {
  Open({{"A", Ip(9, 9, 9, 9), "000000000001"}});
  view.Click(IDC_OCTET3);
  view.SelectEditText(IDC_OCTET3, 0, -1);
  view.Type("x");  // cut away: empty
  view.Click(IDC_DEVICE_NAME);
  EXPECT_EQ(view.Text(IDC_OCTET3), "0");
  EXPECT_EQ(OctetOf(editor->pending().address, 3), 0);

  view.Click(IDC_MAC2);
  view.SelectEditText(IDC_MAC2, 0, -1);
  view.Type("z");
  view.Click(IDC_DEVICE_NAME);
  EXPECT_EQ(view.Text(IDC_MAC2), "00");
  EXPECT_EQ(editor->pending().mac[1], 0);
}

TEST_F(EditorTest, MacFieldsTakeHexAndMoveOn) {
  struct Case {
    const char* name;
    int field;
    std::string keys;
    std::string text;
    int value;
    int focusAfter;
  };
  const Case cases[] = {
      {"a then 5", 1, "a5", "A5", 0xA5, IDC_MAC2},
      {"letter beyond F", 2, "g", "", 0, IDC_MAC2},
      {"5 then letter beyond F", 3, "5g", "5", 5, IDC_MAC3},
      {"last field never moves", 6, "ff", "FF", 0xFF, IDC_MAC6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Open({{"A", Ip(9, 9, 9, 9), "000000000001"}});
    const int id = IDC_MAC1 + c.field - 1;
    view.Click(id);
    view.SelectEditText(id, 0, -1);
    view.Type(c.keys);
    EXPECT_EQ(view.Text(id), c.text);
    EXPECT_EQ(editor->pending().mac[c.field - 1], c.value);
    EXPECT_EQ(view.Focus(), c.focusAfter);
  }
}

TEST_F(EditorTest, PortTextRule) {
  struct Case {
    std::string keys;
    std::string text;
    int portIndex;
  };
  const Case cases[] = {
      {"0", "", 3},                    // a leading 0 empties the field, nothing else
      {"7", "7", 6},  {"17", "1", 0},  // above 16: list position 0
      {"1x", "1", 0}, {"16", "16", 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    Open({{"A", Ip(9, 9, 9, 9), "000000000001", 3}});
    view.Click(IDC_PORT);
    view.SelectComboEditText(IDC_PORT, 0, -1);
    view.Type(c.keys);
    EXPECT_EQ(view.Text(IDC_PORT), c.text);
    EXPECT_EQ(editor->pending().portIndex, c.portIndex);
  }
}

TEST_F(EditorTest, NameDropsHighBytesAndStopsAt32) {
  Open({{"A", Ip(9, 9, 9, 9), "000000000001"}});
  view.Click(IDC_DEVICE_NAME);
  view.SelectEditText(IDC_DEVICE_NAME, 0, -1);
  view.Type(std::string("ab") + static_cast<char>(0xE9) + "c");
  EXPECT_EQ(view.Text(IDC_DEVICE_NAME), "abc");
  EXPECT_EQ(editor->pending().name, "abc");

  view.SelectEditText(IDC_DEVICE_NAME, 0, -1);
  view.Type(std::string(33, 'n'));
  EXPECT_EQ(view.Text(IDC_DEVICE_NAME), std::string(32, 'n'));
  EXPECT_EQ(view.beeps, 1);
}

TEST(NameRule, RemovesEveryHighByteAndPutsCaretAtLastRemoval) {
  const NameRuleResult r = NameRule(std::string("a\x81") + "b" + "\xff");
  EXPECT_EQ(r.text, "ab");
  ASSERT_TRUE(r.caret);
  EXPECT_EQ(*r.caret, 2u);
  EXPECT_FALSE(NameRule("plain").caret);
}

TEST(UpdateApplyState, EveryClashDisablesApply) {
  WorkingTable table;
  for (int s = 0; s < kSlotCount; ++s) table[s].entry = DefaultDeviceEntry(s);
  auto put = [&](int slot, const char* name, std::uint32_t address, std::uint8_t port,
                 const char* mac) {
    table[slot].entry.deviceName = name;
    table[slot].entry.ipAddress = address;
    table[slot].entry.portIndex = port;
    table[slot].entry.macText = mac;
    table[slot].macBytes = ParseMacText(mac);
  };
  put(0, "Keys", Ip(10, 0, 0, 1), 0, "000000000001");
  put(1, "Drums", Ip(10, 0, 0, 2), 3, "000000000000");
  put(2, "Editing", Ip(10, 0, 0, 3), 0, "000000000003");
  const std::vector<std::uint32_t> active = {Ip(10, 0, 0, 99)};

  struct Case {
    const char* name;
    std::string pendingName;
    std::uint32_t address;
    std::uint8_t port;
    std::string mac;
    bool enabled;
  };
  const Case cases[] = {
      {"distinct entry", "New", Ip(10, 0, 0, 7), 0, "000000000007", true},
      {"address 0", "New", 0, 0, "000000000007", false},
      {"same MAC as another", "New", Ip(10, 0, 0, 7), 0, "000000000001", false},
      {"both all-zero MAC", "New", Ip(10, 0, 0, 7), 0, "000000000000", false},
      {"same name", "Keys", Ip(10, 0, 0, 7), 0, "000000000007", false},
      {"name differing in case", "keys", Ip(10, 0, 0, 7), 0, "000000000007", true},
      {"same address and port", "New", Ip(10, 0, 0, 2), 3, "000000000007", false},
      {"same address, other port", "New", Ip(10, 0, 0, 2), 4, "000000000007", true},
      {"active address", "New", Ip(10, 0, 0, 99), 0, "000000000007", false},
      {"own slot's values", "Editing", Ip(10, 0, 0, 3), 0, "000000000003", true},
  };
  for (const Case& c : cases) {
    PendingEntry pending{c.pendingName, c.address, c.port, ParseMacText(c.mac)};
    EXPECT_EQ(UpdateApplyState(pending, 2, table, active), c.enabled) << c.name;
  }
}

TEST_F(EditorTest, KnownAddressLocksMacFieldsWithServerMac) {
  server.macs[Ip(10, 0, 0, 5)] = {0x00, 0xA0, 0xDE, 0x0B, 0x0C, 0xFD};
  Open({{"A", Ip(9, 9, 9, 9), "000000000001"}});
  ClickOctet1AndType("10.0.0.5");
  EXPECT_EQ(view.Mac(), "00A0DE0B0CFD");
  for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) EXPECT_FALSE(view.IsEnabled(id)) << id;
  EXPECT_TRUE(editor->macLocked());
  const MacBytes before = editor->pending().mac;
  editor->OnMacUpdate(1);  // a text change now has no effect on the pending MAC
  view.controls[IDC_MAC1].text = "77";
  editor->OnMacUpdate(1);
  EXPECT_EQ(editor->pending().mac, before);
}

TEST_F(EditorTest, UnknownOrNetworkAddressLeavesMacEditable) {
  struct Case {
    const char* name;
    bool serverRunning;
    std::string keys;
  };
  const Case cases[] = {
      {"no server", false, "10.0.0.5"},
      {"last octet 0 is never looked up", true, "10.0.0.0"},
      {"server knows no MAC", true, "10.0.0.6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    server.macs.clear();
    server.macs[Ip(10, 0, 0, 0)] = {1, 1, 1, 1, 1, 1};
    server.running = c.serverRunning;
    Open({{"A", Ip(9, 9, 9, 9), "00112233445A"}});
    ClickOctet1AndType(c.keys);
    EXPECT_FALSE(editor->macLocked());
    for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) EXPECT_TRUE(view.IsEnabled(id)) << id;
    EXPECT_EQ(view.Mac(), "00112233445A");
  }
}

TEST_F(EditorTest, RecheckMessageComparesEveryUsedSlot) {
  server.macs[Ip(10, 0, 0, 2)] = {9, 9, 9, 9, 9, 9};
  Open({{"A", Ip(10, 0, 0, 1), "000000000001"}, {"B", Ip(10, 0, 0, 2), "000000000002"}});
  editor->OnRecheckDevices();
  EXPECT_EQ(editor->table()[0].checkState, kCheckNoMacKnown);
  EXPECT_EQ(editor->table()[1].checkState, kCheckMacEqual);
  EXPECT_EQ(MacTextOf(editor->table()[1].macBytes), "090909090909");
  EXPECT_EQ(editor->table()[1].entry.macText, "000000000002");  // the stored text stays
  EXPECT_EQ(editor->table()[2].checkState, kCheckNotCompared);
}

}  // namespace
}  // namespace orvel::testing
