#include "tests/wine/config/orvelcfg_driver.h"

#include <shlobj.h>

#include <vector>

namespace orvel::test {
namespace {

constexpr int kDeviceListId = 1002;

struct Search {
  DWORD processId;
  bool mainDialog;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  char className[32] = {};
  GetClassNameA(window, className, sizeof(className));
  if (std::string(className) != "#32770" || ReadText(window) != kProductCaption) return TRUE;
  const bool isMain = GetDlgItem(window, kDeviceListId) != nullptr;
  if (isMain != search->mainDialog) return TRUE;
  search->found = window;
  return FALSE;
}

HWND WaitForDialog(DWORD processId, bool mainDialog, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  do {
    Search search{processId, mainDialog, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (search.found) return search.found;
    Sleep(50);
  } while (GetTickCount64() < deadline);
  return nullptr;
}

BOOL CALLBACK CollectStatic(HWND window, LPARAM lParam) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof(className));
  if (lstrcmpiA(className, "Static") == 0) {
    const std::string text = ReadText(window);
    if (!text.empty()) *reinterpret_cast<std::string*>(lParam) += text;
  }
  return TRUE;
}

}  // namespace

std::string ReadText(HWND window) {
  char text[1024] = {};
  // WM_GETTEXT crosses process boundaries; GetWindowText would not ask the window.
  const LRESULT length =
      SendMessageA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string SettingsFilePath() {
  char folder[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  return std::string(folder) + "\\VANTOR\\ORVELDRIVER\\orveld.ini";
}

SettingsFileGuard::SettingsFileGuard() {
  const std::string path = SettingsFilePath();
  saved_ = ReadFileText(path);
  DeleteFileA(path.c_str());
}

SettingsFileGuard::~SettingsFileGuard() {
  const std::string path = SettingsFilePath();
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
  RemoveDirectoryA(path.c_str());
  if (saved_) WriteFileText(path, *saved_);
}

bool Orvelcfg::Start() { return process_.Start(QuoteArgument(WindowsPath(ORVEL_ORVELCFG_EXE))); }

HWND Orvelcfg::MainDialog(DWORD timeoutMs) { return WaitForDialog(process_.Id(), true, timeoutMs); }

HWND Orvelcfg::MessageBoxWindow(DWORD timeoutMs) {
  return WaitForDialog(process_.Id(), false, timeoutMs);
}

std::string MessageBoxText(HWND box) {
  std::string text;
  EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
  return text;
}

void PressButton(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

}  // namespace orvel::test
