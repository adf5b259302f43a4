#include "config/core/win32_app_platform.h"

#include <aclapi.h>
#include <commctrl.h>
#include <sddl.h>
#include <shlobj.h>

#include "config/core/win32_security.h"

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

namespace {

using Found = AppPlatform::MachineMutexFacts::Found;

Found FoundByError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return Found::kNothing;
    case ERROR_ACCESS_DENIED:
      return Found::kShutOut;
    case ERROR_INVALID_HANDLE:  // the name is an event's, a semaphore's...
      return Found::kOtherObject;
    default:
      return Found::kFailed;
  }
}

bool AdministratorsOwn(HANDLE object) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                      nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  OwnedDescriptor owned(descriptor);
  return IsSystemOrAdministrators(owner);
}

}  // namespace

AppPlatform::MachineMutexFacts Win32AppPlatform::CreateMachineInstanceMutex(
    const std::string& name) {
  ReleaseMachineInstanceMutex();
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kMachineInstanceMutexSddl,
                                                            SDDL_REVISION_1, &raw, nullptr)) {
    return {Found::kFailed, false};
  }
  OwnedDescriptor descriptor(raw);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  HANDLE mutex =
      CreateMutexExA(&attributes, name.c_str(), 0, SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL);
  const DWORD error = GetLastError();
  if (mutex == nullptr) return {FoundByError(error), false};
  machineMutex_.reset(mutex);
  return {error == ERROR_ALREADY_EXISTS ? Found::kExisting : Found::kMade,
          AdministratorsOwn(mutex)};
}

AppPlatform::TakeResult Win32AppPlatform::TakeMachineInstanceMutex() {
  if (!machineMutex_) return TakeResult::kFailed;
  switch (WaitForSingleObject(machineMutex_.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:
      machineMutexTaken_ = true;
      return TakeResult::kTaken;
    case WAIT_TIMEOUT:
      return TakeResult::kHeldElsewhere;
    default:
      return TakeResult::kFailed;
  }
}

void Win32AppPlatform::ReleaseMachineInstanceMutex() {
  if (machineMutexTaken_) ReleaseMutex(machineMutex_.get());
  machineMutexTaken_ = false;
  machineMutex_.reset();
}

AppPlatform::MachineMutexFacts Win32AppPlatform::OpenMachineInstanceMutex(const std::string& name) {
  UniqueHandle mutex(OpenMutexA(READ_CONTROL, FALSE, name.c_str()));
  if (!mutex) return {FoundByError(GetLastError()), false};
  return {Found::kExisting, AdministratorsOwn(mutex.get())};
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
  return OpenSettingsFile(path, Win32FileAccess::Links::kRefuse);
}

std::unique_ptr<SettingsStore> Win32AppPlatform::OpenSetupFile(const std::string& path) {
  return OpenSettingsFile(path);
}

void Win32AppPlatform::ShowMessage(TextId text) {
  const std::string body = LoadText(instance_, text);
  const std::string caption = LoadText(instance_, kTextProductName);
  MessageBoxA(nullptr, body.c_str(), caption.c_str(), MB_ICONINFORMATION);
}

void Win32AppPlatform::FindConsole() {
  consoleLooked_ = true;
  // A script that redirects the output hands a file or a pipe; a program of the
  // windows subsystem gets no console of its own.
  HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
  if (inherited != nullptr && inherited != INVALID_HANDLE_VALUE) {
    const DWORD type = GetFileType(inherited);
    if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
      output_ = inherited;
      return;
    }
  }
  if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
  conout_ = OwnHandle(CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
  output_ = conout_.get();
}

void Win32AppPlatform::WriteConsoleText(const std::string& text) {
  if (!consoleLooked_) FindConsole();
  if (output_ == nullptr) return;
  std::string lines;
  for (const char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  DWORD mode = 0;
  if (output_ == conout_.get() && GetConsoleMode(output_, &mode)) {
    // The console's own code page may not be the program's: go through UTF-16.
    const int length = static_cast<int>(lines.size());
    const int wide = MultiByteToWideChar(CP_ACP, 0, lines.data(), length, nullptr, 0);
    if (wide > 0) {
      std::wstring converted(static_cast<std::size_t>(wide), L'\0');
      MultiByteToWideChar(CP_ACP, 0, lines.data(), length, converted.data(), wide);
      DWORD written = 0;
      WriteConsoleW(output_, converted.data(), static_cast<DWORD>(wide), &written, nullptr);
      return;
    }
  }
  DWORD written = 0;
  WriteFile(output_, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
}

std::string LoadText(HINSTANCE instance, unsigned id) {
  char text[1024] = {};
  const int length = LoadStringA(instance, id, text, sizeof(text));
  return length > 0 ? std::string(text, length) : std::string();
}

}  // namespace orvel
