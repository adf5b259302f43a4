#include "config/core/settings_folder.h"

namespace orvel {

std::optional<SettingsLocation> EnsureSettingsFolder(FolderPlatform& platform,
                                                     const std::string& subPath, bool elevated) {
  if (subPath.empty()) return std::nullopt;
  std::optional<std::string> base = platform.CommonAppDataFolder();
  if (!base) return std::nullopt;

  SettingsLocation location;
  std::string folder = *base + "\\";
  std::string rest = subPath;
  while (!rest.empty()) {
    const std::size_t separator = rest.find('\\');
    folder += rest.substr(0, separator);
    rest = separator == std::string::npos ? std::string() : rest.substr(separator + 1);
    // Without full rights nothing is made here: a folder a standard user creates is
    // theirs, and with it the unit list the server reads.
    if (elevated && platform.MakeDirectory(folder) == FolderPlatform::CreateResult::kFailed) {
      return std::nullopt;
    }
    location.levels.push_back(folder);
    folder += "\\";
  }
  location.folder = folder;
  return location;
}

bool SecureSettingsFolder(FolderPlatform& platform, const std::vector<std::string>& levels) {
  for (const std::string& level : levels) {
    const std::optional<FolderPlatform::FolderFacts> facts = platform.HoldFolder(level);
    // A link would carry the write to wherever it points.
    if (!facts || facts->reparsePoint) return false;
    if ((!facts->trustedOwner || facts->othersMayWrite) && !platform.TakeBackFolder(level)) {
      return false;
    }
  }
  return true;
}

std::string FolderOfModulePath(const std::string& modulePath) {
  const std::size_t separator = modulePath.find_last_of("\\/");
  if (separator == std::string::npos) {
    // A bare "C:name" still has its drive.
    return modulePath.size() >= 2 && modulePath[1] == ':' ? modulePath.substr(0, 2) : "";
  }
  return modulePath.substr(0, separator + 1);
}

}  // namespace orvel
