#pragma once
// Whole-file reads and one-step replacement, the two file operations the INI
// store needs.

#include <string>

namespace orvel {

enum class FileReadStatus { kMissing, kOk, kError };

class FileAccess {
 public:
  virtual ~FileAccess() = default;
  // kMissing when the file (or its folder) does not exist; kError when it exists
  // but cannot be read.
  virtual FileReadStatus ReadWholeFile(const std::string& path, std::string& bytes) = 0;
  // Replaces the file with exactly these bytes, or leaves the old file as it was
  // and returns false.
  virtual bool ReplaceWholeFile(const std::string& path, const std::string& bytes) = 0;
};

}  // namespace orvel
