#include "config/core/win32_app_platform.h"

#include <commctrl.h>
#include <shlobj.h>

namespace orvel {

std::optional<std::string> Win32AppPlatform::CommonAppDataFolder() {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                              SHGFP_TYPE_CURRENT, path))) {
    return std::nullopt;
  }
  path[MAX_PATH - 1] = '\0';
  return std::string(path);
}

bool Win32AppPlatform::SingleInstanceMutexExists(const std::string& name) {
  UniqueHandle existing(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
  return existing != nullptr;
}

void Win32AppPlatform::CreateSingleInstanceMutex(const std::string& name) {
  mutex_.reset(CreateMutexA(nullptr, FALSE, name.c_str()));
}

void Win32AppPlatform::ReleaseSingleInstanceMutex() {
  if (!mutex_) return;
  ReleaseMutex(mutex_.get());
  mutex_.reset();
}

void Win32AppPlatform::InitCommonControls() {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
}

std::string Win32AppPlatform::ModuleFileName() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  // A path cut at the buffer's end names no real folder.
  if (length == 0 || length >= MAX_PATH) return std::string();
  return std::string(path, length);
}

std::unique_ptr<SettingsStore> Win32AppPlatform::OpenSettings(const std::string& path) {
  return OpenSettingsFile(path);
}

void Win32AppPlatform::ShowMessage(TextId text) {
  const std::string body = LoadText(instance_, text);
  const std::string caption = LoadText(instance_, kTextProductName);
  MessageBoxA(nullptr, body.c_str(), caption.c_str(), MB_ICONINFORMATION);
}

std::string LoadText(HINSTANCE instance, unsigned id) {
  char text[1024] = {};
  const int length = LoadStringA(instance, id, text, sizeof(text));
  return length > 0 ? std::string(text, length) : std::string();
}

}  // namespace orvel
