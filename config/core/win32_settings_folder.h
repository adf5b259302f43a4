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

class Win32FolderSecurity {
 public:
  bool ProcessElevated();
  FolderGuardPlatform::CreateResult MakeDirectory(const std::string& path, FolderLevel level);
  FolderGuardPlatform::Held HoldFolder(const std::string& path);
  bool TakeBackFolder(const std::string& path);
  FolderGuardPlatform::MoveResult MoveAside(const std::string& path, const std::string& to);
  std::string ProcessUserSid();
  std::string TimeStamp();
  void ReleaseFolders() { held_.clear(); }

 private:
  HANDLE Held(const std::string& path) const;

  std::vector<std::pair<std::string, UniqueHandle>> held_;
};

// The same as the hold's platform, for a program that needs no more than the hold.
class Win32FolderGuard final : public FolderGuardPlatform {
 public:
  CreateResult MakeDirectory(const std::string& path, FolderLevel level) override {
    return security_.MakeDirectory(path, level);
  }
  Held HoldFolder(const std::string& path) override { return security_.HoldFolder(path); }
  bool TakeBackFolder(const std::string& path) override { return security_.TakeBackFolder(path); }
  MoveResult MoveAside(const std::string& path, const std::string& to) override {
    return security_.MoveAside(path, to);
  }
  std::string ProcessUserSid() override { return security_.ProcessUserSid(); }
  std::string TimeStamp() override { return security_.TimeStamp(); }
  void ReleaseFolders() override { security_.ReleaseFolders(); }

 private:
  Win32FolderSecurity security_;
};

}  // namespace orvel
