#pragma once

// Test doubles for the firewall exception: a FirewallPlatform and the firewall
// objects over one shared world that keeps the authorized-applications list, counts
// every reference and BSTR, and fails any call on demand.

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firewall/admin_group.h"
#include "firewall/firewall_objects.h"
#include "firewall/firewall_platform.h"

namespace orvel::fakes {

constexpr HResult kNotFound = static_cast<HResult>(0x80070002);
constexpr HResult kClassNotRegistered = static_cast<HResult>(0x80040154);

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

struct Creation {
  Guid clsid;
  std::uint32_t context;
  Guid iid;
};

struct MonikerBind {
  WideString name;
  ElevationBindOptions options;
  Guid iid;
};

class FakeFirewallWorld;

// Reference counting as COM objects do it, except that the world keeps the storage so
// that a release too many or a call after the last release is seen, not a crash.
class FakeObjectBase {
 public:
  FakeObjectBase(FakeFirewallWorld& world, std::string kind)
      : world_(world), kind_(std::move(kind)) {}
  virtual ~FakeObjectBase() = default;
  std::uint32_t AddRefImpl();
  std::uint32_t ReleaseImpl();
  // Logs the call; true when it is to fail.
  bool Enter(const std::string& call);
  int references() const { return references_; }
  const std::string& kind() const { return kind_; }

 protected:
  FakeFirewallWorld& world_;

 private:
  std::string kind_;
  int references_ = 1;
};

class FakeFirewallWorld {
 public:
  // --- fault injection: the call with this index in `calls` (counting only calls
  // that can fail) fails with failCode.
  std::optional<std::size_t> failAt;
  std::string failCall;  // or every call of this name
  HResult failCode = kEFail;
  std::vector<std::string> calls;   // failable calls, in order
  std::vector<std::string> events;  // every call, releases and frees included
  std::size_t failableCount = 0;
  int violations = 0;  // release too many, use after release, bad BSTR

  bool ShouldFail(const std::string& call) {
    calls.push_back(call);
    events.push_back(call);
    const std::size_t index = failableCount++;
    return (failAt && *failAt == index) || call == failCall;
  }

  // --- system
  std::optional<OsVersionInfo> version = OsVersionInfo{kVerPlatformWin32Nt, 6, 1};
  WideString systemFolder = u"C:\\WINDOWS\\system32";
  std::map<WideString, FakeVersionResource> files;
  std::vector<WideString> stringQueries;  // VerQueryValueW sub-blocks

  // --- COM
  enum class Apartment { kNone, kSingle, kMulti };
  Apartment apartment = Apartment::kNone;
  int apartmentDepth = 0;
  int initialisations = 0;  // successful CoInitializeEx
  int uninitialisations = 0;
  std::vector<std::uint32_t> initFlags;
  std::vector<Creation> creations;
  std::vector<MonikerBind> binds;
  HResult elevationResult = kSOk;  // CoGetObject's answer

  // --- firewall state
  std::vector<FakeEntry> authorized;
  int adds = 0;

  // --- references and strings
  std::vector<std::unique_ptr<FakeObjectBase>> objects;
  std::map<const WideChar*, std::unique_ptr<WideChar[]>> liveBstrs;
  int bstrsAllocated = 0;

  template <class T, class... Args>
  T* Make(Args&&... args) {
    auto object = std::make_unique<T>(*this, std::forward<Args>(args)...);
    T* raw = object.get();
    objects.push_back(std::move(object));
    return raw;
  }

  int OutstandingReferences() const {
    int total = 0;
    for (const auto& object : objects) {
      total += object->references();
    }
    return total;
  }

  bool IsLiveBstr(Bstr text) const { return liveBstrs.count(text) != 0; }

  // Reads a BSTR handed to an object; an unknown pointer is a violation.
  WideString Text(Bstr text) {
    if (!IsLiveBstr(text)) {
      ++violations;
      return {};
    }
    return WideString(text);
  }

  FakeEntry* Find(const WideString& path) {
    for (FakeEntry& entry : authorized) {
      if (entry.path == path) {
        return &entry;
      }
    }
    return nullptr;
  }
};

inline std::uint32_t FakeObjectBase::AddRefImpl() {
  world_.events.push_back("AddRef " + kind_);
  if (references_ <= 0) {
    ++world_.violations;
  }
  return static_cast<std::uint32_t>(++references_);
}

inline std::uint32_t FakeObjectBase::ReleaseImpl() {
  world_.events.push_back("Release " + kind_);
  if (references_ <= 0) {
    ++world_.violations;
    return 0;
  }
  return static_cast<std::uint32_t>(--references_);
}

inline bool FakeObjectBase::Enter(const std::string& call) {
  if (references_ <= 0) {
    ++world_.violations;
  }
  return world_.ShouldFail(call);
}

#define ORVEL_FAKE_UNKNOWN                                 \
  std::uint32_t AddRef() override { return AddRefImpl(); } \
  std::uint32_t Release() override { return ReleaseImpl(); }

// A new object from CoCreateInstance keeps its own fields; one from Item is a view of
// a stored entry.
class FakeAuthorizedApplication final : public FwAuthorizedApplication, public FakeObjectBase {
 public:
  FakeAuthorizedApplication(FakeFirewallWorld& world, std::optional<std::size_t> entry)
      : FakeObjectBase(world, "application"), entry_(entry) {}
  ORVEL_FAKE_UNKNOWN

  HResult get_Enabled(bool* enabled) override {
    if (Enter("get_Enabled")) return world_.failCode;
    *enabled = entry_ ? world_.authorized[*entry_].enabled : own_.enabled;
    return kSOk;
  }
  HResult put_Enabled(bool enabled) override {
    if (Enter("put_Enabled")) return world_.failCode;
    (entry_ ? world_.authorized[*entry_] : own_).enabled = enabled;
    return kSOk;
  }
  HResult put_ProcessImageFileName(Bstr path) override {
    if (Enter("put_ProcessImageFileName")) return world_.failCode;
    (entry_ ? world_.authorized[*entry_] : own_).path = world_.Text(path);
    return kSOk;
  }
  HResult put_Name(Bstr name) override {
    if (Enter("put_Name")) return world_.failCode;
    (entry_ ? world_.authorized[*entry_] : own_).name = world_.Text(name);
    return kSOk;
  }

  const FakeEntry& Fields() const { return entry_ ? world_.authorized[*entry_] : own_; }

 private:
  std::optional<std::size_t> entry_;
  FakeEntry own_;
};

class FakeAuthorizedApplications final : public FwAuthorizedApplications, public FakeObjectBase {
 public:
  explicit FakeAuthorizedApplications(FakeFirewallWorld& world)
      : FakeObjectBase(world, "applications") {}
  ORVEL_FAKE_UNKNOWN

  HResult Item(Bstr path, FwAuthorizedApplication** application) override {
    *application = nullptr;
    if (Enter("Item")) return world_.failCode;
    const WideString text = world_.Text(path);
    for (std::size_t i = 0; i < world_.authorized.size(); ++i) {
      if (world_.authorized[i].path == text) {
        *application = world_.Make<FakeAuthorizedApplication>(i);
        return kSOk;
      }
    }
    return kNotFound;
  }
  // The firewall keeps one entry per image: adding a path again replaces its entry.
  HResult Add(FwAuthorizedApplication* application) override {
    if (Enter("Add")) return world_.failCode;
    auto* fake = dynamic_cast<FakeAuthorizedApplication*>(application);
    if (fake == nullptr || fake->references() <= 0) {
      ++world_.violations;
      return kEInvalidArg;
    }
    ++world_.adds;
    const FakeEntry fields = fake->Fields();
    if (FakeEntry* existing = world_.Find(fields.path)) {
      *existing = fields;
    } else {
      world_.authorized.push_back(fields);
    }
    return kSOk;
  }
};

class FakeProfile final : public FwProfile, public FakeObjectBase {
 public:
  explicit FakeProfile(FakeFirewallWorld& world) : FakeObjectBase(world, "profile") {}
  ORVEL_FAKE_UNKNOWN
  HResult get_AuthorizedApplications(FwAuthorizedApplications** applications) override {
    *applications = nullptr;
    if (Enter("get_AuthorizedApplications")) return world_.failCode;
    *applications = world_.Make<FakeAuthorizedApplications>();
    return kSOk;
  }
};

class FakePolicy final : public FwPolicy, public FakeObjectBase {
 public:
  explicit FakePolicy(FakeFirewallWorld& world) : FakeObjectBase(world, "policy") {}
  ORVEL_FAKE_UNKNOWN
  HResult get_CurrentProfile(FwProfile** profile) override {
    *profile = nullptr;
    if (Enter("get_CurrentProfile")) return world_.failCode;
    *profile = world_.Make<FakeProfile>();
    return kSOk;
  }
};

class FakeManager final : public FwManager, public FakeObjectBase {
 public:
  explicit FakeManager(FakeFirewallWorld& world) : FakeObjectBase(world, "manager") {}
  ORVEL_FAKE_UNKNOWN
  HResult get_LocalPolicy(FwPolicy** policy) override {
    *policy = nullptr;
    if (Enter("get_LocalPolicy")) return world_.failCode;
    *policy = world_.Make<FakePolicy>();
    return kSOk;
  }
};

#undef ORVEL_FAKE_UNKNOWN

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

  HResult CoInitializeEx(std::uint32_t flags) override {
    world_.initFlags.push_back(flags);
    if (world_.ShouldFail("CoInitializeEx")) return world_.failCode;
    using Apartment = FakeFirewallWorld::Apartment;
    const Apartment wanted =
        (flags & kCoinitApartmentThreaded) ? Apartment::kSingle : Apartment::kMulti;
    if (world_.apartment != Apartment::kNone && world_.apartment != wanted) {
      return kRpcEChangedMode;
    }
    const bool joined = world_.apartment == wanted;
    world_.apartment = wanted;
    ++world_.apartmentDepth;
    ++world_.initialisations;
    return joined ? kSFalse : kSOk;
  }

  void CoUninitialize() override {
    world_.events.push_back("CoUninitialize");
    ++world_.uninitialisations;
    if (world_.apartmentDepth <= 0) {
      ++world_.violations;
      return;
    }
    if (--world_.apartmentDepth == 0) {
      world_.apartment = FakeFirewallWorld::Apartment::kNone;
    }
  }

  HResult CoCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid,
                           void** object) override {
    *object = nullptr;
    world_.creations.push_back({clsid, context, iid});
    if (world_.ShouldFail("CoCreateInstance")) return world_.failCode;
    if (!InApartment()) return static_cast<HResult>(0x800401F0);  // CO_E_NOTINITIALIZED
    if (clsid == kClsidNetFwMgr) {
      if (!(iid == kIidINetFwMgr)) return kENoInterface;
      *object = static_cast<FwManager*>(world_.Make<FakeManager>());
      return kSOk;
    }
    if (clsid == kClsidNetFwAuthorizedApplication) {
      if (!(iid == kIidINetFwAuthorizedApplication)) return kENoInterface;
      *object = static_cast<FwAuthorizedApplication*>(
          world_.Make<FakeAuthorizedApplication>(std::nullopt));
      return kSOk;
    }
    return kClassNotRegistered;
  }

  HResult CoGetObject(const WideChar* name, const ElevationBindOptions& options, const Guid& iid,
                      void** object) override {
    *object = nullptr;
    world_.binds.push_back({name, options, iid});
    if (world_.ShouldFail("CoGetObject")) return world_.failCode;
    if (!InApartment()) return static_cast<HResult>(0x800401F0);
    if (Failed(world_.elevationResult)) return world_.elevationResult;
    if (!(iid == kIidINetFwMgr)) return kENoInterface;
    *object = static_cast<FwManager*>(world_.Make<FakeManager>());
    return kSOk;
  }

  Bstr SysAllocString(const WideChar* text) override {
    if (world_.ShouldFail("SysAllocString") || text == nullptr) return nullptr;
    const std::size_t length = std::char_traits<WideChar>::length(text);
    auto copy = std::make_unique<WideChar[]>(length + 1);
    std::char_traits<WideChar>::copy(copy.get(), text, length + 1);
    Bstr result = copy.get();
    world_.liveBstrs[result] = std::move(copy);
    ++world_.bstrsAllocated;
    return result;
  }

  void SysFreeString(Bstr text) override {
    world_.events.push_back("SysFreeString");
    if (text == nullptr) return;
    if (world_.liveBstrs.erase(text) == 0) ++world_.violations;
  }

  std::uint32_t SysStringLen(Bstr text) override {
    if (text == nullptr) return 0;
    if (!world_.IsLiveBstr(text)) {
      ++world_.violations;
      return 0;
    }
    return static_cast<std::uint32_t>(std::char_traits<WideChar>::length(text));
  }

 private:
  bool InApartment() const { return world_.apartment != FakeFirewallWorld::Apartment::kNone; }

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
