#pragma once
// Where orveld.ini lives: a folder under the common application data folder, or
// the program's own folder when that cannot be had.

#include <optional>
#include <string>

namespace orvel {

inline constexpr char kSettingsSubPath[] = "VANTOR\\ORVELDRIVER";
inline constexpr char kSettingsFileName[] = "orveld.ini";

class FolderPlatform {
 public:
  enum class CreateResult { kCreated, kAlreadyExists, kFailed };

  virtual ~FolderPlatform() = default;
  // SHGetFolderPathA(CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE); nothing on failure.
  virtual std::optional<std::string> CommonAppDataFolder() = 0;
  // CreateDirectoryA, with ERROR_ALREADY_EXISTS told apart from other failures.
  virtual CreateResult MakeDirectory(const std::string& path) = 0;
};

// Creates each level of subPath below the common application data folder and
// returns the folder with a final separator; nothing when a level cannot be made.
std::optional<std::string> EnsureSettingsFolder(FolderPlatform& platform,
                                                const std::string& subPath);

// Drive and directory of a module path, ending with its separator ("" when the
// path has none).
std::string FolderOfModulePath(const std::string& modulePath);

}  // namespace orvel
