#pragma once
// The widths of a list's columns in the font the dialog really gets: each keeps its
// designed width where its texts fit in it, and gets what they need where they do not,
// as far as the list has room.

#include <vector>

namespace orvel {

struct ColumnFit {
  int width;  // the designed width, in pixels at the list's DPI
  int need;   // what its widest text, or its title with any sort mark, takes in pixels
};

// Each column's width, never below its designed one. The room left in the list goes to
// the columns that are short, the least short first, so that as many as can read in
// full; a column that cannot get all it needs gets what is left.
std::vector<int> FitColumns(const std::vector<ColumnFit>& columns, int room);

}  // namespace orvel
