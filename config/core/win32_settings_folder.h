#pragma once
// The settings folder's security through the Windows API: the process's elevation,
// folders made with the settings folder's access list, folders opened without
// following links and held against renaming, and taking one back.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/core/settings_folder.h"
#include "config/core/win32_handle.h"

namespace orvel {

class Win32FolderSecurity {
 public:
  bool ProcessElevated();
  FolderPlatform::CreateResult MakeDirectory(const std::string& path);
  std::optional<FolderPlatform::FolderFacts> HoldFolder(const std::string& path);
  bool TakeBackFolder(const std::string& path);
  void ReleaseFolders() { held_.clear(); }

 private:
  std::vector<std::pair<std::string, UniqueHandle>> held_;
};

}  // namespace orvel
