#pragma once
// Files through kernel32: replacement writes the new file next to the old one,
// gives it the old one's attributes and access list, and renames it over the old
// one in one step, retrying briefly while another process holds the file.

#include "config/core/file_access.h"

namespace orvel {

class Win32FileAccess final : public FileAccess {
 public:
  // Larger files are not settings files; reading one fails instead of
  // exhausting memory.
  static constexpr unsigned long long kMaxFileSize = 64ull * 1024 * 1024;

  FileReadStatus ReadWholeFile(const std::string& path, std::string& bytes) override;
  bool ReplaceWholeFile(const std::string& path, const std::string& bytes) override;
};

}  // namespace orvel
