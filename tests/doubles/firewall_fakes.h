#pragma once

// Test doubles for the firewall exception: a FirewallPlatform whose policy keeps an
// authorized-applications list per profile in one shared world, which logs every call
// and fails any of them on demand.

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firewall/admin_group.h"
#include "firewall/firewall_platform.h"

namespace orvel::fakes {

constexpr HResult kEFail = static_cast<HResult>(0x80004005);

struct FakeVersionResource {
  // Raw bytes of "\VarFileInfo\Translation"; empty means the table is missing.
  std::vector<std::uint8_t> translation;
  // String values by their full query path, e.g. u"\\StringFileInfo\\040904b0\\ProductName".
  std::map<WideString, WideString> strings;
  // When set, the length VerQueryValueW reports for every string, whatever it holds.
  std::optional<std::uint32_t> claimedLength;

  static std::vector<std::uint8_t> Translations(
      const std::vector<std::pair<std::uint16_t, std::uint16_t>>& entries) {
    std::vector<std::uint8_t> bytes;
    for (auto [language, codePage] : entries) {
      for (std::uint16_t word : {language, codePage}) {
        bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(word >> 8));
      }
    }
    return bytes;
  }
};

struct FakeEntry {
  WideString path;
  WideString name;
  bool enabled = true;
};

class FakeFirewallWorld {
 public:
  // --- fault injection: the call with this index in `calls` fails with failCode.
  std::optional<std::size_t> failAt;
  std::string failCall;  // or every call of this name
  HResult failCode = kEFail;
  std::vector<std::string> calls;  // every call, in order

  bool ShouldFail(const std::string& call) {
    calls.push_back(call);
    return (failAt && *failAt == calls.size() - 1) || call == failCall;
  }

  // --- system
  std::optional<OsVersionInfo> version = OsVersionInfo{kVerPlatformWin32Nt, 6, 1};
  std::optional<bool> wow64 = false;  // nothing: IsWow64Process fails
  WideString systemFolder = u"C:\\WINDOWS\\system32";
  WideString windowsFolder = u"C:\\WINDOWS";
  std::optional<WideString> wow64Folder = u"C:\\WINDOWS\\SysWOW64";
  // The files there are, by the path this process names them with.
  std::map<WideString, FakeVersionResource> files;
  std::vector<WideString> stringQueries;  // VerQueryValueW sub-blocks

  // --- the policy: how it was reached (an empty moniker: in-process)
  std::vector<WideString> opens;
  // What each way answers: e.g. a refused elevation, an apartment of another mode.
  HResult elevatedResult = kSOk;
  HResult inProcessResult = kSOk;
  int livePolicies = 0;
  int liveProfiles = 0;

  // --- the firewall's lists, one per profile
  static constexpr std::size_t Index(FirewallProfileType type) {
    return static_cast<std::size_t>(type);
  }
  std::vector<FakeEntry> authorized[2];
  // Per profile, the one call that fails ("GetProfileByType", "FindEntry", "AddEntry",
  // "DisableEntry"); "no profile" makes GetProfileByType hand back none.
  std::map<FirewallProfileType, std::string> profileFailures;
  std::optional<HResult> itemAnswer;  // what Item answers instead of looking
  int adds = 0;
  // How each call that took the server's path was asked to be made, in order.
  std::vector<Redirection> redirections;

  bool ProfileFails(FirewallProfileType type, const std::string& call) {
    const bool fails = ShouldFail(call);
    auto failure = profileFailures.find(type);
    return fails || (failure != profileFailures.end() && failure->second == call);
  }
  FakeEntry* Find(FirewallProfileType type, const WideString& path) {
    for (FakeEntry& entry : authorized[Index(type)]) {
      if (entry.path == path) {
        return &entry;
      }
    }
    return nullptr;
  }
  HResult Item(FirewallProfileType type, const WideString& path, FakeEntry** entry) {
    *entry = Find(type, path);
    return itemAnswer.value_or(*entry != nullptr ? kSOk : kItemNotFound);
  }
};

// Answers as the Windows adapter does over the firewall objects.
class FakeFirewallProfile final : public FirewallProfile {
 public:
  FakeFirewallProfile(FakeFirewallWorld& world, FirewallProfileType type)
      : world_(world), type_(type) {
    ++world_.liveProfiles;
  }
  ~FakeFirewallProfile() override { --world_.liveProfiles; }

  HResult FindEntry(const WideString& path, Redirection redirection, EntryLookup* lookup) override {
    *lookup = EntryLookup{};
    if (world_.ProfileFails(type_, "FindEntry")) return world_.failCode;
    world_.redirections.push_back(redirection);
    FakeEntry* entry = nullptr;
    lookup->item = world_.Item(type_, path, &entry);
    if (!Failed(lookup->item)) lookup->enabled = entry->enabled;
    return kSOk;
  }
  // The firewall keeps one entry per image: adding a path again replaces its entry.
  HResult AddEntry(const WideString& path, Redirection redirection,
                   const WideString& name) override {
    if (world_.ProfileFails(type_, "AddEntry")) return world_.failCode;
    world_.redirections.push_back(redirection);
    if (name.empty()) return kEOutOfMemory;
    ++world_.adds;
    if (FakeEntry* existing = world_.Find(type_, path)) {
      *existing = FakeEntry{path, name, true};
    } else {
      world_.authorized[FakeFirewallWorld::Index(type_)].push_back({path, name, true});
    }
    return kSOk;
  }
  HResult DisableEntry(const WideString& path, Redirection redirection, HResult* item) override {
    *item = kSOk;
    if (world_.ProfileFails(type_, "DisableEntry")) return world_.failCode;
    world_.redirections.push_back(redirection);
    FakeEntry* entry = nullptr;
    *item = world_.Item(type_, path, &entry);
    if (Failed(*item)) return *item;
    entry->enabled = false;
    return kSOk;
  }

 private:
  FakeFirewallWorld& world_;
  FirewallProfileType type_;
};

class FakeFirewallPolicy final : public FirewallPolicy {
 public:
  explicit FakeFirewallPolicy(FakeFirewallWorld& world) : world_(world) { ++world_.livePolicies; }
  ~FakeFirewallPolicy() override { --world_.livePolicies; }

  HResult GetProfileByType(FirewallProfileType type,
                           std::unique_ptr<FirewallProfile>* profile) override {
    profile->reset();
    if (world_.ProfileFails(type, "GetProfileByType")) return world_.failCode;
    auto failure = world_.profileFailures.find(type);
    if (failure != world_.profileFailures.end() && failure->second == "no profile") return kSOk;
    *profile = std::make_unique<FakeFirewallProfile>(world_, type);
    return kSOk;
  }

 private:
  FakeFirewallWorld& world_;
};

class FakeFirewallPlatform final : public FirewallPlatform {
 public:
  explicit FakeFirewallPlatform(FakeFirewallWorld& world) : world_(world) {}

  bool GetVersionExA(OsVersionInfo* info) override {
    if (world_.ShouldFail("GetVersionExA") || !world_.version) return false;
    *info = *world_.version;
    return true;
  }

  bool IsWow64Process(bool* wow64) override {
    if (world_.ShouldFail("IsWow64Process") || !world_.wow64) return false;
    *wow64 = *world_.wow64;
    return true;
  }

  HResult GetSystemFolderPath(WideString* path) override {
    if (world_.ShouldFail("GetSystemFolderPath")) return world_.failCode;
    *path = world_.systemFolder;
    return kSOk;
  }

  bool GetSystemWindowsDirectory(WideString* path) override {
    if (world_.ShouldFail("GetSystemWindowsDirectory")) return false;
    *path = world_.windowsFolder;
    return true;
  }

  bool GetSystemWow64Directory(WideString* path) override {
    if (world_.ShouldFail("GetSystemWow64Directory") || !world_.wow64Folder) return false;
    *path = *world_.wow64Folder;
    return true;
  }

  bool FileExists(const WideString& path) override {
    if (world_.ShouldFail("FileExists")) return false;
    return world_.files.count(path) != 0;
  }

  std::uint32_t GetFileVersionInfoSizeW(const WideChar* path) override {
    if (world_.ShouldFail("GetFileVersionInfoSizeW")) return 0;
    auto file = world_.files.find(path);
    return file == world_.files.end() ? 0 : static_cast<std::uint32_t>(Layout(file->second).size());
  }

  bool GetFileVersionInfoW(const WideChar* path, std::uint32_t size, void* block) override {
    if (world_.ShouldFail("GetFileVersionInfoW")) return false;
    auto file = world_.files.find(path);
    if (file == world_.files.end()) return false;
    const std::vector<std::uint8_t> bytes = Layout(file->second);
    if (size < bytes.size()) return false;
    std::memcpy(block, bytes.data(), bytes.size());
    blocks_[block] = &file->second;
    return true;
  }

  bool VerQueryValueA(const void* block, const char* subBlock, const void** value,
                      std::uint32_t* length) override {
    if (world_.ShouldFail("VerQueryValueA")) return false;
    const FakeVersionResource* resource = Resource(block);
    if (resource == nullptr || std::string(subBlock) != "\\VarFileInfo\\Translation" ||
        resource->translation.empty()) {
      return false;
    }
    *value = block;  // the translation table leads the block
    *length = static_cast<std::uint32_t>(resource->translation.size());
    return true;
  }

  bool VerQueryValueW(const void* block, const WideChar* subBlock, const void** value,
                      std::uint32_t* length) override {
    if (world_.ShouldFail("VerQueryValueW")) return false;
    world_.stringQueries.emplace_back(subBlock);
    const FakeVersionResource* resource = Resource(block);
    if (resource == nullptr) return false;
    std::size_t offset = resource->translation.size();
    for (const auto& [query, text] : resource->strings) {
      if (query == subBlock) {
        *value = static_cast<const std::uint8_t*>(block) + offset;
        *length = resource->claimedLength.value_or(static_cast<std::uint32_t>(text.size() + 1));
        return true;
      }
      offset += (text.size() + 1) * sizeof(WideChar);
    }
    return false;
  }

  HResult OpenPolicyInProcess(std::unique_ptr<FirewallPolicy>* policy) override {
    return Open(u"", world_.inProcessResult, policy);
  }
  HResult OpenPolicyElevated(const WideString& moniker,
                             std::unique_ptr<FirewallPolicy>* policy) override {
    return Open(moniker, world_.elevatedResult, policy);
  }

 private:
  HResult Open(const WideString& moniker, HResult answer, std::unique_ptr<FirewallPolicy>* policy) {
    policy->reset();
    world_.opens.push_back(moniker);
    if (world_.ShouldFail(moniker.empty() ? "OpenPolicyInProcess" : "OpenPolicyElevated")) {
      return world_.failCode;
    }
    if (Failed(answer)) return answer;
    *policy = std::make_unique<FakeFirewallPolicy>(world_);
    return kSOk;
  }

  // The block holds the translation table, then each string with its terminator.
  static std::vector<std::uint8_t> Layout(const FakeVersionResource& resource) {
    std::vector<std::uint8_t> bytes = resource.translation;
    for (const auto& [query, text] : resource.strings) {
      const auto* begin = reinterpret_cast<const std::uint8_t*>(text.c_str());
      bytes.insert(bytes.end(), begin, begin + (text.size() + 1) * sizeof(WideChar));
    }
    if (bytes.empty()) bytes.push_back(0);
    return bytes;
  }

  const FakeVersionResource* Resource(const void* block) const {
    auto found = blocks_.find(block);
    return found == blocks_.end() ? nullptr : found->second;
  }

  FakeFirewallWorld& world_;
  std::map<const void*, const FakeVersionResource*> blocks_;
};

class FakeProcessToken final : public ProcessToken {
 public:
  explicit FakeProcessToken(FakeFirewallWorld& world) : world_(world) {}
  std::optional<std::vector<TokenGroup>> groups = std::vector<TokenGroup>{
      {SecurityId{1, 1, {0}}, 7},  // Everyone
      {AdministratorsSid(), 0xF},  // enabled Administrators
  };
  std::optional<bool> elevated = true;
  std::optional<std::vector<TokenGroup>> ReadGroups() override {
    if (world_.ShouldFail("ReadGroups")) return std::nullopt;
    return groups;
  }
  std::optional<bool> IsElevated() override {
    if (world_.ShouldFail("IsElevated")) return std::nullopt;
    return elevated;
  }

 private:
  FakeFirewallWorld& world_;
};

}  // namespace orvel::fakes
