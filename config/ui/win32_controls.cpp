#include "config/ui/win32_controls.h"

#include <algorithm>

#include "config/editor/column_layout.h"

namespace orvel::ui {
namespace {

// What a cell leaves either side of its text, at 96 DPI.
constexpr int kCellMargins = 12;
// The sort mark's width at 96 DPI: the header's small-icon size.
constexpr int kSortMark = 16;

// `text` with every character found in `places` replaced by the widest of them in the
// list's font: no text of that form is wider.
std::string Widest(HWND list, std::string text, const char* places) {
  char widest = 0;
  int most = -1;
  for (const char* c = places; *c; ++c) {
    const char one[2] = {*c, '\0'};
    const int width = ListView_GetStringWidth(list, one);
    if (width > most) {
      most = width;
      widest = *c;
    }
  }
  if (widest == 0) return text;
  for (char& c : text) {
    if (std::char_traits<char>::find(places, std::char_traits<char>::length(places), c)) c = widest;
  }
  return text;
}

// The width the header needs to show a title whole: its text with the margins either
// side, the sort mark with its own margins, and the item's edges.
int TitleWidth(HWND list, const ListColumn& column) {
  HWND header = ListView_GetHeader(list);
  HDC dc = GetDC(header);
  if (!dc) return 0;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(header, WM_GETFONT, 0, 0)));
  SIZE text = {};
  GetTextExtentPoint32A(dc, column.title,
                        static_cast<int>(std::char_traits<char>::length(column.title)), &text);
  SelectObject(dc, old);
  ReleaseDC(header, dc);
  const int margin = static_cast<int>(SendMessageA(header, HDM_GETBITMAPMARGIN, 0, 0));
  const int mark = column.sortMark ? ScaleForDpi(list, kSortMark) + 2 * margin : 0;
  return text.cx + 2 * margin + mark + 2 * GetSystemMetrics(SM_CXEDGE);
}

}  // namespace

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

std::vector<int> AddListColumns(HWND list, std::span<const ListColumn> columns,
                                LastColumnWidths last) {
  const int count = static_cast<int>(columns.size());
  for (int column = 0; column < count; ++column) {
    LVCOLUMNA item = {};
    item.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    item.fmt = LVCFMT_LEFT;
    item.cx = ScaleForDpi(list, columns[column].width);
    item.pszText = const_cast<char*>(columns[column].title);
    item.iSubItem = column;
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&item));
  }

  // Measured once the header exists and has the list's font. The last column is laid out
  // as wide as it is without the scroll bar and must still fit its texts beside it.
  std::vector<ColumnFit> fits;
  const int giveWay = ScaleForDpi(list, last.wide) - ScaleForDpi(list, last.narrow);
  for (int column = 0; column < count; ++column) {
    const ListColumn& c = columns[column];
    int need = TitleWidth(list, c);
    if (!c.widest.empty()) {
      const std::string widest = Widest(list, c.widest, c.places);
      need = std::max(
          need, ListView_GetStringWidth(list, widest.c_str()) + ScaleForDpi(list, kCellMargins));
    }
    const bool isLast = column == count - 1;
    fits.push_back(
        {ScaleForDpi(list, isLast ? last.wide : c.width), need + (isLast ? giveWay : 0)});
  }
  RECT client = {};
  GetClientRect(list, &client);
  int room = client.right - client.left;
  if (GetWindowLongA(list, GWL_STYLE) & WS_VSCROLL) room += GetSystemMetrics(SM_CXVSCROLL);

  const std::vector<int> widths = FitColumns(fits, room);
  std::vector<int> extra;
  for (int column = 0; column < count; ++column) {
    extra.push_back(widths[column] - fits[column].width);
    if (extra.back() > 0) {
      ListView_SetColumnWidth(list, column,
                              ScaleForDpi(list, columns[column].width) + extra.back());
    }
  }
  return extra;
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
