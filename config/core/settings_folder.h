#pragma once
// Where orveld.ini lives, and the one hold of that folder that every program writing
// there goes through: Orvelcfg's save and /import, and the installer's actions, which
// run as the system. The common application data folder lets any user create folders,
// and the creator owns what they make; so each level is opened without following a
// link and held against renaming while the work is done, a parent a user could change
// is taken back, and a settings folder a user could change is never reused: it is
// moved aside, kept for the administrator, and made anew with the list carried over.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/core/file_access.h"

namespace orvel {

inline constexpr char kSettingsSubPath[] = "VANTOR\\ORVELDRIVER";
inline constexpr char kSettingsFileName[] = "orveld.ini";
// The settings folder: owner Administrators; SYSTEM and Administrators full control,
// Users read and execute, for the folder and everything in it, nothing inherited.
inline constexpr char kSettingsFolderSddl[] =
    "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// Its parent, which the maker's other products share: what the common application data
// folder gives a folder made in it (users may make folders there and own what they
// make), but owned by Administrators and kept so whatever that folder's list becomes.
inline constexpr char kParentFolderSddl[] =
    "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;GA;;;CO)(A;OICI;0x1200a9;;;BU)"
    "(A;CI;0x100116;;;BU)";

enum class FolderLevel { kParent, kSettings };

// One entry of a folder's access list as the hold weighs it.
struct AccessEntry {
  enum class Type { kAllow, kDeny, kOther };  // kOther: a kind the hold cannot weigh
  Type type = Type::kAllow;
  std::uint32_t flags = 0;  // the entry's inheritance flags
  std::uint32_t mask = 0;
  std::string sid;  // "S-1-5-18"; empty for kOther
};

// A folder as it shows when opened without following a link.
struct FolderFacts {
  bool link = false;  // a junction or symbolic link, or not a folder at all
  bool securityKnown = true;
  std::string owner;      // as a SID string
  bool nullList = false;  // no access list at all: everyone may do everything
  std::vector<AccessEntry> entries;
};

// Copies of the Windows values the rules weigh (checked against the headers in the
// adapter).
inline constexpr std::uint32_t kAceObjectInherit = 0x1;
inline constexpr std::uint32_t kAceContainerInherit = 0x2;
inline constexpr std::uint32_t kAceInheritOnly = 0x8;
inline constexpr std::uint32_t kRightWriteData = 0x2;   // add a file, in a folder
inline constexpr std::uint32_t kRightAppendData = 0x4;  // add a folder
inline constexpr std::uint32_t kRightWriteEa = 0x10;
inline constexpr std::uint32_t kRightDeleteChild = 0x40;
inline constexpr std::uint32_t kRightWriteAttributes = 0x100;
inline constexpr std::uint32_t kRightDelete = 0x10000;
inline constexpr std::uint32_t kRightWriteDac = 0x40000;
inline constexpr std::uint32_t kRightWriteOwner = 0x80000;
inline constexpr std::uint32_t kRightGenericAll = 0x10000000;
inline constexpr std::uint32_t kRightGenericWrite = 0x40000000;

// The calls the hold makes. One adapter serves Orvelcfg and the installer alike.
class FolderGuardPlatform {
 public:
  enum class CreateResult { kCreated, kAlreadyExists, kFailed };
  enum class HoldStatus { kHeld, kMissing, kFailed };
  struct Held {
    HoldStatus status = HoldStatus::kFailed;
    FolderFacts facts;
  };
  enum class MoveResult { kMoved, kNameTaken, kFailed };

  virtual ~FolderGuardPlatform() = default;
  // CreateDirectoryA with the level's access list (kSettingsFolderSddl or
  // kParentFolderSddl), ERROR_ALREADY_EXISTS told apart from other failures.
  virtual CreateResult MakeDirectory(const std::string& path, FolderLevel level) = 0;
  // Opens the folder without following a link and keeps it open, without delete
  // sharing, until ReleaseFolders, so that nobody can rename or replace it meanwhile.
  virtual Held HoldFolder(const std::string& path) = 0;
  // Through the held handle, on that folder alone (its folders keep their own lists):
  // owner Administrators and kParentFolderSddl.
  virtual bool TakeBackFolder(const std::string& path) = 0;
  // Renames the held folder (or the link itself) to `to` through its handle, never over
  // anything that is there; the folder is no longer held afterwards.
  virtual MoveResult MoveAside(const std::string& path, const std::string& to) = 0;
  // The account this program runs as, as a SID string: an elevated program's own
  // account is an administrator's, or the system.
  virtual std::string ProcessUserSid() = 0;
  // The local time as "YYYYMMDD-HHMMSS", for the name a folder is moved aside to.
  virtual std::string TimeStamp() = 0;
  virtual void ReleaseFolders() = 0;
};

// Orvelcfg's start-up adds where the folder is and whether it may make it.
class FolderPlatform {
 public:
  virtual ~FolderPlatform() = default;
  // SHGetFolderPathA(CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE); nothing on failure.
  virtual std::optional<std::string> CommonAppDataFolder() = 0;
  // GetTokenInformation(TokenElevation) of the process.
  virtual bool ProcessElevated() = 0;
  virtual FolderGuardPlatform& Folders() = 0;
};

// Why a level may not be trusted as it is; empty when it may. Trusted are SYSTEM,
// Administrators, TrustedInstaller and `self`, the account the holding program runs as.
// A parent is unsafe when anyone else may delete it or what it holds, or change its
// owner or list (making folders in it is fine); the settings folder also when anyone
// else may add or change anything in it.
std::string UnsafeBecause(const FolderFacts& facts, FolderLevel level, const std::string& self);

// "<path>.unsafe-<stamp>", and "-2", "-3", ... after it for later attempts.
std::string MovedAsideName(const std::string& path, const std::string& stamp, int attempt);

// The levels of a settings folder below the common application data folder: the
// folder itself and as many parents as kSettingsSubPath has; none when the path is
// too short to have them. A final separator is ignored.
std::vector<std::string> SettingsLevels(const std::string& folder);

struct HoldResult {
  enum class Status {
    kHeld,     // every level is held and safe: work may begin
    kMissing,  // a level is not there (only when asked to take the folder as it is)
    kUnsafe,   // a level is not safe, or cannot be made so: nothing may be changed there
    kNotMade,  // a missing level could not be made
  };
  Status status = Status::kHeld;
  std::string why;                   // for kUnsafe and kNotMade: the level and what stands
  std::vector<std::string> changes;  // what was done to make a level safe, for a log
};

// Holds the levels for as long as it lives. Every writer of the settings folder takes
// one before it reads, writes, renames or deletes anything there.
class SettingsFolderHold {
 public:
  enum class Mode {
    kMakeSafe,  // make what is missing, take back a parent, replace a settings folder
    kAsItIs,    // change nothing: report a missing or unsafe level
  };
  // `files` opens nothing through a link (the settings folder's own file access).
  SettingsFolderHold(FolderGuardPlatform& folders, FileAccess& files)
      : folders_(folders), files_(files) {}
  ~SettingsFolderHold() { folders_.ReleaseFolders(); }
  SettingsFolderHold(const SettingsFolderHold&) = delete;
  SettingsFolderHold& operator=(const SettingsFolderHold&) = delete;

  // Holds each level from the top down. To make it safe, a missing level is made, an
  // unsafe parent is taken back and an unsafe settings folder is replaced, its
  // orveld.ini carried over; a link at any level is moved aside and made anew, and
  // nothing is read through it.
  HoldResult Take(const std::vector<std::string>& levels, Mode mode);

 private:
  // Moves an unsafe level aside and makes it anew; false, with result.why set, when
  // that cannot be done.
  bool Replace(const std::string& level, FolderLevel kind, const FolderFacts& facts,
               const std::string& self, HoldResult& result);

  FolderGuardPlatform& folders_;
  FileAccess& files_;
};

// The settings folder with a final separator, and each of its levels below the
// common application data folder; nothing when there is no such folder, or when a
// level that is missing cannot be made. Only an elevated run makes missing levels
// and makes the folder safe, through the hold, which it releases again; any other
// run gets the folder as it is, or as it would be.
struct SettingsLocation {
  std::string folder;
  std::vector<std::string> levels;
};
std::optional<SettingsLocation> EnsureSettingsFolder(FolderPlatform& platform, FileAccess& files,
                                                     const std::string& subPath, bool elevated);

// Drive and directory of a module path, ending with its separator ("" when the
// path has none).
std::string FolderOfModulePath(const std::string& modulePath);

}  // namespace orvel
