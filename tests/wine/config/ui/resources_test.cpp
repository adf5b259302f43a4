// The resources of the built Orvelcfg.exe, read from the file as data: both string
// tables word for word, the main dialog's template, the icons and the manifest.
#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/resources/resource.h"
#include "tests/wine/support/process_util.h"

#ifndef ORVEL_ORVELCFG_EXE
#error "ORVEL_ORVELCFG_EXE must name the built Orvelcfg.exe"
#endif

namespace orvel::test {
namespace {

constexpr WORD kEnglish = 0x0409;
constexpr WORD kJapanese = 0x0411;
// The W forms of the resource types (this file is built without UNICODE).
const LPCWSTR kIconType = MAKEINTRESOURCEW(3);
const LPCWSTR kDialogType = MAKEINTRESOURCEW(5);
const LPCWSTR kStringType = MAKEINTRESOURCEW(6);
const LPCWSTR kIconGroupType = MAKEINTRESOURCEW(14);
const LPCWSTR kManifestType = MAKEINTRESOURCEW(24);

struct ModuleCloser {
  void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleCloser>;

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string path = WindowsPath(ORVEL_ORVELCFG_EXE);
    module_.reset(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_NE(module_, nullptr) << path << ": error " << GetLastError();
  }

  // The bytes of a resource, empty when there is none in that language.
  std::string_view Resource(LPCWSTR type, LPCWSTR name, WORD language) const {
    HRSRC found = FindResourceExW(module_.get(), type, name, language);
    if (!found) return {};
    HGLOBAL loaded = LoadResource(module_.get(), found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) return {};
    return {static_cast<const char*>(data), SizeofResource(module_.get(), found)};
  }
  std::string_view AnyLanguage(LPCWSTR type, LPCWSTR name) const {
    return Resource(type, name, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  }

  UniqueModule module_;
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  reinterpret_cast<std::set<WORD>*>(found)->insert(language);
  return TRUE;
}

// A string block holds 16 counted UTF-16 strings; block 1 holds ids 0 to 15.
std::vector<std::u16string> StringBlock(std::string_view block) {
  std::vector<std::u16string> strings;
  std::size_t at = 0;
  while (strings.size() < 16 && at + 2 <= block.size()) {
    std::uint16_t length = 0;
    std::memcpy(&length, block.data() + at, 2);
    at += 2;
    if (at + length * 2u > block.size()) break;
    std::u16string text(length, u'\0');
    std::memcpy(text.data(), block.data() + at, length * 2u);
    at += length * 2u;
    strings.push_back(std::move(text));
  }
  return strings;
}

TEST_F(ResourcesTest, StringTablesHoldEveryTextInEnglishAndJapanese) {
  const std::map<int, std::u16string> english = {
      {1, u"Quorin Network Driver"},
      {2, u"Are you sure you wish to remove?"},
      {3,
       u"Quit all applications that use the Quorin Network Driver in order to change "
       u"settings.\n"},
      {4, u"Save failed -- device settings not saved."},
      {6, u" Open existing file."},
      {7, u"Saves the current file with a new name."},
      {8, u"The selected file is not a Quorin Network Driver file."},
      {9, u" Save the current settings before closing?"},
      {10, u"Administrator privileges are required to change the settings. "},
      {11, u"The setup file could not be written."},
      {12, u"The Quorin Network Driver's server does not respond. The settings were not saved."},
      {13,
       u"Another program has orveld.ini open, so the device settings were not saved and nothing "
       u"was changed. Close that program, or wait a moment, and save again."},
  };
  const std::map<int, std::u16string> japanese = {
      {1, u"Quorin Network Driver"},
      {2, u"削除してもよろしいですか?"},
      {3,
       u"設定を変更するには、Quorin Network "
       u"Driverを使用しているすべてのアプリケーションを終了してください。\n"},
      {4, u"保存に失敗しました -- デバイスの設定は保存されていません。"},
      {6, u"既存のファイルを開く"},
      {7, u"作業中のファイルを新しい名前で保存"},
      {8, u"Quorin Network Driverの設定ファイルではありません。"},
      {9, u" 現在の設定を保存してから閉じますか?"},
      {10, u"設定を変更するには管理者権限が必要です。 "},
      {11, u"設定ファイルを書き込めませんでした。"},
      {12, u"Quorin Network Driverのサーバーが応答しません。設定は保存されていません。"},
      {13,
       u"別のプログラムがorveld.iniを開いているため、デバイスの設定は保存されず、何も変更されて"
       u"いません。そのプログラムを閉じるか、しばらく待ってから、もう一度保存してください。"},
  };

  std::set<WORD> languages;
  EnumResourceLanguagesW(module_.get(), kStringType, MAKEINTRESOURCEW(1), CollectLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, (std::set<WORD>{kEnglish, kJapanese}));

  for (const auto& [language, texts] :
       {std::pair{kEnglish, english}, std::pair{kJapanese, japanese}}) {
    SCOPED_TRACE(language);
    const std::vector<std::u16string> block =
        StringBlock(Resource(kStringType, MAKEINTRESOURCEW(1), language));
    ASSERT_EQ(block.size(), 16u);
    for (int id = 0; id < 16; ++id) {
      const auto expected = texts.find(id);
      // Ids without a text (0, 5, 14 and 15) stay empty.
      const std::u16string want = expected == texts.end() ? u"" : expected->second;
      EXPECT_TRUE(block[id] == want) << "string " << id << " differs";
    }
  }
}

BOOL CALLBACK CollectBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR found) {
  if (IS_INTRESOURCE(name))
    reinterpret_cast<std::set<int>*>(found)->insert(static_cast<int>(LOWORD(name)));
  return TRUE;
}

// Both languages hold a text under the same numbers, the accessible names (100 on)
// among them: a screen reader never meets a number that one language lacks.
TEST_F(ResourcesTest, StringTablesHoldTheSameNumbersInBothLanguages) {
  std::set<int> blocks;
  EnumResourceNamesW(module_.get(), kStringType, CollectBlock, reinterpret_cast<LONG_PTR>(&blocks));
  std::map<WORD, std::set<int>> numbers;
  for (WORD language : {kEnglish, kJapanese}) {
    for (int block : blocks) {
      const std::vector<std::u16string> strings =
          StringBlock(Resource(kStringType, MAKEINTRESOURCEW(block), language));
      for (std::size_t i = 0; i < strings.size(); ++i) {
        if (!strings[i].empty()) numbers[language].insert((block - 1) * 16 + static_cast<int>(i));
      }
    }
  }
  EXPECT_EQ(numbers[kEnglish], numbers[kJapanese]);
  for (int id = 100; id <= 122; ++id) EXPECT_TRUE(numbers[kEnglish].count(id)) << id;
}

// The template of a DIALOGEX, as far as the tests look at it.
struct DialogItem {
  DWORD style = 0;
  std::array<short, 4> box{};  // x, y, width, height in dialog units
  int id = 0;
  std::u16string className;
  std::u16string text;
};

struct DialogTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  std::u16string caption;
  std::array<short, 4> box{};
  WORD pointSize = 0;
  std::u16string font;
  std::vector<DialogItem> items;
};

class TemplateReader {
 public:
  explicit TemplateReader(std::string_view data) : data_(data) {}
  bool ok() const { return ok_; }
  template <typename T>
  T Read() {
    T value{};
    if (at_ + sizeof(T) > data_.size()) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, data_.data() + at_, sizeof(T));
    at_ += sizeof(T);
    return value;
  }
  std::u16string String() {
    std::u16string text;
    for (char16_t c = Read<char16_t>(); ok_ && c != 0; c = Read<char16_t>()) text.push_back(c);
    return text;
  }
  // A name or an ordinal; ordinals of the predefined classes become their names.
  std::u16string NameOrOrdinal() {
    const char16_t first = Read<char16_t>();
    if (first == 0) return u"";
    if (first == 0xFFFF) {
      switch (Read<WORD>()) {
        case 0x80:
          return u"Button";
        case 0x81:
          return u"Edit";
        case 0x82:
          return u"Static";
        case 0x83:
          return u"ListBox";
        case 0x84:
          return u"ScrollBar";
        case 0x85:
          return u"ComboBox";
        default:
          return u"#ordinal";
      }
    }
    return first + String();
  }
  void AlignDword() { at_ = (at_ + 3) & ~std::size_t{3}; }
  void Skip(std::size_t bytes) { at_ += bytes; }

 private:
  std::string_view data_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

bool ReadDialog(std::string_view data, DialogTemplate& dialog) {
  TemplateReader r(data);
  if (r.Read<WORD>() != 1 || r.Read<WORD>() != 0xFFFF) return false;  // DLGTEMPLATEEX
  r.Read<DWORD>();                                                    // help id
  dialog.exStyle = r.Read<DWORD>();
  dialog.style = r.Read<DWORD>();
  const WORD count = r.Read<WORD>();
  for (short& side : dialog.box) side = r.Read<short>();
  r.NameOrOrdinal();  // menu
  r.NameOrOrdinal();  // class
  dialog.caption = r.String();
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = r.Read<WORD>();
    r.Read<WORD>();  // weight
    r.Read<BYTE>();  // italic
    r.Read<BYTE>();  // character set
    dialog.font = r.String();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.AlignDword();
    DialogItem item;
    r.Read<DWORD>();  // help id
    r.Read<DWORD>();  // extended style
    item.style = r.Read<DWORD>();
    for (short& side : item.box) side = r.Read<short>();
    item.id = static_cast<int>(r.Read<DWORD>());
    item.className = r.NameOrOrdinal();
    item.text = r.NameOrOrdinal();
    r.Skip(r.Read<WORD>());  // creation data
    dialog.items.push_back(std::move(item));
  }
  return r.ok();
}

std::string Narrow(const std::u16string& text) {
  std::string narrow;
  for (char16_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

// Class, text, the style bits that must be set (mask, value) and, where given, the
// rectangle in dialog units.
struct ControlWant {
  int id;
  std::u16string className;
  std::u16string text;
  DWORD mask = 0;
  DWORD value = 0;
  std::optional<std::array<short, 4>> box = std::nullopt;
};

void ExpectControls(const DialogTemplate& dialog, const std::vector<ControlWant>& controls) {
  for (const ControlWant& want : controls) {
    SCOPED_TRACE(want.id);
    const auto matching = std::count_if(dialog.items.begin(), dialog.items.end(),
                                        [&](const DialogItem& i) { return i.id == want.id; });
    ASSERT_EQ(matching, 1);
    const DialogItem& item = *std::find_if(dialog.items.begin(), dialog.items.end(),
                                           [&](const DialogItem& i) { return i.id == want.id; });
    EXPECT_EQ(
        CompareStringOrdinal(reinterpret_cast<const WCHAR*>(item.className.c_str()), -1,
                             reinterpret_cast<const WCHAR*>(want.className.c_str()), -1, TRUE),
        CSTR_EQUAL)
        << Narrow(item.className);
    EXPECT_TRUE(item.text == want.text) << Narrow(item.text);
    EXPECT_EQ(item.style & want.mask, want.value);
    EXPECT_TRUE(item.style & WS_CHILD);
    if (want.box) {
      EXPECT_EQ(item.box, *want.box);
    }
  }
}

TEST_F(ResourcesTest, MainDialogTemplateHasEveryControl) {
  DialogTemplate dialog;
  ASSERT_TRUE(ReadDialog(AnyLanguage(kDialogType, MAKEINTRESOURCEW(IDD_MAIN_DIALOG)), dialog));
  EXPECT_TRUE(dialog.caption == u"Quorin Network Driver") << Narrow(dialog.caption);
  EXPECT_TRUE(dialog.font == u"Tahoma") << Narrow(dialog.font);
  EXPECT_EQ(dialog.pointSize, 8);
  EXPECT_EQ(dialog.style & (WS_CAPTION | WS_SYSMENU), DWORD{WS_CAPTION | WS_SYSMENU});
  EXPECT_TRUE(dialog.exStyle & WS_EX_APPWINDOW);

  const DWORD kButtonType = BS_TYPEMASK;
  std::vector<ControlWant> controls = {
      {IDC_DEVICE_LIST, u"SysListView32", u"", LVS_TYPEMASK | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
       LVS_REPORT | LVS_SHOWSELALWAYS},
      {IDC_NEW, u"Button", u"&New", kButtonType, BS_PUSHBUTTON},
      {IDC_DUPLICATE, u"Button", u"&Duplicate", kButtonType, BS_PUSHBUTTON},
      {IDC_REMOVE, u"Button", u"&Remove", kButtonType, BS_PUSHBUTTON},
      {IDC_REMOVE_ALL, u"Button", u"Remove Al&l", kButtonType, BS_PUSHBUTTON},
      {IDC_UNDO, u"Button", u"&Undo", kButtonType, BS_PUSHBUTTON},
      {IDC_DEVICE_NAME, u"Edit", u"", 0, 0},
      {IDC_PORT, u"ComboBox", u"", CBS_DROPDOWNLIST, CBS_DROPDOWN},
      {IDC_APPLY, u"Button", u"&Apply", kButtonType, BS_PUSHBUTTON},
      {IDC_ADVANCED, u"Button", u"Ad&vanced Settings", kButtonType, BS_PUSHBUTTON},
      {IDOK, u"Button", u"&Save and Close", kButtonType, BS_DEFPUSHBUTTON},
      {IDCANCEL, u"Button", u"&Cancel", kButtonType, BS_PUSHBUTTON},
      {IDC_LABEL_NAME, u"Static", u"Device Name", 0, 0},
      {IDC_LABEL_ADDRESS, u"Static", u"Device IP Address", 0, 0},
      {IDC_LABEL_MAC, u"Static", u"Device MAC Address", 0, 0},
      {IDC_LABEL_PORT, u"Static", u"Device Port No.", 0, 0},
  };
  for (int id = IDC_OCTET1; id <= IDC_OCTET4; ++id) controls.push_back({id, u"Edit", u"", 0, 0});
  for (int id = IDC_MAC1; id <= IDC_MAC6; ++id) {
    controls.push_back({id, u"Edit", u"", ES_UPPERCASE, ES_UPPERCASE});
  }
  ExpectControls(dialog, controls);

  // The frames and the three lines below, which carry no id of their own.
  std::vector<std::u16string> groups;
  std::vector<std::u16string> lines;
  for (const DialogItem& item : dialog.items) {
    if (item.className == u"Button" && (item.style & BS_TYPEMASK) == BS_GROUPBOX) {
      groups.push_back(item.text);
    }
    if (item.className == u"Static" && item.id == IDC_STATIC && item.text.size() > 1) {
      lines.push_back(item.text);
    }
  }
  EXPECT_TRUE(groups == (std::vector<std::u16string>{u"Target Device List", u""}));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[0] == u"Vantor Quorin Network Driver Ver.1.2.4") << Narrow(lines[0]);
}

TEST_F(ResourcesTest, AutoDetectDialogTemplateHasEveryControl) {
  DialogTemplate dialog;
  ASSERT_TRUE(ReadDialog(AnyLanguage(kDialogType, MAKEINTRESOURCEW(IDD_AUTO_DETECT)), dialog));
  EXPECT_TRUE(dialog.caption == u"Advanced Settings") << Narrow(dialog.caption);
  EXPECT_TRUE(dialog.font == u"Tahoma") << Narrow(dialog.font);
  EXPECT_EQ(dialog.pointSize, 8);
  EXPECT_EQ(dialog.box[2], 282);
  EXPECT_EQ(dialog.box[3], 288);

  using Box = std::array<short, 4>;
  // The range fields scroll, so that a text longer than they show reaches the rules.
  const DWORD kField = ES_AUTOHSCROLL, kType = BS_TYPEMASK;
  std::vector<ControlWant> controls = {
      {IDC_AD_FROM, u"Static", u"Detect from", 0, 0, Box{12, 23, 53, 8}},
      {IDC_AD_TO, u"Static", u"Detect to", 0, 0, Box{12, 41, 53, 8}},
      {IDC_AD_STOP, u"Edit", u"", kField, kField, Box{183, 39, 20, 12}},
      {IDC_AD_SEARCHING, u"Static", u"currently searching...", 0, 0, Box{12, 58, 72, 8}},
      {IDC_AD_START, u"Button", u"&Start", kType, BS_PUSHBUTTON, Box{82, 77, 42, 13}},
      {IDC_AD_ABORT, u"Button", u"&Abort", kType, BS_PUSHBUTTON, Box{158, 77, 42, 13}},
      {IDC_AD_RESULTS, u"SysListView32", u"", LVS_TYPEMASK | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
       LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, Box{10, 97, 261, 106}},
      {IDOK, u"Button", u"Add to &Device List", kType, BS_DEFPUSHBUTTON, Box{56, 212, 68, 16}},
      {IDCANCEL, u"Button", u"&Cancel", kType, BS_PUSHBUTTON, Box{158, 212, 42, 16}},
      {IDC_AD_IMPORT, u"Button", u"&Import setup from file...", kType, BS_PUSHBUTTON,
       Box{40, 253, 84, 16}},
      {IDC_AD_EXPORT, u"Button", u"&Export setup to file...", kType, BS_PUSHBUTTON,
       Box{158, 253, 84, 16}},
  };
  const int starts[] = {IDC_AD_START1, IDC_AD_START2, IDC_AD_START3, IDC_AD_START4};
  for (int i = 0; i < 4; ++i) {
    const short x = static_cast<short>(90 + 31 * i);
    controls.push_back({starts[i], u"Edit", u"", kField, kField, Box{x, 20, 20, 12}});
    controls.push_back({IDC_AD_PROGRESS1 + i, u"Static", u"", 0, 0, Box{short(x + 1), 57, 18, 8}});
    if (i == 3) break;
    controls.push_back({IDC_AD_MIRROR1 + i, u"Static", u"", 0, 0, Box{short(x + 1), 39, 18, 8}});
    controls.push_back({IDC_AD_DOT1 + i, u"Static", u".", 0, 0, Box{short(x + 22), 60, 6, 8}});
  }
  ExpectControls(dialog, controls);
  std::vector<std::array<short, 4>> groups;
  for (const DialogItem& item : dialog.items) {
    if (item.className == u"Button" && (item.style & BS_TYPEMASK) == BS_GROUPBOX) {
      groups.push_back(item.box);
    }
  }
  EXPECT_EQ(groups, (std::vector<std::array<short, 4>>{{7, 7, 268, 235}, {7, 240, 268, 41}}));
}

// The pictures of an unchecked, a checked and an already listed unit: each a masked
// 16 by 16 image, as the result list's image list loads them.
TEST_F(ResourcesTest, RowImagesAreMasked16PixelIcons) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(module_.get());
  for (int icon : {IDI_ROW_NEW, IDI_ROW_CHECKED, IDI_ROW_LISTED}) {
    SCOPED_TRACE(icon);
    ASSERT_FALSE(AnyLanguage(kIconGroupType, MAKEINTRESOURCEW(icon)).empty());
    HICON handle = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(icon), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    ASSERT_NE(handle, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(handle, &info));
    BITMAP mask{};
    GetObjectA(info.hbmMask, sizeof(mask), &mask);
    EXPECT_EQ(mask.bmWidth, 16);
    EXPECT_EQ(mask.bmHeight, info.hbmColor ? 16 : 32);  // a mono icon stacks its two masks
    // The mask leaves part of the square transparent and draws on the rest.
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, info.hbmMask);
    int transparent = 0;
    for (int y = 0; y < 16; ++y) {
      for (int x = 0; x < 16; ++x) transparent += GetPixel(dc, x, y) != 0 ? 1 : 0;
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_GT(transparent, 0);
    EXPECT_LT(transparent, 256);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(handle);
  }
}

// WCAG's contrast ratio of two sRGB colours, from their relative luminance.
double Luminance(COLORREF colour) {
  auto linear = [](int channel) {
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(GetRValue(colour)) + 0.7152 * linear(GetGValue(colour)) +
         0.0722 * linear(GetBValue(colour));
}

double Contrast(COLORREF a, COLORREF b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The three sort marks as the header draws them, at the sizes it loads (16 pixels at
// 96 DPI, 24 at 144), on the white header of the default theme and on the black one of
// a high-contrast theme: the pixels that stand out from the header by 4.5:1 or more
// must make a mark, at least an eighth of the square and a third of its width and
// height.
TEST_F(ResourcesTest, SortMarksStandOutOnWhiteAndOnBlackHeaders) {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(module_.get());
  for (int icon : {IDI_SORT_NONE, IDI_SORT_UP, IDI_SORT_DOWN}) {
    for (int size : {16, 24}) {
      HICON handle = static_cast<HICON>(
          LoadImageA(instance, MAKEINTRESOURCEA(icon), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
      ASSERT_NE(handle, nullptr);
      for (COLORREF header : {RGB(255, 255, 255), RGB(0, 0, 0)}) {
        SCOPED_TRACE(std::to_string(icon) + " at " + std::to_string(size) + " on " +
                     (header ? "white" : "black"));
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = size;
        info.bmiHeader.biHeight = -size;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        ASSERT_NE(canvas, nullptr);
        HGDIOBJ old = SelectObject(dc, canvas);
        HBRUSH brush = CreateSolidBrush(header);
        RECT all = {0, 0, size, size};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        DrawIconEx(dc, 0, 0, handle, size, size, 0, nullptr, DI_NORMAL);
        GdiFlush();
        int standing = 0;
        RECT box = {size, size, -1, -1};
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        for (int y = 0; y < size; ++y) {
          for (int x = 0; x < size; ++x) {
            const std::uint32_t p = pixels[y * size + x];
            const COLORREF colour = RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
            if (Contrast(colour, header) < 4.5) continue;
            ++standing;
            box = {std::min<LONG>(box.left, x), std::min<LONG>(box.top, y),
                   std::max<LONG>(box.right, x), std::max<LONG>(box.bottom, y)};
          }
        }
        SelectObject(dc, old);
        DeleteObject(canvas);
        DeleteDC(dc);
        EXPECT_GE(standing * 8, size * size) << standing << " pixels stand out";
        EXPECT_GE((box.right - box.left + 1) * 3, size);
        EXPECT_GE((box.bottom - box.top + 1) * 3, size);
      }
      DestroyIcon(handle);
    }
  }
}

#pragma pack(push, 2)
struct IconDirectoryEntry {
  BYTE width;
  BYTE height;
  BYTE colors;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytes;
  WORD id;
};
#pragma pack(pop)
static_assert(sizeof(IconDirectoryEntry) == 14);

TEST_F(ResourcesTest, IconsHoldImagesOf16And32Pixels) {
  for (int icon : {IDI_APPLICATION_ICON, IDI_SORT_NONE, IDI_SORT_UP, IDI_SORT_DOWN}) {
    SCOPED_TRACE(icon);
    const std::string_view group = AnyLanguage(kIconGroupType, MAKEINTRESOURCEW(icon));
    ASSERT_GE(group.size(), 6u);
    WORD header[3];
    std::memcpy(header, group.data(), sizeof(header));
    EXPECT_EQ(header[1], 1);  // icons, not cursors
    ASSERT_EQ(group.size(), 6u + header[2] * sizeof(IconDirectoryEntry));
    std::set<int> sizes;
    for (WORD i = 0; i < header[2]; ++i) {
      IconDirectoryEntry entry;
      std::memcpy(&entry, group.data() + 6 + i * sizeof(entry), sizeof(entry));
      const std::string_view image = AnyLanguage(kIconType, MAKEINTRESOURCEW(entry.id));
      ASSERT_FALSE(image.empty()) << "image " << entry.id;
      EXPECT_EQ(image.size(), entry.bytes);
      const int side = entry.width == 0 ? 256 : entry.width;
      HICON handle = CreateIconFromResourceEx(
          reinterpret_cast<PBYTE>(const_cast<char*>(image.data())),
          static_cast<DWORD>(image.size()), TRUE, 0x00030000, side, side, LR_DEFAULTCOLOR);
      ASSERT_NE(handle, nullptr) << "image " << entry.id << " does not decode";
      ICONINFO info{};
      ASSERT_TRUE(GetIconInfo(handle, &info));
      BITMAP mask{};
      GetObjectA(info.hbmMask, sizeof(mask), &mask);
      EXPECT_EQ(mask.bmWidth, side);
      if (info.hbmColor) DeleteObject(info.hbmColor);
      DeleteObject(info.hbmMask);
      DestroyIcon(handle);
      if (entry.width == entry.height) sizes.insert(side);
    }
    EXPECT_TRUE(sizes.count(16)) << "no 16 by 16 image";
    EXPECT_TRUE(sizes.count(32)) << "no 32 by 32 image";
  }
}

TEST_F(ResourcesTest, ManifestNamesTheAssemblyAsksHighestAvailableAndDeclaresToday) {
  const std::string manifest(AnyLanguage(kManifestType, MAKEINTRESOURCEW(1)));
  ASSERT_FALSE(manifest.empty());
  for (const char* part :
       {"name=\"Quorin Network Driver Control Panel\"", "version=\"1.2.4.0\"", "type=\"win32\"",
        "level=\"highestAvailable\"", "uiAccess=\"false\"",
        // visual styles, system DPI awareness, Windows 7, 8, 8.1 and 10/11
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "publicKeyToken=\"6595b64144ccf1df\"", ">true</dpiAware>",
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
#ifdef _WIN64
        "processorArchitecture=\"amd64\""
#else
        "processorArchitecture=\"x86\""
#endif
       }) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

}  // namespace
}  // namespace orvel::test
