#pragma once
// Whole-file reads, one-step replacement and removal: the file operations the INI
// store and the settings folder's writers need.

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
  // True after a failed ReplaceWholeFile when another program held the file open
  // throughout, so that a person can be told to close it.
  virtual bool LastReplaceHeldOpen() const { return false; }
  // Deletes a plain file; true when nothing is left under the name. Anything else
  // there (a link, a folder) stays, and so does the file when it cannot be deleted.
  virtual bool RemoveFile(const std::string& path) = 0;
};

}  // namespace orvel
