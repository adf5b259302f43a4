#include "installer/win32_setup_file_access.h"

#include <windows.h>

#include <string>

#include "config/core/device_table.h"

namespace orvel::installer {

FileReadStatus Win32SetupFileAccess::ReadWholeFile(const std::string& path, std::string& bytes) {
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(),
                                        static_cast<int>(path.size()), nullptr, 0);
  if (units <= 0) return FileReadStatus::kError;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                      wide.data(), units);
  HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FileReadStatus::kMissing
                                                                          : FileReadStatus::kError;
  }
  LARGE_INTEGER size{};
  FileReadStatus status = FileReadStatus::kError;
  // Larger than the largest file Orvelcfg writes: no setup file, and not held in memory.
  if (GetFileSizeEx(file, &size) && size.QuadPart >= 0 &&
      static_cast<unsigned long long>(size.QuadPart) <= kTableFileMaxBytes) {
    bytes.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (bytes.empty() ||
        (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
         read == bytes.size())) {
      status = FileReadStatus::kOk;
    }
  }
  CloseHandle(file);
  return status;
}

bool Win32SetupFileAccess::ReplaceWholeFile(const std::string&, const std::string&) {
  return false;
}

}  // namespace orvel::installer
