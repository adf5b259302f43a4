// The setup file that SETUPFILE names, read with the wide functions: the path comes as
// UTF-8 and may name anything a local or UNC path can.
#pragma once

#include "config/core/file_access.h"

namespace orvel::installer {

class Win32SetupFileAccess final : public FileAccess {
 public:
  FileReadStatus ReadWholeFile(const std::string& path, std::string& bytes) override;
  // Never writes or removes: the setup file is only read.
  bool ReplaceWholeFile(const std::string& path, const std::string& bytes) override;
  bool RemoveFile(const std::string&) override { return false; }
};

}  // namespace orvel::installer
