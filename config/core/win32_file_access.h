#pragma once
// Files through kernel32: replacement writes the new file next to the old one under
// a name nobody can predict, created exclusively and never through a link, gives it
// the old one's attributes (and its access list when the old file is the system's or
// the administrators'), and renames it through its own handle over the old one in
// one step, retrying briefly while another process holds the file.

#include <cstdint>
#include <string>

#include "config/core/file_access.h"

namespace orvel {

class Win32FileAccess final : public FileAccess {
 public:
  // Larger files are not settings files; reading one fails instead of
  // exhausting memory.
  static constexpr unsigned long long kMaxFileSize = 64ull * 1024 * 1024;
  // How many unpredictable names a replacement tries before it gives up; each is
  // new, so only somebody planting names at random could use them up.
  static constexpr int kTemporaryAttempts = 16;

  Win32FileAccess();
  // Tests choose the numbers the temporary names are made of.
  explicit Win32FileAccess(std::uint64_t (*random)()) : random_(random) {}

  // The temporary that a replacement of `path` made of `number` uses.
  static std::string TemporaryName(const std::string& path, std::uint64_t number);

  FileReadStatus ReadWholeFile(const std::string& path, std::string& bytes) override;
  bool ReplaceWholeFile(const std::string& path, const std::string& bytes) override;

 private:
  std::uint64_t (*random_)();
};

}  // namespace orvel
