#include <windows.h>
// after windows.h
#include <setupapi.h>
#include <shlobj.h>

#include <memory>
#include <utility>

#include "tests/wine/installer/machine.h"

namespace orvel::test::machine {
namespace {

struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

UniqueKey Open(const wchar_t* path, REGSAM access, REGSAM view) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access | view, &key) != ERROR_SUCCESS) {
    return nullptr;
  }
  return UniqueKey(key);
}

UniqueKey Create(const wchar_t* path, REGSAM view) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_READ | KEY_WRITE | view, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return UniqueKey(key);
}

std::wstring Folder(int csidl) {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_DONT_VERIFY, nullptr, SHGFP_TYPE_CURRENT,
                              folder))) {
    return {};
  }
  return folder;
}

}  // namespace

std::wstring HostPath(const char* unixPath) {
  std::wstring out = L"Z:";
  for (const char* p = unixPath; *p != '\0'; ++p) {
    out += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  }
  return out;
}

DWORD RunMsiexec(const std::wstring& arguments, DWORD timeoutMs) {
  std::wstring command = L"msiexec.exe " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return GetLastError();
  }
  CloseHandle(process.hThread);
  DWORD code = ERROR_TIMEOUT;
  if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, ERROR_TIMEOUT);
  }
  CloseHandle(process.hProcess);
  return code;
}

bool KeyExists(const wchar_t* path, REGSAM view) { return Open(path, KEY_READ, view) != nullptr; }

std::optional<std::wstring> ReadSz(const wchar_t* path, const wchar_t* name, REGSAM view) {
  UniqueKey key = Open(path, KEY_READ, view);
  if (!key) return std::nullopt;
  wchar_t data[520] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  return std::wstring(data);
}

std::optional<DWORD> ReadDword(const wchar_t* path, const wchar_t* name, REGSAM view) {
  UniqueKey key = Open(path, KEY_READ, view);
  if (!key) return std::nullopt;
  DWORD data = 0;
  DWORD size = sizeof data;
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return data;
}

bool WriteSz(const wchar_t* path, const wchar_t* name, const std::wstring& data, REGSAM view) {
  UniqueKey key = Create(path, view);
  return key &&
         RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                        static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool WriteDword(const wchar_t* path, const wchar_t* name, DWORD data, REGSAM view) {
  UniqueKey key = Create(path, view);
  return key && RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                               sizeof data) == ERROR_SUCCESS;
}

bool DeleteValue(const wchar_t* path, const wchar_t* name, REGSAM view) {
  UniqueKey key = Open(path, KEY_READ | KEY_WRITE, view);
  return key && RegDeleteValueW(key.get(), name) == ERROR_SUCCESS;
}

std::vector<std::wstring> ValueNames(const wchar_t* path, REGSAM view) {
  std::vector<std::wstring> names;
  UniqueKey key = Open(path, KEY_READ, view);
  if (!key) return names;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};
    DWORD length = 256;
    if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  return names;
}

KeyGuard::KeyGuard(const wchar_t* path, REGSAM view) : path_(path), view_(view) {
  UniqueKey key = Open(path, KEY_READ, view);
  existed_ = key != nullptr;
  if (!key) return;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256] = {};
    DWORD length = 256;
    Value value;
    DWORD size = 0;
    if (RegEnumValueW(key.get(), index, name, &length, nullptr, &value.type, nullptr, &size) !=
        ERROR_SUCCESS) {
      break;
    }
    value.name.assign(name, length);
    value.data.resize(size);
    if (RegQueryValueExW(key.get(), value.name.c_str(), nullptr, &value.type, value.data.data(),
                         &size) == ERROR_SUCCESS) {
      value.data.resize(size);
      values_.push_back(std::move(value));
    }
  }
}

KeyGuard::~KeyGuard() {
  for (const std::wstring& name : ValueNames(path_.c_str(), view_)) {
    DeleteValue(path_.c_str(), name.c_str(), view_);
  }
  if (!existed_) {
    UniqueKey key = Open(path_.c_str(), KEY_READ, view_);
    DWORD subKeys = 1;
    if (key &&
        RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
        subKeys == 0) {
      key.reset();
      RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), view_, 0);
    }
    return;
  }
  UniqueKey key = Create(path_.c_str(), view_);
  if (!key) return;
  for (const Value& value : values_) {
    RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  }
}

FolderKept::FolderKept(std::wstring folder)
    : folder_(std::move(folder)), existed_(FileExists(folder_)) {}

FolderKept::~FolderKept() {
  if (existed_ && !FileExists(folder_)) CreateDirectoryW(folder_.c_str(), nullptr);
}

std::wstring SystemFolder() { return Folder(CSIDL_SYSTEM); }
std::wstring SystemX86Folder() { return Folder(CSIDL_SYSTEMX86); }

std::wstring DriverFilePath(const wchar_t* name) { return SystemFolder() + L"\\drivers\\" + name; }

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

unsigned long long FileVersion(const std::wstring& path) {
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  if (size == 0) return 0;
  std::vector<BYTE> block(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return 0;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      length < sizeof *info) {
    return 0;
  }
  return static_cast<unsigned long long>(info->dwFileVersionMS) << 32 | info->dwFileVersionLS;
}

namespace {

// Present product root nodes; each is removed first when remove is set.
int WalkRootNodes(bool remove) {
  HDEVINFO set = SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT,
                                        nullptr, nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    wchar_t ids[2048] = {};
    if (SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, nullptr,
                                          reinterpret_cast<BYTE*>(ids), sizeof ids - 4, nullptr) &&
        _wcsicmp(ids, kHardwareId) == 0 &&
        !(remove && SetupDiCallClassInstaller(DIF_REMOVE, set, &device))) {
      ++count;
    }
  }
  SetupDiDestroyDeviceInfoList(set);
  return count;
}

}  // namespace

int RootNodes() { return WalkRootNodes(false); }

int RemoveRootNodes() { return WalkRootNodes(true); }

}  // namespace orvel::test::machine
