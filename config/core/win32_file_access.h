#pragma once
// Files through kernel32: replacement writes the new file next to the old one under
// a name nobody can predict, created exclusively and never through a link, gives it
// the old one's attributes (and its access list when the old file is the system's or
// the administrators'), and renames it through its own handle over the old one in
// one step, retrying briefly while another process holds the file. The settings
// folder's files are also read and removed without following a link, and refused
// when they are one.

#include <windows.h>

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

  // kRefuse for the settings folder's own files: a link under such a name is no file
  // of ours, and one with a second name may be anybody's. Files a person chooses (setup
  // files) may be links, such as a cloud drive's.
  enum class Links { kFollow, kRefuse };

  explicit Win32FileAccess(Links links = Links::kFollow);
  // Tests choose the numbers the temporary names are made of.
  explicit Win32FileAccess(std::uint64_t (*random)(), Links links = Links::kFollow)
      : random_(random), links_(links) {}

  // The temporary that a replacement of `path` made of `number` uses.
  static std::string TemporaryName(const std::string& path, std::uint64_t number);

  FileReadStatus ReadWholeFile(const std::string& path, std::string& bytes) override;
  bool ReplaceWholeFile(const std::string& path, const std::string& bytes) override;
  bool LastReplaceHeldOpen() const override { return heldOpen_; }
  bool RemoveFile(const std::string& path) override;

 private:
  std::uint64_t (*random_)();
  Links links_;
  bool heldOpen_ = false;
};

// SetFileInformationByHandle(FileRenameInfo): moves what the handle holds (a file, a
// folder, a link itself) to `path`; over what is there only when `replace`.
bool RenameThroughHandle(HANDLE file, const std::string& path, bool replace);

}  // namespace orvel
