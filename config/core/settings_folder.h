#pragma once
// Where orveld.ini lives: a folder under the common application data folder, or
// the program's own folder when that cannot be had. An elevated run makes the
// folder itself, locked so that only the system and administrators may change it,
// and takes back a folder that a standard user could change before writing there.

#include <optional>
#include <string>
#include <vector>

namespace orvel {

inline constexpr char kSettingsSubPath[] = "VANTOR\\ORVELDRIVER";
inline constexpr char kSettingsFileName[] = "orveld.ini";
// Protected: SYSTEM and Administrators full control, Users read and execute, for
// the folder and everything in it, and nothing inherited from above.
inline constexpr char kSettingsFolderSddl[] =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

class FolderPlatform {
 public:
  enum class CreateResult { kCreated, kAlreadyExists, kFailed };

  // A folder as it shows when opened without following a link.
  struct FolderFacts {
    bool reparsePoint = false;    // a junction or symbolic link (or not a folder at all)
    bool trustedOwner = true;     // SYSTEM, Administrators or TrustedInstaller
    bool othersMayWrite = false;  // its access list lets anyone else change it or what it holds
  };

  virtual ~FolderPlatform() = default;
  // SHGetFolderPathA(CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE); nothing on failure.
  virtual std::optional<std::string> CommonAppDataFolder() = 0;
  // GetTokenInformation(TokenElevation) of the process.
  virtual bool ProcessElevated() = 0;
  // CreateDirectoryA with kSettingsFolderSddl, with ERROR_ALREADY_EXISTS told apart
  // from other failures.
  virtual CreateResult MakeDirectory(const std::string& path) = 0;
  // Opens the folder without following a link and keeps it open, without delete
  // sharing, until ReleaseFolders, so that nobody can rename or replace it meanwhile;
  // nothing when it cannot be opened so.
  virtual std::optional<FolderFacts> HoldFolder(const std::string& path) = 0;
  // Through the held handle: owner Administrators and kSettingsFolderSddl.
  virtual bool TakeBackFolder(const std::string& path) = 0;
  virtual void ReleaseFolders() = 0;
};

// The settings folder with a final separator, and each of its levels below the
// common application data folder; nothing when there is no such folder, or when a
// level that is missing cannot be made. Only an elevated run makes missing levels;
// any other run gets the folder as it is, or as it would be.
struct SettingsLocation {
  std::string folder;
  std::vector<std::string> levels;
};
std::optional<SettingsLocation> EnsureSettingsFolder(FolderPlatform& platform,
                                                     const std::string& subPath, bool elevated);

// Before an elevated write: holds every level, and takes back each that a user
// other than the system or the administrators owns or may change. False when a
// level is a link, cannot be held or cannot be taken back: nothing may be written
// there then. The levels stay held until ReleaseFolders.
bool SecureSettingsFolder(FolderPlatform& platform, const std::vector<std::string>& levels);

// Drive and directory of a module path, ending with its separator ("" when the
// path has none).
std::string FolderOfModulePath(const std::string& modulePath);

}  // namespace orvel
