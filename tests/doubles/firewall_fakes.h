#pragma once

// Test doubles for the firewall exception: a FirewallPlatform whose current profile
// keeps an authorized-applications list in one shared world, which logs every call
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
  WideString systemFolder = u"C:\\WINDOWS\\system32";
  std::map<WideString, FakeVersionResource> files;
  std::vector<WideString> stringQueries;  // VerQueryValueW sub-blocks

  // --- the profile: how it was reached (an empty moniker: in-process)
  std::vector<WideString> opens;
  HResult openResult = kSOk;  // e.g. a refused elevation, an apartment of another mode
  bool noProfile = false;     // the policy hands back none
  int liveProfiles = 0;

  // --- the firewall's list
  std::vector<FakeEntry> authorized;
  std::optional<HResult> itemAnswer;  // what Item answers instead of looking
  int adds = 0;

  FakeEntry* Find(const WideString& path) {
    for (FakeEntry& entry : authorized) {
      if (entry.path == path) {
        return &entry;
      }
    }
    return nullptr;
  }
  HResult Item(const WideString& path, FakeEntry** entry) {
    *entry = Find(path);
    return itemAnswer.value_or(*entry != nullptr ? kSOk : kItemNotFound);
  }
};

// Answers as the Windows adapter does over the firewall objects.
class FakeFirewallProfile final : public FirewallProfile {
 public:
  explicit FakeFirewallProfile(FakeFirewallWorld& world) : world_(world) { ++world_.liveProfiles; }
  ~FakeFirewallProfile() override { --world_.liveProfiles; }

  HResult FindEntry(const WideString& path, EntryLookup* lookup) override {
    *lookup = EntryLookup{};
    if (world_.ShouldFail("FindEntry")) return world_.failCode;
    FakeEntry* entry = nullptr;
    lookup->item = world_.Item(path, &entry);
    if (!Failed(lookup->item)) lookup->enabled = entry->enabled;
    return kSOk;
  }
  // The firewall keeps one entry per image: adding a path again replaces its entry.
  HResult AddEntry(const WideString& path, const WideString& name) override {
    if (world_.ShouldFail("AddEntry")) return world_.failCode;
    if (name.empty()) return kEOutOfMemory;
    ++world_.adds;
    if (FakeEntry* existing = world_.Find(path)) {
      *existing = FakeEntry{path, name, true};
    } else {
      world_.authorized.push_back({path, name, true});
    }
    return kSOk;
  }
  HResult DisableEntry(const WideString& path, HResult* item) override {
    *item = kSOk;
    if (world_.ShouldFail("DisableEntry")) return world_.failCode;
    FakeEntry* entry = nullptr;
    *item = world_.Item(path, &entry);
    if (Failed(*item)) return *item;
    entry->enabled = false;
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

  HResult GetSystemFolderPath(WideString* path) override {
    if (world_.ShouldFail("GetSystemFolderPath")) return world_.failCode;
    *path = world_.systemFolder;
    return kSOk;
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

  HResult OpenProfileInProcess(std::unique_ptr<FirewallProfile>* profile) override {
    return Open(u"", profile);
  }
  HResult OpenProfileElevated(const WideString& moniker,
                              std::unique_ptr<FirewallProfile>* profile) override {
    return Open(moniker, profile);
  }

 private:
  HResult Open(const WideString& moniker, std::unique_ptr<FirewallProfile>* profile) {
    profile->reset();
    world_.opens.push_back(moniker);
    if (world_.ShouldFail("OpenProfile")) return world_.failCode;
    if (Failed(world_.openResult) || world_.noProfile) return world_.openResult;
    *profile = std::make_unique<FakeFirewallProfile>(world_);
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
  std::optional<std::vector<TokenGroup>> ReadGroups() override {
    if (world_.ShouldFail("ReadGroups")) return std::nullopt;
    return groups;
  }

 private:
  FakeFirewallWorld& world_;
};

}  // namespace orvel::fakes
