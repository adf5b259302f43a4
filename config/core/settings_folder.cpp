#include "config/core/settings_folder.h"

namespace orvel {

std::optional<std::string> EnsureSettingsFolder(FolderPlatform& platform,
                                                const std::string& subPath) {
  if (subPath.empty()) return std::nullopt;
  std::optional<std::string> base = platform.CommonAppDataFolder();
  if (!base) return std::nullopt;

  std::string folder = *base + "\\";
  std::string rest = subPath;
  while (!rest.empty()) {
    const std::size_t separator = rest.find('\\');
    folder += rest.substr(0, separator);
    rest = separator == std::string::npos ? std::string() : rest.substr(separator + 1);
    if (platform.MakeDirectory(folder) == FolderPlatform::CreateResult::kFailed) {
      return std::nullopt;
    }
    folder += "\\";
  }
  return folder;
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
