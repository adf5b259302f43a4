#include "firewall/firewall_exception.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>

namespace orvel {
namespace {

constexpr char kTranslationQuery[] = "\\VarFileInfo\\Translation";
constexpr std::u16string_view kElevationMonikerPrefix = u"Elevation:Administrator!new:";

void AppendHex(WideString* out, std::uint32_t value, int digits, bool upper) {
  const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out->push_back(static_cast<WideChar>(alphabet[(value >> shift) & 0xF]));
  }
}

}  // namespace

HResult AppendBounded(WideString* out, std::size_t capacity, std::u16string_view text) {
  if (capacity == 0) {
    return kEInvalidArg;
  }
  const std::size_t room = out->size() < capacity ? capacity - 1 - out->size() : 0;
  if (text.size() > room) {
    out->append(text.substr(0, room));
    return kEInsufficientBuffer;
  }
  out->append(text);
  return kSOk;
}

WideString GuidToRegistryString(const Guid& guid) {
  WideString text = u"{";
  AppendHex(&text, guid.data1, 8, true);
  text.push_back(u'-');
  AppendHex(&text, guid.data2, 4, true);
  text.push_back(u'-');
  AppendHex(&text, guid.data3, 4, true);
  text.push_back(u'-');
  for (int i = 0; i < 8; ++i) {
    if (i == 2) {
      text.push_back(u'-');
    }
    AppendHex(&text, guid.data4[i], 2, true);
  }
  text.push_back(u'}');
  return text;
}

WideString VersionStringQuery(std::uint16_t language, std::uint16_t codePage,
                              std::u16string_view name) {
  WideString query = u"\\StringFileInfo\\";
  AppendHex(&query, (static_cast<std::uint32_t>(language) << 16) | codePage, 8, false);
  query.push_back(u'\\');
  WideString bounded;
  AppendBounded(&bounded, kVersionQueryCapacity, query);
  AppendBounded(&bounded, kVersionQueryCapacity, name);
  return bounded;
}

bool IsFirewallCapableWindows(FirewallPlatform& platform) {
  OsVersionInfo info;
  if (!platform.GetVersionExA(&info)) {
    return true;
  }
  if (info.platformId != kVerPlatformWin32Nt) {
    return false;
  }
  if (info.majorVersion == 5) {
    return info.minorVersion == 1 || info.minorVersion == 2;
  }
  return info.majorVersion >= 6;
}

bool IsWindowsVistaOrLater(FirewallPlatform& platform) {
  OsVersionInfo info;
  if (!platform.GetVersionExA(&info)) {
    return false;
  }
  return info.platformId == kVerPlatformWin32Nt && info.majorVersion >= 6;
}

namespace {

// folder, then each part behind a "\"; a cut path would name some other program, so
// one that does not fit is refused rather than registered.
bool JoinPath(WideString* path, std::u16string_view folder,
              std::initializer_list<std::u16string_view> parts) {
  path->clear();
  bool fits = AppendBounded(path, kServerPathCapacity, folder) == kSOk;
  for (std::u16string_view part : parts) {
    fits = fits && AppendBounded(path, kServerPathCapacity, u"\\") == kSOk &&
           AppendBounded(path, kServerPathCapacity, part) == kSOk;
  }
  if (!fits) {
    path->clear();
  }
  return fits;
}

}  // namespace

bool GetServerProgramPath(ServerFolders& folders, ServerProgramPath* server) {
  *server = ServerProgramPath{};
  bool wow64 = false;
  if (!folders.IsWow64Process(&wow64)) {
    return false;
  }
  WideString folder;
  ServerProgramPath native;
  if (!wow64) {
    if (Failed(folders.GetSystemFolderPath(&folder)) ||
        !JoinPath(&native.path, folder, {kServerProgramName})) {
      return false;
    }
    native.versionPath = native.path;
  } else if (folders.GetSystemWindowsDirectory(&folder) &&
             JoinPath(&native.path, folder, {u"System32", kServerProgramName}) &&
             JoinPath(&native.versionPath, folder, {u"Sysnative", kServerProgramName})) {
    // A 32-bit process that names System32 is sent to the 32-bit folder; the firewall,
    // though, matches the path the program runs from.
    native.redirection = Redirection::kOff;
  }
  if (!native.versionPath.empty() && folders.FileExists(native.versionPath)) {
    *server = native;
    return true;
  }
  ServerProgramPath x86;
  const bool x86Known =
      folders.GetSystemWow64Directory(&folder) && JoinPath(&x86.path, folder, {kServerProgramName});
  x86.versionPath = x86.path;
  // A 32-bit process looks for its own kind of server there; a 64-bit one goes there
  // only for a program that is there, and otherwise keeps to its own folder.
  if (wow64) {
    *server = x86;
    return x86Known;
  }
  *server = x86Known && folders.FileExists(x86.path) ? x86 : native;
  return true;
}

bool GetServerProductName(FirewallPlatform& platform, const WideString& path, WideString* name) {
  name->clear();
  const std::uint32_t size = platform.GetFileVersionInfoSizeW(path.c_str());
  if (size == 0) {
    return false;
  }
  // Word-aligned, as the resource's structures expect.
  const std::size_t words = (static_cast<std::size_t>(size) + 3) / 4;
  std::unique_ptr<std::uint32_t[]> storage(new (std::nothrow) std::uint32_t[words]());
  if (!storage) {
    return false;
  }
  void* block = storage.get();
  if (!platform.GetFileVersionInfoW(path.c_str(), size, block)) {
    return false;
  }
  const auto* blockBegin = static_cast<const unsigned char*>(block);
  const auto* blockEnd = blockBegin + size;
  auto inBlock = [&](const void* value, std::size_t bytes) {
    const auto begin = reinterpret_cast<std::uintptr_t>(value);
    const auto first = reinterpret_cast<std::uintptr_t>(blockBegin);
    const auto last = reinterpret_cast<std::uintptr_t>(blockEnd);
    return begin >= first && begin <= last && bytes <= last - begin;
  };

  const void* translation = nullptr;
  std::uint32_t translationBytes = 0;
  if (!platform.VerQueryValueA(block, kTranslationQuery, &translation, &translationBytes) ||
      translation == nullptr || translationBytes < 4 || !inBlock(translation, 4)) {
    return false;
  }
  std::uint16_t entry[2];  // language, code page
  std::memcpy(entry, translation, sizeof entry);

  const WideString query = VersionStringQuery(entry[0], entry[1], u"ProductName");
  const void* value = nullptr;
  std::uint32_t characters = 0;
  // Without a ProductName for the first translation there is nothing to register under.
  if (!platform.VerQueryValueW(block, query.c_str(), &value, &characters) || value == nullptr) {
    return false;
  }
  // Never read past the block, whatever the resource claims.
  const auto* text = static_cast<const unsigned char*>(value);
  if (!inBlock(text, 0)) {
    return false;
  }
  const std::size_t available = static_cast<std::size_t>(blockEnd - text) / sizeof(WideChar);
  const std::size_t limit = characters < available ? characters : available;
  WideString copied;
  for (std::size_t i = 0; i < limit; ++i) {
    WideChar unit;
    std::memcpy(&unit, text + i * sizeof(WideChar), sizeof unit);
    if (unit == 0) {
      break;
    }
    copied.push_back(unit);
  }
  // A display name that is too long is only shortened.
  AppendBounded(name, kProductNameCapacity, copied);
  return true;
}

HResult CreateElevatedFirewallManager(FirewallPlatform& platform,
                                      std::unique_ptr<FirewallPolicy>* policy) {
  if (policy == nullptr) {
    return kMissingArgument;
  }
  policy->reset();
  WideString clsid;
  HResult result = AppendBounded(&clsid, kGuidStringCapacity, GuidToRegistryString(kClsidNetFwMgr));
  if (Failed(result)) {
    return result;
  }
  WideString moniker;
  result = AppendBounded(&moniker, kMonikerCapacity, kElevationMonikerPrefix);
  if (!Failed(result)) {
    result = AppendBounded(&moniker, kMonikerCapacity, clsid);
  }
  if (Failed(result)) {
    return result;
  }
  return platform.OpenPolicyElevated(moniker, policy);
}

HResult GetFirewallPolicy(FirewallPlatform& platform, ProcessToken& token,
                          std::unique_ptr<FirewallPolicy>* policy) {
  if (policy == nullptr) {
    return kMissingArgument;
  }
  policy->reset();
  if (!IsWindowsVistaOrLater(platform)) {
    return platform.OpenPolicyInProcess(policy);
  }
  const HResult elevated = CreateElevatedFirewallManager(platform, policy);
  if (!Failed(elevated)) {
    return elevated;
  }
  // The moniker binds only classes registered for elevation; a process that is
  // elevated already may use the manager in-process instead.
  if (token.IsElevated().value_or(false)) {
    return platform.OpenPolicyInProcess(policy);
  }
  return elevated;
}

HResult IsApplicationEnabled(FirewallProfile* profile, const WideChar* path, bool* enabled,
                             Redirection redirection) {
  if (profile == nullptr || path == nullptr || enabled == nullptr) {
    return kMissingArgument;
  }
  *enabled = false;
  EntryLookup lookup;
  const HResult result = profile->FindEntry(path, redirection, &lookup);
  if (Failed(result) || Failed(lookup.item)) {
    return Failed(result) ? result : kSOk;  // a failed look-up: not registered
  }
  *enabled = lookup.enabled;
  return result;
}

HResult AddAuthorizedApplication(FirewallProfile* profile, const WideChar* path,
                                 const WideChar* name, Redirection redirection) {
  if (profile == nullptr || path == nullptr || name == nullptr) {
    return kMissingArgument;
  }
  bool enabled = false;
  const HResult result = IsApplicationEnabled(profile, path, &enabled, redirection);
  if (Failed(result)) {
    return result;
  }
  if (enabled) {
    return kSOk;
  }
  // A disabled entry is handled as a missing one: a new object for the same path.
  return profile->AddEntry(path, redirection, name);
}

HResult DisableAuthorizedApplication(FirewallProfile* profile, const WideChar* path,
                                     Redirection redirection) {
  if (profile == nullptr || path == nullptr) {
    return kMissingArgument;
  }
  HResult item = kSOk;
  const HResult result = profile->DisableEntry(path, redirection, &item);
  // Only a missing entry means there is nothing to switch off; a lookup refused for
  // any other reason leaves the entry as it may be, enabled.
  if (item == kItemNotFound) {
    return kSOk;
  }
  return result;
}

namespace {

// Both operations: the rights and the server's path first, then one step on each
// profile of the policy, which holds the apartment until it goes. A profile that
// cannot be reached or updated leaves the others to be updated all the same.
template <class Step>
bool OnEveryProfile(FirewallPlatform& platform, ProcessToken& token, bool needsName, Step step) {
  if (!IsFirewallCapableWindows(platform) || !IsUserInAdministratorsGroup(token)) {
    return false;
  }
  ServerProgramPath server;
  if (!GetServerProgramPath(platform, &server)) {
    return false;
  }
  WideString name;
  if (needsName && !GetServerProductName(platform, server.versionPath, &name)) {
    return false;
  }
  std::unique_ptr<FirewallPolicy> policy;
  if (Failed(GetFirewallPolicy(platform, token, &policy)) || !policy) {
    return false;
  }
  bool all = true;
  for (FirewallProfileType type : kExceptionProfiles) {
    std::unique_ptr<FirewallProfile> profile;
    all = !Failed(policy->GetProfileByType(type, &profile)) && profile &&
          !Failed(step(profile.get(), server.path.c_str(), name.c_str(), server.redirection)) &&
          all;
  }
  return all;
}

}  // namespace

bool RegisterFirewallException(FirewallPlatform& platform, ProcessToken& token) {
  return OnEveryProfile(platform, token, true, AddAuthorizedApplication);
}

bool DisableFirewallException(FirewallPlatform& platform, ProcessToken& token) {
  return OnEveryProfile(
      platform, token, false,
      [](FirewallProfile* profile, const WideChar* path, const WideChar*, Redirection redirection) {
        return DisableAuthorizedApplication(profile, path, redirection);
      });
}

}  // namespace orvel
