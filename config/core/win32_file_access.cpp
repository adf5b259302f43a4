#include "config/core/win32_file_access.h"

#include <windows.h>

#include <aclapi.h>
#include <ntsecapi.h>

#include <cstdio>
#include <new>
#include <optional>
#include <vector>

#include "config/core/win32_handle.h"
#include "config/core/win32_security.h"

namespace orvel {
namespace {

bool WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk =
        static_cast<DWORD>(bytes.size() - done > 1u << 20 ? 1u << 20 : bytes.size() - done);
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written != chunk) {
      return false;
    }
    done += written;
  }
  return true;
}

// The replacement is written next to the file under a name nobody can guess, so that
// nothing planted in a folder others may write to can stand in its way or catch its
// bytes; what a killed save left behind is recognised by the same pattern.
constexpr char kReplacementSuffix[] = ".saving";

// Another process that holds the file open (a virus scanner, an editor, the
// server reading it) usually lets go within a moment.
constexpr int kReplaceAttempts = 20;
constexpr DWORD kReplaceRetryMs = 50;

bool HeldOpen(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

// True while another process has the file open without letting it be renamed or
// deleted, which is what a replacement does to it.
bool HeldAgainstReplacement(const std::string& path) {
  HANDLE probe =
      CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(probe);
  return false;
}

std::uint64_t SystemRandom() {
  std::uint64_t number = 0;
  if (!RtlGenRandom(&number, sizeof number)) {
    // Without the generator the name is still unlikely; CREATE_NEW keeps it exclusive.
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    number = static_cast<std::uint64_t>(counter.QuadPart) ^ GetCurrentProcessId();
  }
  return number;
}

bool DeleteThroughHandle(HANDLE file) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         FALSE;
}

// What a killed save of ours left: a plain file under the pattern of our names,
// owned as only an elevated save makes it. It is opened without following a link
// and deleted through that handle; anything else under such a name stays.
void RemoveIfStaleReplacement(const std::string& name) {
  UniqueHandle file =
      OwnHandle(CreateFileA(name.c_str(), DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY))) {
    return;
  }
  const std::optional<HandleSecurity> security = ReadHandleSecurity(file.get());
  if (security && IsSystemOrAdministrators(security->owner)) DeleteThroughHandle(file.get());
}

void RemoveStaleReplacements(const std::string& path) {
  const std::size_t separator = path.find_last_of("\\/");
  const std::string folder = separator == std::string::npos ? "" : path.substr(0, separator + 1);
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((path + "*" + kReplacementSuffix).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      RemoveIfStaleReplacement(folder + found.cFileName);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

DWORD CarriedAttributes(DWORD attributes) {
  const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  return kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Gives the new file the old one's access list, when the old file is the system's
// or the administrators' (an integrator's own list keeps working). A list on a file
// that a user made, or on a link, is not carried: the new file takes the folder's.
// A list the platform shows but will not let us apply fails the save, since the
// replacement would otherwise open the file to whoever the folder lets in.
bool CarrySecurity(const std::string& from, HANDLE to) {
  UniqueHandle old =
      OwnHandle(CreateFileA(from.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!old) return true;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(old.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return true;
  }
  const std::optional<HandleSecurity> security = ReadHandleSecurity(old.get());
  if (!security) return true;
  // A null list grants everyone everything; the folder's is better.
  if (!IsSystemOrAdministrators(security->owner) || security->dacl == nullptr) return true;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  const bool isProtected =
      GetSecurityDescriptorControl(security->descriptor.get(), &control, &revision) &&
      (control & SE_DACL_PROTECTED);
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION |
      (isProtected ? PROTECTED_DACL_SECURITY_INFORMATION : UNPROTECTED_DACL_SECURITY_INFORMATION);
  return SetSecurityInfo(to, SE_FILE_OBJECT, what, nullptr, nullptr, security->dacl, nullptr) ==
         ERROR_SUCCESS;
}

bool SetAttributesThroughHandle(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic{};  // times of 0 stay as they are
  basic.FileAttributes = attributes;
  return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

}  // namespace

bool RenameThroughHandle(HANDLE file, const std::string& path, bool replace) {
  const int units = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  if (units <= 0) return false;
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) +
                                    static_cast<std::size_t>(units) * sizeof(WCHAR));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(units - 1) * sizeof(WCHAR);
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, rename->FileName, units);
  return SetFileInformationByHandle(file, FileRenameInfo, rename,
                                    static_cast<DWORD>(buffer.size())) != FALSE;
}

namespace {

// Renames the file we wrote, through its own handle, over the old one: the old file
// is never missing and never half-written. Not ReplaceFileA: some implementations of
// it (Wine's) move the old file away first and the new one in after, and a save
// killed between the two leaves no settings file at all.
bool RenameOver(HANDLE file, const std::string& path) {
  return RenameThroughHandle(file, path, true);
}

// False when the file could not be replaced; *heldOpen then says whether another
// program held it open until the last attempt.
bool ReplaceInOneStep(HANDLE file, const std::string& path, bool* heldOpen) {
  *heldOpen = false;
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    if (attempt > 0) Sleep(kReplaceRetryMs);
    // A holder without delete sharing makes the rename fail; wait for it to go.
    *heldOpen = HeldAgainstReplacement(path);
    if (*heldOpen) continue;
    if (RenameOver(file, path)) return true;
    const DWORD error = GetLastError();
    if (!HeldOpen(error)) return false;
    *heldOpen = error != ERROR_ACCESS_DENIED;
  }
  return false;
}

// What a name itself is, opened without following a link; nothing when it is not
// there or cannot be opened.
std::optional<BY_HANDLE_FILE_INFORMATION> NameItself(const std::string& path) {
  UniqueHandle name = OwnHandle(CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!name || !GetFileInformationByHandle(name.get(), &info)) return std::nullopt;
  return info;
}

}  // namespace

Win32FileAccess::Win32FileAccess(Links links) : random_(&SystemRandom), links_(links) {}

std::string Win32FileAccess::TemporaryName(const std::string& path, std::uint64_t number) {
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(number));
  return path + "." + hex + kReplacementSuffix;
}

FileReadStatus Win32FileAccess::ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  const bool refuseLinks = links_ == Links::kRefuse;
  UniqueHandle file = OwnHandle(CreateFileA(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, refuseLinks ? FILE_FLAG_OPEN_REPARSE_POINT : FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileReadStatus::kMissing
                                                                          : FileReadStatus::kError;
  }
  if (refuseLinks) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        info.nNumberOfLinks != 1) {
      return FileReadStatus::kError;
    }
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<unsigned long long>(size.QuadPart) > kMaxFileSize) {
    return FileReadStatus::kError;
  }
  try {
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
  } catch (const std::bad_alloc&) {
    return FileReadStatus::kError;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(bytes.size() - done);
    if (!ReadFile(file.get(), bytes.data() + done, want, &got, nullptr)) {
      bytes.clear();
      return FileReadStatus::kError;
    }
    if (got == 0) break;  // the file shrank while we read it
    done += got;
  }
  bytes.resize(done);
  return FileReadStatus::kOk;
}

bool Win32FileAccess::ReplaceWholeFile(const std::string& path, const std::string& bytes) {
  heldOpen_ = false;
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  if (links_ == Links::kRefuse) {
    const std::optional<BY_HANDLE_FILE_INFORMATION> itself = NameItself(path);
    if (itself) attributes = itself->dwFileAttributes;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      return false;
    }
  } else {
    attributes = GetFileAttributesA(path.c_str());
  }
  // A read-only settings file is one somebody chose to protect; moving over it
  // would succeed on some systems, so refuse here.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  if (TemporaryName(path, 0).size() >= MAX_PATH) return false;
  RemoveStaleReplacements(path);

  // Created, never opened: a name that exists as anything (a file, a folder, a
  // link, even one pointing nowhere) is passed over for the next.
  UniqueHandle file;
  for (int attempt = 0; attempt < Win32FileAccess::kTemporaryAttempts && !file; ++attempt) {
    file = OwnHandle(CreateFileA(
        TemporaryName(path, random_()).c_str(), GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC,
        0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
      const DWORD error = GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
          error != ERROR_ACCESS_DENIED) {
        return false;
      }
    }
  }
  if (!file) return false;

  bool written = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
  // The new file takes over what the old one had: an integrator's permissions and a
  // hidden or system attribute; a rename keeps the new file's own.
  if (written && attributes != INVALID_FILE_ATTRIBUTES) {
    written = CarrySecurity(path, file.get()) &&
              SetAttributesThroughHandle(file.get(), CarriedAttributes(attributes));
  }
  if (written && ReplaceInOneStep(file.get(), path, &heldOpen_)) return true;
  DeleteThroughHandle(file.get());
  return false;
}

bool Win32FileAccess::RemoveFile(const std::string& path) {
  UniqueHandle file = OwnHandle(
      CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(file.get(), &info) &&
         !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
         DeleteThroughHandle(file.get());
}

}  // namespace orvel
