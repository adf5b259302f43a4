#include "config/editor/column_layout.h"

#include <algorithm>
#include <cstddef>

namespace orvel {

std::vector<int> FitColumns(const std::vector<ColumnFit>& columns, int room) {
  std::vector<int> widths;
  std::vector<std::size_t> shortOnes;
  int spare = room;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    widths.push_back(columns[i].width);
    spare -= columns[i].width;
    if (columns[i].need > columns[i].width) shortOnes.push_back(i);
  }
  std::stable_sort(shortOnes.begin(), shortOnes.end(), [&](std::size_t a, std::size_t b) {
    return columns[a].need - columns[a].width < columns[b].need - columns[b].width;
  });
  for (std::size_t i : shortOnes) {
    if (spare <= 0) break;
    const int more = std::min(spare, columns[i].need - columns[i].width);
    widths[i] += more;
    spare -= more;
  }
  return widths;
}

}  // namespace orvel
