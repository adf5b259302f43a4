#include "config/core/win32_settings_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>

#include "config/core/win32_security.h"

namespace orvel {
namespace {

OwnedDescriptor SettingsFolderDescriptor() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kSettingsFolderSddl, SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return nullptr;
  }
  return OwnedDescriptor(descriptor);
}

// NT SERVICE\TrustedInstaller, which owns much of what Windows itself installs.
constexpr char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsTrustedInstaller(PSID sid) {
  PSID trusted = nullptr;
  if (!ConvertStringSidToSidA(kTrustedInstallerSid, &trusted)) return false;
  const bool same = EqualSid(sid, trusted) != FALSE;
  LocalFree(trusted);
  return same;
}

bool IsTrusted(PSID sid) {
  return IsSystemOrAdministrators(sid) ||
         (sid != nullptr && IsValidSid(sid) && IsTrustedInstaller(sid));
}

// Any right that changes the folder, what it holds or who may do so.
constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                     FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
                                     WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// True when an entry allows anyone but the trusted three to write, to the folder or,
// through inheritance, to what is made in it. Deny entries are not weighed: a list
// that needs them is not the one we want either.
bool OthersMayWrite(PACL dacl) {
  if (dacl == nullptr) return true;  // a null list grants everyone everything
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* entry = nullptr;
    if (!GetAce(dacl, index, &entry)) return true;
    const auto* header = static_cast<ACE_HEADER*>(entry);
    if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) return true;  // not one we can read
    const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    const PSID who = const_cast<DWORD*>(&allowed->SidStart);
    if ((allowed->Mask & kWriteRights) && !IsTrusted(who)) return true;
  }
  return false;
}

// Lets the elevated process open a folder whatever its list says (backup and
// restore intent) and take it over, for as long as the object lives.
class FolderPrivileges {
 public:
  FolderPrivileges() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
      return;
    }
    token_.reset(token);
    for (const char* name : {SE_BACKUP_NAME, SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME}) {
      TOKEN_PRIVILEGES wanted{};
      wanted.PrivilegeCount = 1;
      wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      if (!LookupPrivilegeValueA(nullptr, name, &wanted.Privileges[0].Luid)) continue;
      TOKEN_PRIVILEGES before{};
      DWORD size = 0;
      if (AdjustTokenPrivileges(token_.get(), FALSE, &wanted, sizeof before, &before, &size) &&
          GetLastError() == ERROR_SUCCESS && before.PrivilegeCount == 1) {
        restore_.push_back(before);
      }
    }
  }
  ~FolderPrivileges() {
    for (TOKEN_PRIVILEGES& before : restore_) {
      AdjustTokenPrivileges(token_.get(), FALSE, &before, 0, nullptr, nullptr);
    }
  }
  FolderPrivileges(const FolderPrivileges&) = delete;
  FolderPrivileges& operator=(const FolderPrivileges&) = delete;

 private:
  UniqueHandle token_;
  std::vector<TOKEN_PRIVILEGES> restore_;
};

}  // namespace

bool Win32FolderSecurity::ProcessElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  UniqueHandle owned(token);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

FolderPlatform::CreateResult Win32FolderSecurity::MakeDirectory(const std::string& path) {
  OwnedDescriptor descriptor = SettingsFolderDescriptor();
  if (!descriptor) return FolderPlatform::CreateResult::kFailed;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  if (CreateDirectoryA(path.c_str(), &attributes)) return FolderPlatform::CreateResult::kCreated;
  return GetLastError() == ERROR_ALREADY_EXISTS ? FolderPlatform::CreateResult::kAlreadyExists
                                                : FolderPlatform::CreateResult::kFailed;
}

std::optional<FolderPlatform::FolderFacts> Win32FolderSecurity::HoldFolder(
    const std::string& path) {
  FolderPrivileges privileges;
  // No delete sharing: while we hold it, nobody renames the folder away or puts
  // another in its place.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  constexpr DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  UniqueHandle folder = OwnHandle(CreateFileA(
      path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      kShare, nullptr, OPEN_EXISTING, kFlags, nullptr));
  if (!folder) {
    folder = OwnHandle(CreateFileA(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                   kShare, nullptr, OPEN_EXISTING, kFlags, nullptr));
  }
  if (!folder) return std::nullopt;

  FolderPlatform::FolderFacts facts;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(folder.get(), &info)) return std::nullopt;
  facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                       !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (const std::optional<HandleSecurity> security = ReadHandleSecurity(folder.get())) {
    facts.trustedOwner = IsTrusted(security->owner);
    facts.othersMayWrite = OthersMayWrite(security->dacl);
  } else {
    // Unknown security is treated as a user's.
    facts.trustedOwner = false;
    facts.othersMayWrite = true;
  }
  held_.emplace_back(path, std::move(folder));
  return facts;
}

bool Win32FolderSecurity::TakeBackFolder(const std::string& path) {
  HANDLE folder = nullptr;
  for (const auto& [heldPath, handle] : held_) {
    if (heldPath == path) folder = handle.get();
  }
  if (folder == nullptr) return false;
  OwnedDescriptor descriptor = SettingsFolderDescriptor();
  if (!descriptor) return false;
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor.get(), &present, &dacl, &defaulted) || !present) {
    return false;
  }
  BYTE administrators[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof administrators;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size)) {
    return false;
  }
  FolderPrivileges privileges;
  // Owner first: a user's own list may leave administrators no right to change it
  // until they own the folder.
  return SetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, administrators,
                         nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
         SetSecurityInfo(folder, SE_FILE_OBJECT,
                         DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                         nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

}  // namespace orvel
