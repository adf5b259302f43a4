#include "config/ui/win32_controls.h"

namespace orvel::ui {

// The DC's figure rather than the window's own DPI: a program that declares no DPI
// awareness is shown 96 on Windows (which then stretches the window), while Wine makes
// such a program's fonts at the real DPI and says so here; both match the dialog units.
int ScaleForDpi(HWND window, int pixels) {
  HDC dc = GetDC(window);
  const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : USER_DEFAULT_SCREEN_DPI;
  if (dc) ReleaseDC(window, dc);
  if (dpi <= 0 || dpi == USER_DEFAULT_SCREEN_DPI) return pixels;
  return MulDiv(pixels, dpi, USER_DEFAULT_SCREEN_DPI);
}

void AddListColumns(HWND list, std::span<const ListColumn> columns) {
  for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
    LVCOLUMNA item = {};
    item.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    item.fmt = LVCFMT_LEFT;
    item.cx = ScaleForDpi(list, columns[column].width);
    item.pszText = const_cast<char*>(columns[column].title);
    item.iSubItem = column;
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&item));
  }
}

HIMAGELIST LoadSmallIcons(HINSTANCE instance, HWND window, std::initializer_list<int> icons) {
  const int size = ScaleForDpi(window, 16);
  HIMAGELIST images =
      ImageList_Create(size, size, ILC_MASK | ILC_COLOR32, static_cast<int>(icons.size()),
                       static_cast<int>(icons.size()));
  for (int icon : icons) {
    HICON image = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(icon), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    ImageList_AddIcon(images, image);
    if (image) DestroyIcon(image);
  }
  return images;
}

}  // namespace orvel::ui
