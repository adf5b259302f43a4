// The list commands: New, Duplicate, Remove, Remove All, Undo and Apply.
#include "tests/native/config/editor/editor_fixture.h"

namespace orvel::testing {
namespace {

TEST_F(EditorTest, OpeningAnEmptyTableDisablesEverythingButNew) {
  Open({});
  EXPECT_EQ(view.RowCount(), 0);
  for (int id :
       {IDC_DEVICE_NAME, IDC_OCTET1, IDC_OCTET4, IDC_MAC1, IDC_MAC6, IDC_PORT, IDC_LABEL_NAME,
        IDC_LABEL_PORT, IDC_REMOVE, IDC_DUPLICATE, IDC_REMOVE_ALL, IDC_APPLY, IDC_UNDO}) {
    EXPECT_FALSE(view.IsEnabled(id)) << id;
  }
  EXPECT_TRUE(view.IsEnabled(IDC_NEW));
}

TEST_F(EditorTest, OpeningWithServerReportingOtherMacOffersIt) {
  server.macs[Ip(10, 0, 0, 1)] = {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01};
  Open({{"A", Ip(10, 0, 0, 1), "000000000001"}});
  EXPECT_EQ(editor->table()[0].checkState, kCheckMacDiffers);
  EXPECT_EQ(view.Mac(), "DEADBEEF0001");
  for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) EXPECT_FALSE(view.IsEnabled(id));
  EXPECT_TRUE(view.IsEnabled(IDC_APPLY));
  EXPECT_TRUE(view.IsEnabled(IDC_DEVICE_NAME));
}

TEST_F(EditorTest, RowTextsHaveTheirFixedForms) {
  Open({{"Keys", Ip(192, 168, 0, 2), "00A0DE010203", 0}, {"Pad", Ip(10, 0, 0, 25), "00", 15}});
  // A blank stands in for the sign; each octet is padded to three characters.
  EXPECT_EQ(view.RowText(0, 1), " 192.  168.   0.   2");
  EXPECT_EQ(view.RowText(0, 1).size(), 20u);
  EXPECT_EQ(view.RowText(1, 1), " 10.   0.   0.  25");
  EXPECT_EQ(view.RowText(1, 1).size(), 18u);
  EXPECT_EQ(view.RowText(0, 2), "00 A0 DE 01 02 03");
  EXPECT_EQ(view.RowText(0, 3), "1");
  EXPECT_EQ(view.RowText(1, 3), "16");
}

TEST_F(EditorTest, NewAddsBlankRowWithLowestFreeDefaultName) {
  struct Case {
    std::string takenName;
    std::string expected;
  };
  const Case cases[] = {{"Other", "UNIT4"}, {"UNIT4", "UNIT1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.takenName);
    Open({{"A", Ip(10, 0, 0, 1), "000000000001"},
          {"B", Ip(10, 0, 0, 2), "000000000002"},
          {c.takenName, Ip(10, 0, 0, 3), "000000000003"}});
    editor->New();
    ASSERT_EQ(view.RowCount(), 4);
    EXPECT_EQ(view.rows[3].texts, BlankRowTexts());
    EXPECT_EQ(editor->currentSlot(), 3);
    EXPECT_EQ(view.Text(IDC_DEVICE_NAME), c.expected);
    EXPECT_EQ(editor->pending().name, c.expected);
    EXPECT_EQ(view.Address(), "0.0.0.0");
    EXPECT_EQ(view.Mac(), "000000000000");
    EXPECT_EQ(view.Text(IDC_PORT), "1");
    EXPECT_FALSE(view.IsEnabled(IDC_APPLY));

    // A second New while the blank row is current changes nothing.
    const auto rowsBefore = view.rows;
    editor->New();
    EXPECT_EQ(view.RowCount(), 4);
    EXPECT_EQ(editor->currentSlot(), 3);
  }
}

TEST_F(EditorTest, NewEntryTypedAndAppliedGoesIntoFirstEmptySlot) {
  server.macs[Ip(10, 0, 0, 9)] = {0, 1, 2, 3, 4, 9};
  Open({{"A", Ip(10, 0, 0, 1), "000000000001"}});
  editor->New();
  ClickOctet1AndType("10.0.0.9");
  EXPECT_TRUE(view.IsEnabled(IDC_APPLY));
  editor->Apply();
  const WorkingSlot& added = editor->table()[1];
  EXPECT_EQ(added.entry.ipAddress, Ip(10, 0, 0, 9));
  EXPECT_EQ(added.entry.deviceName, "UNIT2");
  EXPECT_EQ(added.entry.macText, "000102030409");
  EXPECT_EQ(added.checkState, kCheckMacEqual);
  EXPECT_EQ(view.RowCount(), 2);
  EXPECT_TRUE(editor->modified());
  EXPECT_TRUE(view.IsEnabled(IDC_UNDO));
}

TEST_F(EditorTest, ApplyWithoutServerMarksNoMacKnown) {
  server.running = false;
  Open({{"A", Ip(10, 0, 0, 1), "000000000001"}});
  editor->New();
  ClickOctet1AndType("10.0.0.9");
  view.Click(IDC_MAC6);
  view.SelectEditText(IDC_MAC6, 0, -1);
  view.Type("7");
  editor->Apply();
  EXPECT_EQ(editor->table()[1].checkState, kCheckNoMacKnown);
  EXPECT_EQ(editor->table()[1].entry.macText, "000000000007");
}

TEST_F(EditorTest, NewOnEmptyTableEnablesFieldsAndFullTableDisablesNew) {
  Open({});
  editor->New();
  EXPECT_EQ(view.RowCount(), 1);
  for (int id : {IDC_DEVICE_NAME, IDC_OCTET1, IDC_MAC1, IDC_PORT}) EXPECT_TRUE(view.IsEnabled(id));

  OpenNumbered(256);
  EXPECT_FALSE(view.IsEnabled(IDC_NEW));
  EXPECT_FALSE(view.IsEnabled(IDC_DUPLICATE));
  OpenNumbered(255);
  editor->New();
  EXPECT_EQ(view.RowCount(), 256);
  EXPECT_FALSE(view.IsEnabled(IDC_NEW));
}

TEST_F(EditorTest, DuplicateShowsEntryAndWaitsForDistinctNameAndMac) {
  Open({{"Keys", Ip(10, 0, 0, 1), "00A0DE0000AB", 2}, {"Pad", Ip(10, 0, 0, 2), "000000000002"}});
  editor->Duplicate();
  EXPECT_EQ(view.RowCount(), 3);
  EXPECT_EQ(editor->currentSlot(), 2);
  EXPECT_EQ(view.Text(IDC_DEVICE_NAME), "Keys");
  EXPECT_EQ(view.Address(), "10.0.0.1");
  EXPECT_EQ(view.Mac(), "00A0DE0000AB");  // written in small letters, shown in capitals
  EXPECT_EQ(view.Text(IDC_PORT), "3");
  EXPECT_EQ(editor->table()[2].checkState, kCheckNoMacKnown);
  EXPECT_FALSE(view.IsEnabled(IDC_APPLY));

  view.Click(IDC_DEVICE_NAME);
  view.SelectEditText(IDC_DEVICE_NAME, 0, -1);
  view.Type("Keys2");
  EXPECT_FALSE(view.IsEnabled(IDC_APPLY)) << "same MAC as Keys";
  view.Click(IDC_MAC6);
  view.SelectEditText(IDC_MAC6, 0, -1);
  view.Type("AC");
  EXPECT_FALSE(view.IsEnabled(IDC_APPLY)) << "same address and port as Keys";
  view.PickPort(3);
  EXPECT_TRUE(view.IsEnabled(IDC_APPLY));
}

TEST_F(EditorTest, RemoveOneOfThreeShiftsAndUndoBringsItBack) {
  Open({{"A", Ip(10, 0, 0, 1), "000000000001"},
        {"B", Ip(10, 0, 0, 2), "000000000002"},
        {"C", Ip(10, 0, 0, 3), "000000000003"}});
  view.ClickRow(1);
  editor->Remove();
  EXPECT_EQ(view.Column(0), (std::vector<std::string>{"A", "C"}));
  EXPECT_EQ(editor->table()[1].entry.deviceName, "C");
  EXPECT_FALSE(editor->table()[2].entry.Used());
  EXPECT_TRUE(editor->modified());

  editor->Undo();
  EXPECT_EQ(view.Column(0), (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(editor->table()[1].entry.deviceName, "B");
  EXPECT_FALSE(view.IsEnabled(IDC_UNDO));
  // Undo right after Undo does nothing.
  const auto table = editor->table();
  editor->Undo();
  EXPECT_EQ(editor->table()[1].entry.deviceName, table[1].entry.deviceName);
  EXPECT_EQ(view.RowCount(), 3);
}

TEST_F(EditorTest, RemoveSeveralSelectedRemovesExactlyThose) {
  OpenNumbered(6);
  view.ClickRow(1);
  view.CtrlClickRow(3);
  view.CtrlClickRow(4);
  editor->Remove();
  EXPECT_EQ(view.Column(0), (std::vector<std::string>{"U0", "U2", "U5"}));
  EXPECT_EQ(editor->table()[2].entry.ipAddress, Ip(10, 0, 0, 6));
}

TEST_F(EditorTest, MovedDefaultNameTakesAFreshOne) {
  Open({{"A", Ip(10, 0, 0, 1), "000000000001"},
        {"B", Ip(10, 0, 0, 2), "000000000002"},
        {"UNIT2", Ip(10, 0, 0, 3), "000000000003"}});
  view.ClickRow(0);
  editor->Remove();
  // UNIT2 is slot 1's default name: the entry moving there takes a fresh one,
  // chosen while its old slot still holds UNIT2.
  EXPECT_EQ(editor->table()[1].entry.deviceName, "UNIT1");
  EXPECT_EQ(editor->table()[0].entry.deviceName, "B");
}

TEST_F(EditorTest, RemovingFromFullTableLeavesLastSlotEmpty) {
  OpenNumbered(256);
  view.ClickRow(0);
  editor->Remove();
  const WorkingSlot& last = editor->table()[255];
  EXPECT_FALSE(last.entry.Used());
  EXPECT_EQ(last.entry.macText, "000000000000");
  EXPECT_EQ(view.RowCount(), 255);
  EXPECT_TRUE(view.IsEnabled(IDC_NEW));
}

TEST_F(EditorTest, RemoveAllLeavesOneBlankRow) {
  OpenNumbered(3);
  editor->RemoveAll();
  EXPECT_EQ(view.RowCount(), 1);
  EXPECT_EQ(view.rows[0].texts, BlankRowTexts());
  EXPECT_FALSE(view.IsEnabled(IDC_REMOVE));
  EXPECT_FALSE(view.IsEnabled(IDC_REMOVE_ALL));
  EXPECT_TRUE(view.IsEnabled(IDC_NEW));
  EXPECT_EQ(view.Text(IDC_DEVICE_NAME), "UNIT1");
  EXPECT_EQ(view.Address(), "0.0.0.0");
  EXPECT_EQ(view.Text(IDC_PORT), "1");
  for (int slot = 0; slot < 3; ++slot) EXPECT_FALSE(editor->table()[slot].entry.Used());
}

TEST(DeleteSlot, ReturnsUsedCountOrMinusOneWhenFull) {
  FakeEditorView view;
  FakeServerChannel server;
  DeviceListEditor editor(view, server);
  WorkingTable table;
  for (int s = 0; s < kSlotCount; ++s) {
    table[s].entry = DefaultDeviceEntry(s);
    if (s < 4) table[s].entry.ipAddress = Ip(10, 0, 0, s + 1);
  }
  editor.ReplaceTable(table);
  EXPECT_EQ(editor.DeleteSlot(1), 4);
  for (int s = 0; s < kSlotCount; ++s) table[s].entry.ipAddress = Ip(10, 0, 1, 0) + s + 1;
  editor.ReplaceTable(table);
  EXPECT_EQ(editor.DeleteSlot(0), -1);
  EXPECT_EQ(editor.table()[255].entry.ipAddress, 0u);
}

TEST_F(EditorTest, ApplyAfterRenameResortsAndKeepsFocusAndSelection) {
  Open({{"bravo", Ip(10, 0, 0, 1), "000000000001"},
        {"delta", Ip(10, 0, 0, 2), "000000000002"},
        {"foxtrot", Ip(10, 0, 0, 3), "000000000003"}});
  editor->OnColumnClick(0);  // ascending by name
  view.ClickRow(1);          // delta
  view.Click(IDC_DEVICE_NAME);
  view.SelectEditText(IDC_DEVICE_NAME, 0, -1);
  view.Type("zulu");
  editor->Apply();
  EXPECT_EQ(view.Column(0), (std::vector<std::string>{"bravo", "foxtrot", "zulu"}));
  EXPECT_EQ(view.rows[2].state, EditorView::kRowSelected | EditorView::kRowFocused);
  EXPECT_EQ(view.rows[0].state, 0u);
  EXPECT_EQ(editor->currentSlot(), 1);
  EXPECT_EQ(editor->table()[1].entry.deviceName, "zulu");
}

TEST_F(EditorTest, SelectingRowShowsItsEntryAndCarriesPortChoice) {
  Open({{"A", Ip(10, 0, 0, 1), "000000000001", 4}, {"B", Ip(10, 0, 0, 2), "0000000000BB", 7}});
  view.PickPort(9);  // chosen for A, never applied
  view.ClickRow(1);
  EXPECT_EQ(editor->currentSlot(), 1);
  EXPECT_EQ(view.Text(IDC_DEVICE_NAME), "B");
  EXPECT_EQ(view.Address(), "10.0.0.2");
  EXPECT_EQ(view.Mac(), "0000000000BB");
  EXPECT_EQ(view.Text(IDC_PORT), "8");
  EXPECT_EQ(editor->table()[0].entry.portIndex, 9);
  EXPECT_EQ(view.Focus(), IDC_DEVICE_LIST);
  EXPECT_EQ(view.waitDepth, 0);
}

TEST_F(EditorTest, EnterFieldAfterEditingAddressLooksUpOnce) {
  server.macs[Ip(10, 0, 0, 7)] = {7, 7, 7, 7, 7, 7};
  Open({{"A", Ip(10, 0, 0, 1), "000000000001"}});
  view.Click(IDC_OCTET4);
  view.SelectEditText(IDC_OCTET4, 0, -1);
  view.Type("7");
  EXPECT_EQ(MacQueries(), 1);
  EXPECT_FALSE(editor->addressEdited());
  view.Click(IDC_DEVICE_NAME);
  EXPECT_EQ(MacQueries(), 1);
  EXPECT_EQ(view.Mac(), "070707070707");
}

}  // namespace
}  // namespace orvel::testing
