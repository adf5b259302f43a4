#pragma once
// Set-up shared by the dialogs' list views.

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <initializer_list>
#include <span>

namespace orvel::ui {

struct ListColumn {
  const char* title;
  int width;
};

// Pixels measured at 96 DPI, scaled to the DPI the window's fonts were made for.
int ScaleForDpi(HWND window, int pixels);

// Left-aligned report columns, in order; widths are at 96 DPI.
void AddListColumns(HWND list, std::span<const ListColumn> columns);
// A masked image list of the given icon resources, in order, at the small-icon size
// for the window's DPI (16 by 16 at 96 DPI).
HIMAGELIST LoadSmallIcons(HINSTANCE instance, HWND window, std::initializer_list<int> icons);

}  // namespace orvel::ui
