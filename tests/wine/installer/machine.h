#pragma once
// The machine as the installer tests see it: msiexec runs, registry values of both
// views, files of the system folders, and guards that put back what a test changed.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace orvel::test::machine {

inline constexpr wchar_t kDrivers32[] =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Drivers32";
inline constexpr wchar_t kInstallerKey[] =
    L"Software\\Vantor\\Vantor Quorin Network Driver Installer";
inline constexpr wchar_t kIntegratedInstallerKey[] = L"Software\\Vantor\\IntegratedInstaller";
inline constexpr wchar_t kRunOnceKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr wchar_t kUninstallKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr wchar_t kHardwareId[] = L"root\\VANTOR\\VORVEL";

// A build path (Unix form) as Wine sees it through drive Z:.
std::wstring HostPath(const char* unixPath);

// msiexec with these arguments, to its end; its exit code, or the error of a failed start.
DWORD RunMsiexec(const std::wstring& arguments, DWORD timeoutMs = 300000);

// HKEY_LOCAL_MACHINE only; view is KEY_WOW64_64KEY or KEY_WOW64_32KEY.
bool KeyExists(const wchar_t* path, REGSAM view);
std::optional<std::wstring> ReadSz(const wchar_t* path, const wchar_t* name, REGSAM view);
std::optional<DWORD> ReadDword(const wchar_t* path, const wchar_t* name, REGSAM view);
bool WriteSz(const wchar_t* path, const wchar_t* name, const std::wstring& data, REGSAM view);
bool WriteDword(const wchar_t* path, const wchar_t* name, DWORD data, REGSAM view);
bool DeleteValue(const wchar_t* path, const wchar_t* name, REGSAM view);
// Names of every value of the key; empty when it does not open.
std::vector<std::wstring> ValueNames(const wchar_t* path, REGSAM view);

// Every value of one key as it was, put back (and values the test added removed) when
// the guard goes; a key that was not there is deleted again if it is left empty.
class KeyGuard {
 public:
  KeyGuard(const wchar_t* path, REGSAM view);
  KeyGuard(const KeyGuard&) = delete;
  KeyGuard& operator=(const KeyGuard&) = delete;
  ~KeyGuard();

 private:
  struct Value {
    std::wstring name;
    DWORD type = 0;
    std::vector<BYTE> data;
  };
  std::wstring path_;
  REGSAM view_;
  bool existed_ = false;
  std::vector<Value> values_;
};

// A folder that existed when the guard was made is made again if it is gone when the guard
// goes. A fresh Wine prefix without 32-bit support has an empty SysWOW64, and Wine's
// uninstall removes the folders of removed components once they are empty, even this one.
class FolderKept {
 public:
  explicit FolderKept(std::wstring folder);
  FolderKept(const FolderKept&) = delete;
  FolderKept& operator=(const FolderKept&) = delete;
  ~FolderKept();

 private:
  std::wstring folder_;
  bool existed_;
};

// The system folders of this prefix: CSIDL_SYSTEM (64-bit) and CSIDL_SYSTEMX86.
std::wstring SystemFolder();
std::wstring SystemX86Folder();
std::wstring DriverFilePath(const wchar_t* name);
bool FileExists(const std::wstring& path);
// The file version of a file's version resource (MS in the upper half); 0 without one.
unsigned long long FileVersion(const std::wstring& path);

// Present devices whose first hardware ID is kHardwareId, in any letter case.
int RootNodes();
// Removes them without class-install parameters, which Wine refuses for DIF_REMOVE, so
// that a test starts from a machine without a node; the count of those left.
int RemoveRootNodes();

}  // namespace orvel::test::machine
