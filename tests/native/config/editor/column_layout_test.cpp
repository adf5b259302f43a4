#include "config/editor/column_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvel {
namespace {

TEST(FitColumns, DesignedWidthsHoldWhereTheTextsFitAndGrowWhereTheListHasRoom) {
  struct Case {
    const char* what;
    std::vector<ColumnFit> columns;
    int room;
    std::vector<int> widths;
  };
  const Case cases[] = {
      {"every text fits: the designed widths, room left over",
       {{110, 90}, {136, 136}, {150, 120}},
       500,
       {110, 136, 150}},
      {"short columns get what they need",
       {{110, 125}, {136, 150}, {150, 120}},
       500,
       {125, 150, 150}},
      {"room for exactly all of it", {{110, 125}, {136, 150}}, 275, {125, 150}},
      {"too little room: the least short first, the rest to the next",
       {{110, 140}, {136, 141}, {150, 160}},
       420,
       {119, 141, 160}},
      {"no room at all: nothing grows, nothing shrinks", {{110, 140}, {136, 100}}, 200, {110, 136}},
      {"equally short columns: the first in order", {{50, 60}, {50, 60}}, 110, {60, 50}},
      {"no columns", {}, 300, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(FitColumns(c.columns, c.room), c.widths);
  }
}

}  // namespace
}  // namespace orvel
