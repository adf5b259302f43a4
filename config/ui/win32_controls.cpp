#include "config/ui/win32_controls.h"

namespace orvel::ui {

void AddListColumns(HWND list, std::span<const ListColumn> columns) {
  for (int column = 0; column < static_cast<int>(columns.size()); ++column) {
    LVCOLUMNA item = {};
    item.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    item.fmt = LVCFMT_LEFT;
    item.cx = columns[column].width;
    item.pszText = const_cast<char*>(columns[column].title);
    item.iSubItem = column;
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&item));
  }
}

HIMAGELIST LoadSmallIcons(HINSTANCE instance, std::initializer_list<int> icons) {
  HIMAGELIST images =
      ImageList_Create(16, 16, ILC_MASK | ILC_COLOR32, static_cast<int>(icons.size()),
                       static_cast<int>(icons.size()));
  for (int icon : icons) {
    HICON image = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(icon), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    ImageList_AddIcon(images, image);
    if (image) DestroyIcon(image);
  }
  return images;
}

}  // namespace orvel::ui
