#pragma once
// Set-up shared by the dialogs' list views.

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace orvel::ui {

struct ListColumn {
  const char* title;
  int width;  // at 96 DPI, as the column is made
  // The widest text a cell holds, where each character found in `places` may be any of
  // them ("0123456789" for an address); empty for texts that are cut when too long.
  std::string widest = {};
  const char* places = "";
  bool sortMark = false;  // the header shows a sort mark beside the title
};

// The last column's widths at 96 DPI with and without the list's vertical scroll bar,
// when it gives way to the bar.
struct LastColumnWidths {
  int wide;
  int narrow;
};

// Pixels measured at 96 DPI, scaled to the DPI the window's fonts were made for.
int ScaleForDpi(HWND window, int pixels);

// Left-aligned report columns, in order; widths are at 96 DPI, scaled. A column whose
// widest text or title does not fit in that width is made wider, as far as the list
// has room (with the last column at `last.narrow` beside the scroll bar). Returns the
// pixels each column got beyond its scaled width, which it keeps whatever width the
// code gives it later.
std::vector<int> AddListColumns(HWND list, std::span<const ListColumn> columns,
                                LastColumnWidths last);
// A masked image list of the given icon resources, in order, at the small-icon size
// for the window's DPI (16 by 16 at 96 DPI).
HIMAGELIST LoadSmallIcons(HINSTANCE instance, HWND window, std::initializer_list<int> icons);

}  // namespace orvel::ui
