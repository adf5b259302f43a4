#pragma once
// The settings folder's security through the Windows API: the process's elevation and
// account, folders made with their level's access list, folders opened without
// following links and held against renaming, taking one back and moving one aside.
// Orvelcfg and the installer's actions use this one adapter.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/core/settings_folder.h"
#include "config/core/win32_handle.h"

namespace orvel {

class Win32FolderSecurity final : public FolderGuardPlatform {
 public:
  bool ProcessElevated();
  CreateResult MakeDirectory(const std::string& path, FolderLevel level) override;
  Held HoldFolder(const std::string& path) override;
  bool TakeBackFolder(const std::string& path) override;
  MoveResult MoveAside(const std::string& path, const std::string& to) override;
  std::string ProcessUserSid() override;
  std::string TimeStamp() override;
  void ReleaseFolders() override { held_.clear(); }

 private:
  HANDLE Held(const std::string& path) const;

  std::vector<std::pair<std::string, UniqueHandle>> held_;
};

}  // namespace orvel
