#pragma once
// Files kept in memory, for tests of code that reads a whole file and replaces
// it in one step. Any file can be made unreadable, any read can run out of
// memory and any replacement can fail.

#include <map>
#include <new>
#include <set>
#include <string>

#include "config/core/file_access.h"

namespace orvel::testing {

class MemoryFileAccess : public FileAccess {
 public:
  FileReadStatus ReadWholeFile(const std::string& path, std::string& bytes) override {
    ++reads;
    if (unreadable.count(path)) return FileReadStatus::kError;
    if (failAllocation) throw std::bad_alloc();
    const auto found = files.find(path);
    if (found == files.end()) return FileReadStatus::kMissing;
    bytes = found->second;
    return FileReadStatus::kOk;
  }

  bool ReplaceWholeFile(const std::string& path, const std::string& bytes) override {
    ++replacements;
    if (failReplace) return false;  // the old content stays, as with a failed move
    files[path] = bytes;
    return true;
  }
  bool RemoveFile(const std::string& path) override {
    files.erase(path);
    return true;
  }

  std::map<std::string, std::string> files;
  std::set<std::string> unreadable;
  bool failReplace = false;
  bool failAllocation = false;
  int reads = 0;
  int replacements = 0;
};

}  // namespace orvel::testing
