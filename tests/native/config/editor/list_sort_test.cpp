// Column sorting of the device list.
#include "tests/native/config/editor/editor_fixture.h"

namespace orvel::testing {
namespace {

using Names = std::vector<std::string>;

TEST_F(EditorTest, NameHeaderStepsThroughAscendingDescendingAndSlotOrder) {
  Open({{"Gamma", Ip(10, 0, 0, 1), "000000000001"},
        {"alpha", Ip(10, 0, 0, 2), "000000000002"},
        {"Beta", Ip(10, 0, 0, 3), "000000000003"}});
  struct Step {
    Names names;
    std::array<int, 3> images;
  };
  const Step steps[] = {
      {{"Beta", "Gamma", "alpha"}, {1, 0, 0}},  // capitals before small letters
      {{"alpha", "Gamma", "Beta"}, {2, 0, 0}},
      {{"Gamma", "alpha", "Beta"}, {0, 0, 0}},
  };
  for (const Step& step : steps) {
    editor->OnColumnClick(0);
    EXPECT_EQ(view.Column(0), step.names);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(view.sortImages[c], step.images[c]) << c;
  }
}

TEST_F(EditorTest, AddressHeaderResetsNameColumnAndSortsByShownText) {
  Open({{"a", Ip(192, 168, 0, 100), "000000000001"},
        {"b", Ip(192, 168, 0, 9), "000000000002"},
        {"c", Ip(192, 168, 0, 99), "000000000003"},
        {"d", Ip(192, 168, 0, 10), "000000000004"}});
  editor->OnColumnClick(0);
  editor->OnColumnClick(1);
  EXPECT_EQ(view.sortImages[0], 0);
  EXPECT_EQ(view.sortImages[1], 1);
  // .100 before .99: the text, not the number, decides.
  EXPECT_EQ(view.Column(0), (Names{"b", "d", "a", "c"}));
}

TEST_F(EditorTest, EqualKeysKeepTheirOrderBothWays) {
  Open({{"one", Ip(10, 0, 0, 1), "000000000001"},
        {"two", Ip(10, 0, 0, 2), "000000000001"},
        {"three", Ip(10, 0, 0, 3), "000000000000"}});
  editor->OnColumnClick(2);
  EXPECT_EQ(view.Column(0), (Names{"three", "one", "two"}));
  editor->OnColumnClick(2);
  EXPECT_EQ(view.Column(0), (Names{"one", "two", "three"}));
}

TEST_F(EditorTest, BlankRowStaysLastAndPortHeaderChangesNothing) {
  Open({{"b", Ip(10, 0, 0, 1), "000000000001"}, {"a", Ip(10, 0, 0, 2), "000000000002"}});
  editor->New();
  editor->OnColumnClick(0);
  EXPECT_EQ(view.Column(0), (Names{"a", "b", " "}));
  const auto rows = view.rows;
  const auto images = view.sortImages;
  editor->OnColumnClick(3);
  EXPECT_EQ(view.Column(0), (Names{"a", "b", " "}));
  EXPECT_EQ(view.sortImages, images);
  EXPECT_EQ(editor->sortColumn(), 3);
}

TEST_F(EditorTest, OneRowIsNeverSorted) {
  Open({{"only", Ip(10, 0, 0, 1), "000000000001"}});
  editor->New();
  const int writes = view.rowWrites;
  editor->OnColumnClick(0);
  EXPECT_EQ(view.rowWrites, writes);
  EXPECT_EQ(view.rows[1].state, EditorView::kRowSelected | EditorView::kRowFocused);
}

TEST_F(EditorTest, SelectionFocusAndCurrentSlotFollowTheRows) {
  Open({{"c", Ip(10, 0, 0, 1), "000000000001"},
        {"a", Ip(10, 0, 0, 2), "000000000002"},
        {"d", Ip(10, 0, 0, 3), "000000000003"},
        {"b", Ip(10, 0, 0, 4), "000000000004"}});
  view.ClickRow(0);      // c
  view.CtrlClickRow(3);  // b, focused
  ASSERT_EQ(editor->currentSlot(), 3);
  editor->OnColumnClick(0);
  EXPECT_EQ(view.Column(0), (Names{"a", "b", "c", "d"}));
  EXPECT_EQ(view.rows[1].state, EditorView::kRowSelected | EditorView::kRowFocused);
  EXPECT_EQ(view.rows[2].state, EditorView::kRowSelected);
  EXPECT_EQ(view.rows[0].state, 0u);
  EXPECT_EQ(editor->currentSlot(), 3);
  for (int row = 0; row < view.RowCount(); ++row) {
    EXPECT_EQ(view.RowText(row, 0), editor->table()[view.RowSlot(row)].entry.deviceName);
  }
}

TEST_F(EditorTest, SortOrderSurvivesRemove) {
  Open({{"c", Ip(10, 0, 0, 1), "000000000001"},
        {"a", Ip(10, 0, 0, 2), "000000000002"},
        {"b", Ip(10, 0, 0, 3), "000000000003"}});
  editor->OnColumnClick(0);
  editor->OnColumnClick(0);  // descending
  view.ClickRow(0);          // c
  editor->Remove();
  EXPECT_EQ(view.Column(0), (Names{"b", "a"}));
}

TEST_F(EditorTest, SortOfFullListMovesRowsWithoutRewritingThem) {
  OpenNumbered(256);
  const int writes = view.rowWrites;
  editor->OnColumnClick(0);  // ascending: U0, U1, U10, U100, ...
  EXPECT_EQ(view.RowText(0, 0), "U0");
  EXPECT_EQ(view.RowText(1, 0), "U1");
  EXPECT_EQ(view.RowText(2, 0), "U10");
  EXPECT_EQ(view.reorders, 1);
  editor->OnColumnClick(0);
  editor->OnColumnClick(0);  // back to slot order
  for (int row = 0; row < 256; ++row) {
    ASSERT_EQ(view.RowSlot(row), static_cast<unsigned>(row));
    ASSERT_EQ(view.RowText(row, 0), "U" + std::to_string(row));
  }
  EXPECT_EQ(view.reorders, 3);
  // Only the states the focus and selection restore were written.
  EXPECT_LT(view.rowWrites - writes, 3 * 4);
}

TEST_F(EditorTest, SortThatChangesNoOrderLeavesTheRowsAlone) {
  Open({{"a", Ip(10, 0, 0, 1), "000000000001"},
        {"a", Ip(10, 0, 0, 2), "000000000002"},
        {"b", Ip(10, 0, 0, 3), "000000000003"}});
  editor->OnColumnClick(0);  // already ascending; equal names keep their places
  EXPECT_EQ(view.reorders, 0);
  editor->OnColumnClick(0);
  EXPECT_EQ(view.reorders, 1);
  EXPECT_EQ(view.RowText(0, 0), "b");
  EXPECT_EQ(view.RowSlot(1), 0u);
  EXPECT_EQ(view.RowSlot(2), 1u);
}

// Apply and Undo on a sorted full list rewrite only the renamed row's cell and move
// the rows; every row still reads as its slot's entry.
TEST_F(EditorTest, ApplyAndUndoOnSortedFullListRewriteOnlyWhatChanged) {
  OpenNumbered(256);
  editor->OnColumnClick(0);  // ascending: U0, U1, U10, U100, ...
  view.ClickRow(3);          // U100
  ASSERT_EQ(editor->currentSlot(), 100);
  view.Click(IDC_DEVICE_NAME);
  view.SelectEditText(IDC_DEVICE_NAME, 0, -1);
  view.Type("A100");
  const int writes = view.rowWrites;
  const int reorders = view.reorders;
  editor->Apply();
  auto expectRowsReadAsTheirSlots = [&] {
    for (int row = 0; row < view.RowCount(); ++row) {
      const auto& entry = editor->table()[view.RowSlot(row)].entry;
      ASSERT_EQ(view.RowText(row, 0), entry.deviceName) << row;
    }
  };
  expectRowsReadAsTheirSlots();
  EXPECT_EQ(view.RowText(0, 0), "A100");
  EXPECT_EQ(view.RowText(1, 0), "U0");
  EXPECT_EQ(view.rows[0].state, EditorView::kRowSelected | EditorView::kRowFocused);
  EXPECT_EQ(editor->currentSlot(), 100);
  EXPECT_EQ(view.RowCount(), 256);
  // One cell and a handful of states; rebuilding would write over a thousand cells.
  EXPECT_LT(view.rowWrites - writes, 8);
  EXPECT_EQ(view.reorders - reorders, 2);  // to slot order, then sorted again

  editor->Undo();
  expectRowsReadAsTheirSlots();
  EXPECT_EQ(view.RowText(3, 0), "U100");
  EXPECT_EQ(editor->table()[100].entry.deviceName, "U100");
}

}  // namespace
}  // namespace orvel::testing
