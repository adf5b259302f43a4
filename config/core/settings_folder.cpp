#include "config/core/settings_folder.h"

#include "config/core/device_table.h"

namespace orvel {
namespace {

constexpr char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool Trusted(const std::string& sid, const std::string& self) {
  return sid == "S-1-5-18" || sid == "S-1-5-32-544" || sid == kTrustedInstallerSid ||
         (!self.empty() && sid == self);
}

// CREATOR OWNER and CREATOR GROUP stand for whoever makes something inside; OWNER
// RIGHTS for the owner, who is weighed on its own.
bool StandsForSomeoneElse(const std::string& sid) {
  return sid == "S-1-3-0" || sid == "S-1-3-1" || sid == "S-1-3-4";
}

// Rights over the folder itself that let its holder remove it, what it holds, or
// the rules: together the means to swap the folder or a file in it for a link.
constexpr std::uint32_t kTakeOverRights =
    kRightDelete | kRightDeleteChild | kRightWriteDac | kRightWriteOwner | kRightGenericAll;
constexpr std::uint32_t kChangeRights = kTakeOverRights | kRightWriteData | kRightAppendData |
                                        kRightWriteEa | kRightWriteAttributes | kRightGenericWrite;

std::string FileIn(const std::string& folder) { return folder + "\\" + kSettingsFileName; }

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

std::string UnsafeBecause(const FolderFacts& facts, FolderLevel level, const std::string& self) {
  if (facts.link) return "is a link or not a folder";
  if (!facts.securityKnown) return "has an owner or access list that cannot be read";
  if (!Trusted(facts.owner, self)) return "is owned by " + facts.owner;
  if (facts.nullList) return "has no access list, so everyone may change it";
  for (const AccessEntry& entry : facts.entries) {
    if (entry.type == AccessEntry::Type::kDeny) continue;
    const bool known = entry.type == AccessEntry::Type::kAllow;
    if (known && (Trusted(entry.sid, self) || StandsForSomeoneElse(entry.sid))) continue;
    const std::string who = known ? entry.sid : "an entry of an unknown kind";
    const std::uint32_t mask = known ? entry.mask : ~0u;
    // An inherit-only entry reaches only what is made inside; a parent's do not reach
    // the settings folder, whose list is its own.
    if (!(entry.flags & kAceInheritOnly) && (mask & kTakeOverRights)) {
      return "lets " + who + " delete it or what it holds, or change its owner or access list";
    }
    if (level == FolderLevel::kSettings && (mask & kChangeRights)) {
      return "lets " + who + " add or change what it holds";
    }
  }
  return "";
}

std::string MovedAsideName(const std::string& path, const std::string& stamp, int attempt) {
  std::string name = path + ".unsafe-" + stamp;
  if (attempt > 1) {
    name += '-';
    name += std::to_string(attempt);
  }
  return name;
}

std::vector<std::string> SettingsLevels(const std::string& folder) {
  std::string path = folder;
  while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  std::size_t depth = 1;
  for (const char c : std::string(kSettingsSubPath)) depth += c == '\\';
  std::vector<std::string> levels;
  while (levels.size() < depth) {
    const std::size_t separator = path.find_last_of("\\/");
    // A level needs a parent of its own: a drive or share root is none.
    if (separator == std::string::npos || separator == 0 || path[separator - 1] == ':' ||
        path[separator - 1] == '\\') {
      return {};
    }
    levels.insert(levels.begin(), path);
    path.resize(separator);
  }
  return levels;
}

HoldResult SettingsFolderHold::Take(const std::vector<std::string>& levels, Mode mode) {
  HoldResult result;
  const std::string self = folders_.ProcessUserSid();
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const std::string& level = levels[i];
    const FolderLevel kind = i + 1 == levels.size() ? FolderLevel::kSettings : FolderLevel::kParent;
    FolderGuardPlatform::Held held = folders_.HoldFolder(level);
    if (held.status == FolderGuardPlatform::HoldStatus::kMissing) {
      if (mode == Mode::kAsItIs) {
        result.status = HoldResult::Status::kMissing;
        result.why = Quoted(level) + " is not there";
        return result;
      }
      // Made while its parent is held: nothing can lead the name elsewhere meanwhile.
      if (folders_.MakeDirectory(level, kind) == FolderGuardPlatform::CreateResult::kFailed) {
        result.status = HoldResult::Status::kNotMade;
        result.why = Quoted(level) + " cannot be made";
        return result;
      }
      held = folders_.HoldFolder(level);
    }
    if (held.status != FolderGuardPlatform::HoldStatus::kHeld) {
      result.status = HoldResult::Status::kUnsafe;
      result.why = Quoted(level) + " cannot be opened without following a link";
      return result;
    }
    const std::string why = UnsafeBecause(held.facts, kind, self);
    if (why.empty()) continue;
    if (mode == Mode::kAsItIs) {
      result.status = HoldResult::Status::kUnsafe;
      result.why = Quoted(level) + " " + why;
      return result;
    }
    if (kind == FolderLevel::kParent && !held.facts.link) {
      // The maker's other products live here too: only this folder's own owner and
      // list change, not theirs.
      if (!folders_.TakeBackFolder(level)) {
        result.status = HoldResult::Status::kUnsafe;
        result.why = Quoted(level) + " " + why + ", and cannot be taken back";
        return result;
      }
      result.changes.push_back(Quoted(level) + " " + why + "; taken back");
      continue;
    }
    if (!Replace(level, kind, held.facts, self, result)) return result;
  }
  return result;
}

bool SettingsFolderHold::Replace(const std::string& level, FolderLevel kind,
                                 const FolderFacts& facts, const std::string& self,
                                 HoldResult& result) {
  const std::string why = UnsafeBecause(facts, kind, self);
  auto fail = [&](const std::string& what) {
    result.status = HoldResult::Status::kUnsafe;
    result.why = Quoted(level) + " " + why + ", " + what;
    return false;
  };
  // Whoever could change the folder may still hold a handle that lets them change it
  // again, and every file in it: it is never trusted again, only its list is taken.
  std::optional<std::string> carried;
  if (kind == FolderLevel::kSettings && !facts.link) {
    std::string bytes;
    if (files_.ReadWholeFile(FileIn(level), bytes) == FileReadStatus::kOk &&
        bytes.size() <= kTableFileMaxBytes) {
      carried = std::move(bytes);
    }
  }
  const std::string stamp = folders_.TimeStamp();
  std::string aside;
  FolderGuardPlatform::MoveResult moved = FolderGuardPlatform::MoveResult::kNameTaken;
  for (int attempt = 1; attempt <= 9 && moved == FolderGuardPlatform::MoveResult::kNameTaken;
       ++attempt) {
    aside = MovedAsideName(level, stamp, attempt);
    moved = folders_.MoveAside(level, aside);
  }
  if (moved != FolderGuardPlatform::MoveResult::kMoved) return fail("and cannot be moved aside");
  result.changes.push_back(Quoted(level) + " " + why + "; moved aside to " + Quoted(aside));
  if (folders_.MakeDirectory(level, kind) != FolderGuardPlatform::CreateResult::kCreated) {
    return fail("was moved aside to " + Quoted(aside) + ", and cannot be made anew");
  }
  const FolderGuardPlatform::Held fresh = folders_.HoldFolder(level);
  if (fresh.status != FolderGuardPlatform::HoldStatus::kHeld ||
      !UnsafeBecause(fresh.facts, kind, self).empty()) {
    return fail("was moved aside to " + Quoted(aside) + ", and the new one is not safe");
  }
  if (carried && !files_.ReplaceWholeFile(FileIn(level), *carried)) {
    return fail("was moved aside to " + Quoted(aside) +
                ", and its device list cannot be carried over; it stays there");
  }
  if (carried) result.changes.push_back("the device list of " + Quoted(aside) + " carried over");
  return true;
}

std::optional<SettingsLocation> EnsureSettingsFolder(FolderPlatform& platform, FileAccess& files,
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
    location.levels.push_back(folder);
    folder += "\\";
  }
  location.folder = folder;
  // Without full rights nothing is made or changed here: a folder a standard user
  // creates is theirs, and with it the unit list the server reads.
  if (elevated) {
    SettingsFolderHold hold(platform.Folders(), files);
    // A folder that stays unsafe is refused again by every write; only one that cannot
    // be made at all sends the program to its own folder.
    if (hold.Take(location.levels, SettingsFolderHold::Mode::kMakeSafe).status ==
        HoldResult::Status::kNotMade) {
      return std::nullopt;
    }
  }
  return location;
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
