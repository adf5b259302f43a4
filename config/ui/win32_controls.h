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

// Left-aligned report columns, in order.
void AddListColumns(HWND list, std::span<const ListColumn> columns);
// A 16 by 16 masked image list of the given icon resources, in order.
HIMAGELIST LoadSmallIcons(HINSTANCE instance, std::initializer_list<int> icons);

}  // namespace orvel::ui
