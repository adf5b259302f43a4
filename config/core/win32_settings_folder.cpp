#include "config/core/win32_settings_folder.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <memory>

#include "config/core/win32_file_access.h"

#include "config/core/win32_security.h"

namespace orvel {
namespace {

static_assert(kAceObjectInherit == OBJECT_INHERIT_ACE);
static_assert(kAceContainerInherit == CONTAINER_INHERIT_ACE);
static_assert(kAceInheritOnly == INHERIT_ONLY_ACE);
static_assert(kRightWriteData == FILE_WRITE_DATA && kRightAppendData == FILE_APPEND_DATA);
static_assert(kRightWriteEa == FILE_WRITE_EA && kRightDeleteChild == FILE_DELETE_CHILD);
static_assert(kRightWriteAttributes == FILE_WRITE_ATTRIBUTES && kRightDelete == DELETE);
static_assert(kRightWriteDac == WRITE_DAC && kRightWriteOwner == WRITE_OWNER);
static_assert(kRightGenericAll == GENERIC_ALL && kRightGenericWrite == GENERIC_WRITE);

OwnedDescriptor Descriptor(const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return nullptr;
  }
  return OwnedDescriptor(descriptor);
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (sid == nullptr || !IsValidSid(sid) || !ConvertSidToStringSidA(sid, &text)) return "";
  std::string result(text);
  LocalFree(text);
  return result;
}

// The list as the rules weigh it; an entry of another kind is passed on as one they
// cannot weigh.
std::vector<AccessEntry> Entries(PACL dacl) {
  std::vector<AccessEntry> entries;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    void* ace = nullptr;
    AccessEntry entry;
    entry.type = AccessEntry::Type::kOther;
    if (GetAce(dacl, index, &ace)) {
      const auto* header = static_cast<ACE_HEADER*>(ace);
      entry.flags = header->AceFlags;
      if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
        const auto* known = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        entry.type = header->AceType == ACCESS_ALLOWED_ACE_TYPE ? AccessEntry::Type::kAllow
                                                                : AccessEntry::Type::kDeny;
        entry.mask = known->Mask;
        entry.sid = SidText(const_cast<DWORD*>(&known->SidStart));
      }
    }
    entries.push_back(std::move(entry));
  }
  return entries;
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

std::string Win32FolderSecurity::ProcessUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  UniqueHandle owned(token);
  alignas(TOKEN_USER) unsigned char buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return "";
  return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

std::string Win32FolderSecurity::TimeStamp() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char text[32];
  std::snprintf(text, sizeof text, "%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  return text;
}

FolderGuardPlatform::CreateResult Win32FolderSecurity::MakeDirectory(const std::string& path,
                                                                     FolderLevel level) {
  OwnedDescriptor descriptor =
      Descriptor(level == FolderLevel::kSettings ? kSettingsFolderSddl : kParentFolderSddl);
  if (!descriptor) return FolderGuardPlatform::CreateResult::kFailed;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // The owner in the descriptor needs the right to name it.
  FolderPrivileges privileges;
  if (CreateDirectoryA(path.c_str(), &attributes))
    return FolderGuardPlatform::CreateResult::kCreated;
  return GetLastError() == ERROR_ALREADY_EXISTS ? FolderGuardPlatform::CreateResult::kAlreadyExists
                                                : FolderGuardPlatform::CreateResult::kFailed;
}

FolderGuardPlatform::Held Win32FolderSecurity::HoldFolder(const std::string& path) {
  FolderPrivileges privileges;
  // No delete sharing: while we hold it, nobody renames the folder away or puts
  // another in its place.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  constexpr DWORD kFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
  constexpr DWORD kLeast = READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
  FolderGuardPlatform::Held held;
  UniqueHandle folder;
  // Taking back needs the owner and list rights, moving aside the delete right; a
  // folder that is some process's current folder refuses the latter.
  for (const DWORD access :
       {kLeast | WRITE_DAC | WRITE_OWNER | DELETE, kLeast | WRITE_DAC | WRITE_OWNER, kLeast}) {
    folder = OwnHandle(
        CreateFileA(path.c_str(), access, kShare, nullptr, OPEN_EXISTING, kFlags, nullptr));
    if (folder) break;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      held.status = FolderGuardPlatform::HoldStatus::kMissing;
      return held;
    }
  }
  if (!folder) return held;

  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(folder.get(), &info)) return held;
  held.facts.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
                    !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  if (const std::optional<HandleSecurity> security = ReadHandleSecurity(folder.get())) {
    held.facts.owner = SidText(security->owner);
    held.facts.nullList = security->dacl == nullptr;
    if (security->dacl != nullptr) held.facts.entries = Entries(security->dacl);
  } else {
    held.facts.securityKnown = false;
  }
  held.status = FolderGuardPlatform::HoldStatus::kHeld;
  held_.emplace_back(path, std::move(folder));
  return held;
}

HANDLE Win32FolderSecurity::Held(const std::string& path) const {
  for (const auto& [heldPath, handle] : held_) {
    if (heldPath == path) return handle.get();
  }
  return nullptr;
}

bool Win32FolderSecurity::TakeBackFolder(const std::string& path) {
  const HANDLE folder = Held(path);
  if (folder == nullptr) return false;
  OwnedDescriptor descriptor = Descriptor(kParentFolderSddl);
  if (!descriptor) return false;
  FolderPrivileges privileges;
  // On the handle, not by name: SetSecurityInfo would also rewrite every folder inside,
  // the maker's other products included.
  return SetKernelObjectSecurity(folder,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                     PROTECTED_DACL_SECURITY_INFORMATION,
                                 descriptor.get()) != FALSE;
}

FolderGuardPlatform::MoveResult Win32FolderSecurity::MoveAside(const std::string& path,
                                                               const std::string& to) {
  for (auto it = held_.begin(); it != held_.end(); ++it) {
    if (it->first != path) continue;
    if (RenameThroughHandle(it->second.get(), to, false)) {
      held_.erase(it);
      return FolderGuardPlatform::MoveResult::kMoved;
    }
    // Asked rather than read from the error, which not every implementation sets.
    return GetFileAttributesA(to.c_str()) != INVALID_FILE_ATTRIBUTES
               ? FolderGuardPlatform::MoveResult::kNameTaken
               : FolderGuardPlatform::MoveResult::kFailed;
  }
  return FolderGuardPlatform::MoveResult::kFailed;
}

}  // namespace orvel
