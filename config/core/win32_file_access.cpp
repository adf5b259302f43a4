#include "config/core/win32_file_access.h"

#include <windows.h>

#include <memory>
#include <new>

#include "config/core/win32_handle.h"

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

// The replacement is written next to the file under a name of our own, so that a
// save that never finished is recognised and cleared by the next one.
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
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(probe);
  return false;
}

void ClearAttributesAndDelete(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

void RemoveStaleReplacement(const std::string& ours) {
  if (GetFileAttributesA(ours.c_str()) != INVALID_FILE_ATTRIBUTES) ClearAttributesAndDelete(ours);
}

DWORD CarriedAttributes(DWORD attributes) {
  const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  return kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Copies the old file's access list (and, where the rights allow, its owner and
// group) to the new one. A descriptor the platform will not show is not carried;
// one it shows but will not let us apply fails the save, since the replacement
// would otherwise open the file to whoever the folder lets in.
bool CarrySecurity(const std::string& from, const std::string& to) {
  constexpr SECURITY_INFORMATION kWhat =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetFileSecurityA(from.c_str(), kWhat, nullptr, 0, &needed);
  if (needed == 0 || needed > 64 * 1024) return true;
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[needed]);
  if (!buffer) return false;
  auto* descriptor = static_cast<PSECURITY_DESCRIPTOR>(buffer.get());
  if (!GetFileSecurityA(from.c_str(), kWhat, descriptor, needed, &needed)) return true;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) && present &&
      !SetFileSecurityA(to.c_str(), DACL_SECURITY_INFORMATION, descriptor)) {
    return false;
  }
  // Taking over the owner needs a privilege an administrator may lack; the access
  // list above is what protects the file.
  SetFileSecurityA(to.c_str(), OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION, descriptor);
  return true;
}

// The old file is never missing and never half-written: the new one takes its
// name in a single rename. Not ReplaceFileA: some implementations of it (Wine's)
// move the old file away first and the new one in after, and a save killed
// between the two leaves no settings file at all.
bool ReplaceInOneStep(const std::string& path, const std::string& replacement) {
  for (int attempt = 0; attempt < kReplaceAttempts; ++attempt) {
    if (attempt > 0) Sleep(kReplaceRetryMs);
    // A holder without delete sharing makes the rename fail; wait for it to go.
    if (HeldAgainstReplacement(path)) continue;
    if (MoveFileExA(replacement.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    if (!HeldOpen(GetLastError())) return false;
  }
  return false;
}

}  // namespace

FileReadStatus Win32FileAccess::ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  UniqueHandle file = OwnHandle(CreateFileA(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileReadStatus::kMissing
                                                                          : FileReadStatus::kError;
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
  // A read-only settings file is one somebody chose to protect; moving over it
  // would succeed on some systems, so refuse here.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    return false;
  }
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }

  const std::string temporary = path + kReplacementSuffix;
  if (temporary.size() >= MAX_PATH) return false;
  // What an earlier save of this file left when it was killed or lost its power.
  RemoveStaleReplacement(temporary);

  bool written = false;
  {
    UniqueHandle file = OwnHandle(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    written = file && WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
    if (file) written = CloseHandle(file.release()) && written;
  }
  // The new file takes over what the old one had: an integrator's permissions and a
  // hidden or system attribute; a rename keeps the new file's own.
  if (written && attributes != INVALID_FILE_ATTRIBUTES) {
    written = CarrySecurity(path, temporary) &&
              SetFileAttributesA(temporary.c_str(), CarriedAttributes(attributes));
  }
  if (written && ReplaceInOneStep(path, temporary)) return true;
  ClearAttributesAndDelete(temporary);
  return false;
}

}  // namespace orvel
