#include "config/core/win32_file_access.h"

#include <windows.h>

#include <memory>
#include <type_traits>

namespace orvel {
namespace {

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

UniqueHandle Own(HANDLE handle) {
  return UniqueHandle(handle == INVALID_HANDLE_VALUE ? nullptr : handle);
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
  return path.substr(0, slash);
}

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

}  // namespace

FileReadStatus Win32FileAccess::ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  UniqueHandle file = Own(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
  bytes.resize(static_cast<std::size_t>(size.QuadPart));
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

  char temporary[MAX_PATH];
  const std::string folder = FolderOf(path);
  if (folder.size() >= MAX_PATH - 14) return false;
  if (GetTempFileNameA(folder.c_str(), "orv", 0, temporary) == 0) return false;

  bool written = false;
  {
    UniqueHandle file = Own(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    written = file && WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
    if (file) written = CloseHandle(file.release()) && written;
  }
  if (written &&
      MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(temporary);
  return false;
}

}  // namespace orvel
