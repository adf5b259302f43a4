// Stateful doubles of the installer library's platform: an installer session, a
// registry with 32- and 64-bit views, a device tree with a driver store, services,
// files with version resources, processes and the system. Every call can be made to
// fail on demand, and every handle they give out is counted until it is closed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "installer/platform.h"

namespace orvel::installer::fakes {

inline Text Lower(TextView text) {
  Text result(text);
  for (auto& unit : result) {
    if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
  }
  return result;
}

inline Text Upper(TextView text) {
  Text result(text);
  for (auto& unit : result) {
    if (unit >= u'a' && unit <= u'z') unit = static_cast<char16_t>(unit - u'a' + u'A');
  }
  return result;
}

inline bool EqualNoCase(TextView a, TextView b) { return Lower(a) == Lower(b); }

inline std::vector<std::uint8_t> Bytes(TextView text, bool terminate = true) {
  Text copy(text);
  std::vector<std::uint8_t> bytes((copy.size() + (terminate ? 1 : 0)) * sizeof(char16_t), 0);
  std::memcpy(bytes.data(), copy.data(), copy.size() * sizeof(char16_t));
  return bytes;
}

inline std::vector<std::uint8_t> MultiSz(const std::vector<Text>& strings) {
  std::vector<std::uint8_t> bytes;
  for (const auto& s : strings) {
    auto part = Bytes(s);
    bytes.insert(bytes.end(), part.begin(), part.end());
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

inline Text FromBytes(const std::vector<std::uint8_t>& bytes) {
  Text text(bytes.size() / 2, u'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * 2);
  while (!text.empty() && text.back() == u'\0') text.pop_back();
  return text;
}

// Decides which calls fail. Calls are counted across all doubles of one world, in order.
class FaultPlan {
 public:
  // True when this call must fail.
  bool Fail(const char* call) {
    calls.emplace_back(call);
    if (failAt && calls.size() - 1 == *failAt) return true;
    return failing.count(call) != 0;
  }
  std::vector<std::string> calls;
  std::optional<std::size_t> failAt;
  std::set<std::string> failing;
};

class FakeSession : public InstallerSession {
 public:
  explicit FakeSession(FaultPlan& plan) : plan_(plan) {}

  std::uint32_t GetProperty(TextView name, char16_t* buffer, std::uint32_t* length) override {
    if (plan_.Fail("MsiGetProperty")) return kErrorInvalidParameter;
    const auto it = properties.find(Text(name));
    const Text value = it == properties.end() ? Text() : it->second;
    const std::uint32_t room = *length;
    *length = static_cast<std::uint32_t>(value.size());
    if (room <= value.size()) {
      if (room > 0) {
        std::copy_n(value.begin(), room - 1, buffer);
        buffer[room - 1] = u'\0';
      }
      return kErrorMoreData;
    }
    std::copy(value.begin(), value.end(), buffer);
    buffer[value.size()] = u'\0';
    return kErrorSuccess;
  }
  std::uint32_t SetProperty(TextView name, TextView value) override {
    if (plan_.Fail("MsiSetProperty")) return kErrorInvalidParameter;
    properties[Text(name)] = Text(value);
    return kErrorSuccess;
  }
  std::uint32_t DoAction(TextView action) override {
    if (plan_.Fail("MsiDoAction")) return kErrorInstallFailure;
    actions.emplace_back(action);
    return kErrorSuccess;
  }
  RecordHandle CreateRecord(std::uint32_t fields) override {
    if (plan_.Fail("MsiCreateRecord")) return {};
    const RecordHandle handle(next_++);
    records[handle] = std::vector<int>(fields + 1, 0);
    return handle;
  }
  std::uint32_t RecordSetInteger(RecordHandle record, std::uint32_t field, int value) override {
    if (plan_.Fail("MsiRecordSetInteger")) return kErrorInvalidParameter;
    auto it = records.find(record);
    if (it == records.end() || field >= it->second.size()) return kErrorInvalidParameter;
    it->second[field] = value;
    return kErrorSuccess;
  }
  std::uint32_t RecordSetString(RecordHandle record, std::uint32_t field, TextView value) override {
    if (plan_.Fail("MsiRecordSetString")) return kErrorInvalidParameter;
    if (!records.count(record)) return kErrorInvalidParameter;
    strings[{record, field}] = Text(value);
    return kErrorSuccess;
  }
  int ProcessMessage(std::uint32_t kind, RecordHandle record) override {
    if (plan_.Fail("MsiProcessMessage")) return -1;
    auto it = records.find(record);
    if (it == records.end()) return -1;
    if (kind == kInstallMessageInfo) {
      // Log lines: "[1]" as the template, the text in field 1.
      if (strings[{record, 0}] == u"[1]") log.push_back(strings[{record, 1}]);
      return 1;
    }
    messages.push_back({kind, it->second.size() > 1 ? it->second[1] : 0});
    return 1;
  }
  // The log lines that mention text.
  std::size_t Logged(TextView text) const {
    std::size_t count = 0;
    for (const Text& line : log) count += line.find(text) != Text::npos;
    return count;
  }
  std::uint32_t CloseHandle(RecordHandle handle) override {
    plan_.calls.emplace_back("MsiCloseHandle");
    std::erase_if(strings, [handle](const auto& entry) { return entry.first.first == handle; });
    return records.erase(handle) ? kErrorSuccess : kErrorInvalidParameter;
  }

  struct Message {
    std::uint32_t kind;
    int number;
    bool operator==(const Message&) const = default;
  };
  std::map<Text, Text> properties;
  std::vector<Text> actions;
  std::vector<Message> messages;
  std::vector<Text> log;
  std::map<RecordHandle, std::vector<int>> records;
  std::map<std::pair<RecordHandle, std::uint32_t>, Text> strings;

 private:
  FaultPlan& plan_;
  std::uintptr_t next_ = 100;
};

class FakeRegistry : public Registry {
 public:
  struct Value {
    std::uint32_t type = kRegSz;
    std::vector<std::uint8_t> data;
  };
  struct KeyData {
    std::vector<std::pair<Text, Value>> values;  // in creation order, as Windows enumerates
  };

  explicit FakeRegistry(FaultPlan& plan) : plan_(plan) {}

  // The physical location of a path in a view: the 32-bit view of Software lives under
  // Software\WOW6432Node, so an explicit WOW6432Node path in the 64-bit view reaches it too.
  static Text Physical(TextView path, RegView view) {
    Text lower = Lower(path);
    while (!lower.empty() && lower.back() == u'\\') lower.pop_back();
    const Text software = u"software";
    const bool underSoftware = lower == software || lower.rfind(software + u"\\", 0) == 0;
    const bool redirected = lower.rfind(u"software\\wow6432node", 0) == 0;
    if (view == RegView::k32 && underSoftware && !redirected) {
      lower.insert(software.size(), u"\\wow6432node");
    }
    return lower;
  }

  std::uint32_t CreateKey(TextView path, RegView view, RegAccess access, KeyHandle* key) override {
    if (plan_.Fail("RegCreateKeyEx")) return kErrorAccessDenied;
    const Text physical = Physical(path, view);
    for (std::size_t at = physical.find(u'\\'); at != Text::npos;
         at = physical.find(u'\\', at + 1)) {
      keys_[physical.substr(0, at)];
      names_.emplace(physical.substr(0, at), Text(path.substr(0, at)));
    }
    keys_[physical];
    names_.emplace(physical, Text(path));
    *key = Issue(physical, access);
    return kErrorSuccess;
  }
  std::uint32_t OpenKey(TextView path, RegView view, RegAccess access, KeyHandle* key) override {
    if (plan_.Fail("RegOpenKeyEx")) return kErrorAccessDenied;
    const Text physical = Physical(path, view);
    if (!keys_.count(physical)) return kErrorFileNotFound;
    *key = Issue(physical, access);
    return kErrorSuccess;
  }
  std::uint32_t QueryValue(KeyHandle key, TextView name, std::uint32_t* type, std::uint8_t* data,
                           std::uint32_t* size) override {
    if (plan_.Fail("RegQueryValueEx")) return kErrorAccessDenied;
    KeyData* k = Find(key);
    if (!k) return 6;
    const Value* v = FindValue(*k, name);
    if (!v) return kErrorFileNotFound;
    if (type) *type = v->type;
    const auto needed = static_cast<std::uint32_t>(v->data.size());
    if (data && size && *size < needed) {
      *size = needed;
      return kErrorMoreData;
    }
    if (data) std::copy(v->data.begin(), v->data.end(), data);
    if (size) *size = needed;
    return kErrorSuccess;
  }
  std::uint32_t SetValue(KeyHandle key, TextView name, std::uint32_t type, const std::uint8_t* data,
                         std::uint32_t size) override {
    if (plan_.Fail("RegSetValueEx")) return kErrorAccessDenied;
    KeyData* k = Find(key);
    if (!k) return 6;
    if (handles_[key].access != RegAccess::kReadWrite) return kErrorAccessDenied;
    Value value{type, std::vector<std::uint8_t>(data, data + size)};
    if (Value* existing = FindValue(*k, name)) {
      *existing = value;
    } else {
      k->values.emplace_back(Text(name), value);
    }
    return kErrorSuccess;
  }
  std::uint32_t DeleteValue(KeyHandle key, TextView name) override {
    if (plan_.Fail("RegDeleteValue")) return kErrorAccessDenied;
    KeyData* k = Find(key);
    if (!k) return 6;
    if (handles_[key].access != RegAccess::kReadWrite) return kErrorAccessDenied;
    auto it = std::find_if(k->values.begin(), k->values.end(),
                           [&](const auto& v) { return EqualNoCase(v.first, name); });
    if (it == k->values.end()) return kErrorFileNotFound;
    k->values.erase(it);
    return kErrorSuccess;
  }
  std::uint32_t EnumValue(KeyHandle key, std::uint32_t index, char16_t* name,
                          std::uint32_t* nameLength, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) override {
    if (plan_.Fail("RegEnumValue")) return kErrorAccessDenied;
    KeyData* k = Find(key);
    if (!k) return 6;
    if (index >= k->values.size()) return kErrorNoMoreItems;
    const auto& [valueName, value] = k->values[index];
    if (valueName.size() >= *nameLength) return kErrorMoreData;
    if (size && value.data.size() > *size) return kErrorMoreData;
    std::copy(valueName.begin(), valueName.end(), name);
    name[valueName.size()] = u'\0';
    *nameLength = static_cast<std::uint32_t>(valueName.size());
    if (type) *type = value.type;
    if (data) std::copy(value.data.begin(), value.data.end(), data);
    if (size) *size = static_cast<std::uint32_t>(value.data.size());
    return kErrorSuccess;
  }
  std::uint32_t QueryInfoKey(KeyHandle key, std::uint32_t* subKeys,
                             std::uint32_t* maxSubKeyLength) override {
    if (plan_.Fail("RegQueryInfoKey")) return kErrorAccessDenied;
    if (!Find(key)) return 6;
    const auto children = Children(handles_[key].path);
    *subKeys = static_cast<std::uint32_t>(children.size());
    std::size_t longest = 0;
    for (const auto& c : children) longest = std::max(longest, c.size());
    *maxSubKeyLength = static_cast<std::uint32_t>(longest);
    return kErrorSuccess;
  }
  std::uint32_t EnumKey(KeyHandle key, std::uint32_t index, char16_t* name,
                        std::uint32_t nameSize) override {
    if (plan_.Fail("RegEnumKey")) return kErrorAccessDenied;
    if (!Find(key)) return 6;
    const auto children = Children(handles_[key].path);
    if (index >= children.size()) return kErrorNoMoreItems;
    const Text& child = children[index];
    if (child.size() + 1 > nameSize) return kErrorMoreData;
    std::copy(child.begin(), child.end(), name);
    name[child.size()] = u'\0';
    return kErrorSuccess;
  }
  std::uint32_t CloseKey(KeyHandle key) override {
    plan_.calls.emplace_back("RegCloseKey");
    return handles_.erase(key) ? kErrorSuccess : 6;
  }

  // Test access, bypassing faults and handles.
  void SetString(TextView path, TextView name, TextView value, RegView view = RegView::k64) {
    SetRaw(path, name, {kRegSz, Bytes(value)}, view);
  }
  void SetDword(TextView path, TextView name, std::uint32_t data, RegView view = RegView::k64) {
    Value v{kRegDword, std::vector<std::uint8_t>(4)};
    std::memcpy(v.data.data(), &data, 4);
    SetRaw(path, name, v, view);
  }
  void SetRaw(TextView path, TextView name, Value value, RegView view = RegView::k64) {
    KeyHandle key;
    std::optional<std::size_t> saved = plan_.failAt;
    auto failing = plan_.failing;
    plan_.failAt.reset();
    plan_.failing.clear();
    CreateKey(path, view, RegAccess::kReadWrite, &key);
    SetValue(key, name, value.type, value.data.data(),
             static_cast<std::uint32_t>(value.data.size()));
    CloseKey(key);
    plan_.calls.resize(plan_.calls.size() - 3);
    plan_.failAt = saved;
    plan_.failing = failing;
  }
  std::optional<Value> Get(TextView path, TextView name, RegView view = RegView::k64) const {
    auto it = keys_.find(Physical(path, view));
    if (it == keys_.end()) return std::nullopt;
    for (const auto& [n, v] : it->second.values) {
      if (EqualNoCase(n, name)) return v;
    }
    return std::nullopt;
  }
  std::optional<Text> GetString(TextView path, TextView name, RegView view = RegView::k64) const {
    auto v = Get(path, name, view);
    if (!v) return std::nullopt;
    return FromBytes(v->data);
  }
  std::optional<std::uint32_t> GetDword(TextView path, TextView name,
                                        RegView view = RegView::k64) const {
    auto v = Get(path, name, view);
    if (!v || v->data.size() != 4) return std::nullopt;
    std::uint32_t d;
    std::memcpy(&d, v->data.data(), 4);
    return d;
  }
  bool KeyExists(TextView path, RegView view = RegView::k64) const {
    return keys_.count(Physical(path, view)) != 0;
  }
  void DeleteTree(TextView path, RegView view = RegView::k64) {
    const Text physical = Physical(path, view);
    for (auto it = keys_.begin(); it != keys_.end();) {
      if (it->first == physical || it->first.rfind(physical + u"\\", 0) == 0) {
        names_.erase(it->first);
        it = keys_.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::size_t ValueCount(TextView path, RegView view = RegView::k64) const {
    auto it = keys_.find(Physical(path, view));
    return it == keys_.end() ? 0 : it->second.values.size();
  }
  std::size_t OpenHandles() const { return handles_.size(); }

 private:
  struct Open {
    Text path;
    RegAccess access;
  };
  KeyHandle Issue(const Text& physical, RegAccess access) {
    const KeyHandle handle(next_++);
    handles_[handle] = Open{physical, access};
    return handle;
  }
  KeyData* Find(KeyHandle key) {
    auto h = handles_.find(key);
    if (h == handles_.end()) return nullptr;
    auto k = keys_.find(h->second.path);
    return k == keys_.end() ? nullptr : &k->second;
  }
  static Value* FindValue(KeyData& key, TextView name) {
    for (auto& [n, v] : key.values) {
      if (EqualNoCase(n, name)) return &v;
    }
    return nullptr;
  }
  std::vector<Text> Children(const Text& parent) const {
    std::vector<Text> children;
    const Text prefix = parent + u"\\";
    for (const auto& [path, data] : keys_) {
      if (path.rfind(prefix, 0) == 0 && path.find(u'\\', prefix.size()) == Text::npos) {
        const auto name = names_.find(path);
        const Text& shown = name == names_.end() ? path : name->second;
        children.push_back(shown.substr(shown.find_last_of(u'\\') + 1));
      }
    }
    return children;
  }

  FaultPlan& plan_;
  std::map<Text, KeyData> keys_;
  std::map<Text, Text> names_;  // physical path -> path as first written
  std::map<KeyHandle, Open> handles_;
  std::uintptr_t next_ = 0x1000;
};

class FakeFiles : public Files {
 public:
  struct File {
    std::optional<std::uint64_t> version;  // none: no version resource
    std::uint32_t attributes = 0x20;
    bool inUse = false;
    std::uint64_t index = 0;  // the file's own; a second name of it (Alias) shares it
  };
  explicit FakeFiles(FaultPlan& plan) : plan_(plan) {}

  std::uint32_t GetSystemDirectory(char16_t* buffer, std::uint32_t size) override {
    if (plan_.Fail("GetSystemDirectory")) return 0;
    if (systemDirectory.size() + 1 > size)
      return static_cast<std::uint32_t>(systemDirectory.size() + 1);
    std::copy(systemDirectory.begin(), systemDirectory.end(), buffer);
    buffer[systemDirectory.size()] = u'\0';
    return static_cast<std::uint32_t>(systemDirectory.size());
  }
  std::uint32_t GetSystemWow64Directory(char16_t* buffer, std::uint32_t size) override {
    if (plan_.Fail("GetSystemWow64Directory")) return 0;
    if (systemX86Directory.size() + 1 > size)
      return static_cast<std::uint32_t>(systemX86Directory.size() + 1);
    std::copy(systemX86Directory.begin(), systemX86Directory.end(), buffer);
    buffer[systemX86Directory.size()] = u'\0';
    return static_cast<std::uint32_t>(systemX86Directory.size());
  }
  std::uint32_t GetProgramFilesX86(char16_t* buffer) override {
    if (plan_.Fail("SHGetFolderPath")) return 0x80004005u;
    const std::size_t length = std::min<std::size_t>(programFilesX86.size(), kMaxPath - 1);
    std::copy_n(programFilesX86.begin(), length, buffer);
    buffer[length] = u'\0';
    return kErrorSuccess;
  }
  std::uint32_t GetFullPathName(TextView path, char16_t* buffer, std::uint32_t size) override {
    if (plan_.Fail("GetFullPathName")) return 0;
    if (path.empty()) return 0;
    if (path.size() + 1 > size) return static_cast<std::uint32_t>(path.size() + 1);
    std::copy(path.begin(), path.end(), buffer);
    buffer[path.size()] = u'\0';
    return static_cast<std::uint32_t>(path.size());
  }
  std::uint32_t GetShortPathName(TextView path, char16_t* buffer, std::uint32_t size) override {
    if (plan_.Fail("GetShortPathName")) return 0;
    if (!files.count(Lower(path))) return 0;
    const auto found = shortNames.find(Lower(path));
    const Text name = found == shortNames.end() ? Text(path) : found->second;
    if (name.size() + 1 > size) return static_cast<std::uint32_t>(name.size() + 1);
    std::copy(name.begin(), name.end(), buffer);
    buffer[name.size()] = u'\0';
    return static_cast<std::uint32_t>(name.size());
  }
  std::uint32_t GetFileAttributes(TextView path) override {
    if (plan_.Fail("GetFileAttributes")) return kInvalidFileAttributes;
    auto it = files.find(Lower(path));
    return it == files.end() ? kInvalidFileAttributes : it->second.attributes;
  }
  // Opens what the name holds (a link itself, a folder too), as the real call does.
  std::uint32_t OpenNoFollow(TextView path, FileHandle* file) override {
    if (plan_.Fail("CreateFile")) return kErrorAccessDenied;
    if (!files.count(Lower(path))) return kErrorFileNotFound;
    *file = FileHandle(next_++);
    handles_[*file] = {Lower(path), false};
    return kErrorSuccess;
  }
  std::uint32_t GetAttributes(FileHandle file, std::uint32_t* attributes) override {
    if (plan_.Fail("GetFileInformationByHandle")) return kErrorAccessDenied;
    auto it = Opened(file);
    if (it == files.end()) return 6;
    *attributes = it->second.attributes;
    return kErrorSuccess;
  }
  std::uint32_t OpenToIdentify(TextView path, FileHandle* file) override {
    if (plan_.Fail("CreateFile(FILE_READ_ATTRIBUTES)")) return kErrorAccessDenied;
    if (!files.count(Lower(path))) return kErrorFileNotFound;
    *file = FileHandle(next_++);
    handles_[*file] = {Lower(path), false};
    return kErrorSuccess;
  }
  std::uint32_t GetIdentity(FileHandle file, FileIdentity* identity) override {
    if (plan_.Fail("GetFileInformationByHandle(identity)")) return kErrorAccessDenied;
    auto it = Opened(file);
    if (it == files.end()) return 6;
    *identity = FileIdentity{volumeSerial, it->second.index};
    return kErrorSuccess;
  }
  std::uint32_t SetAttributes(FileHandle file, std::uint32_t attributes) override {
    if (plan_.Fail("SetFileInformationByHandle(FileBasicInfo)")) return kErrorAccessDenied;
    auto it = Opened(file);
    if (it == files.end()) return 6;
    it->second.attributes = attributes;
    return kErrorSuccess;
  }
  std::uint32_t DeleteOnClose(FileHandle file) override {
    if (plan_.Fail("SetFileInformationByHandle(FileDispositionInfo)")) return kErrorAccessDenied;
    auto it = Opened(file);
    if (it == files.end()) return 6;
    // A running image or a read-only file cannot be deleted.
    if (it->second.inUse || (it->second.attributes & kFileAttributeReadOnly) != 0) {
      return kErrorAccessDenied;
    }
    handles_[file].second = true;
    return kErrorSuccess;
  }
  std::uint32_t CloseHandle(FileHandle file) override {
    plan_.calls.emplace_back("CloseHandle");
    auto it = handles_.find(file);
    if (it == handles_.end()) return 6;
    if (it->second.second) files.erase(it->second.first);
    handles_.erase(it);
    return kErrorSuccess;
  }
  std::uint32_t MoveFileDelayUntilReboot(TextView path) override {
    if (plan_.Fail("MoveFileEx")) return kErrorAccessDenied;
    if (!files.count(Lower(path))) return kErrorFileNotFound;
    deleteAtReboot.insert(Lower(path));
    return kErrorSuccess;
  }
  std::uint32_t GetFileVersionInfoSize(TextView path) override {
    if (plan_.Fail("GetFileVersionInfoSize")) return 0;
    auto it = files.find(Lower(path));
    return it == files.end() || !it->second.version ? 0 : kBlockSize;
  }
  std::uint32_t GetFileVersionInfo(TextView path, std::uint32_t size,
                                   std::uint8_t* block) override {
    if (plan_.Fail("GetFileVersionInfo")) return kErrorAccessDenied;
    auto it = files.find(Lower(path));
    if (it == files.end() || !it->second.version) return 1813;
    if (size < kBlockSize) return kErrorInsufficientBuffer;
    std::memset(block, 0, size);
    std::memcpy(block, "VERS", 4);
    std::memcpy(block + 8, &*it->second.version, 8);
    return kErrorSuccess;
  }
  bool QueryFixedVersion(const std::uint8_t* block, std::uint32_t* ms, std::uint32_t* ls) override {
    if (plan_.Fail("VerQueryValue")) return false;
    if (std::memcmp(block, "VERS", 4) != 0) return false;
    std::uint64_t v;
    std::memcpy(&v, block + 8, 8);
    *ms = static_cast<std::uint32_t>(v >> 32);
    *ls = static_cast<std::uint32_t>(v);
    return true;
  }
  std::uint32_t InstallFile(TextView source, TextView target, std::uint32_t copyStyle,
                            bool* inUse) override {
    if (plan_.Fail("SetupInstallFileEx")) return kErrorAccessDenied;
    *inUse = false;
    auto src = files.find(Lower(source));
    if (src == files.end()) return kErrorFileNotFound;
    installCalls.push_back({Text(source), Text(target), copyStyle});
    auto dst = files.find(Lower(target));
    if (dst != files.end()) {
      if (dst->second.version.value_or(0) > src->second.version.value_or(0)) return kErrorSuccess;
      if (dst->second.inUse) {
        *inUse = true;
        replaceAtReboot.insert(Lower(target));
        return kErrorSuccess;
      }
    }
    File copy = src->second;
    copy.inUse = false;
    copy.index = ++lastIndex_;
    files[Lower(target)] = copy;
    return kErrorSuccess;
  }

  void Add(TextView path, std::optional<std::uint64_t> version = std::nullopt, bool inUse = false,
           std::uint32_t attributes = 0x20) {
    files[Lower(path)] = File{version, attributes, inUse, ++lastIndex_};
  }
  // Another name of a file that is there: a hard link, or its short name (which
  // GetShortPathName then answers when asked for the file's own).
  void Alias(TextView alias, TextView path, bool shortName = false) {
    files[Lower(alias)] = files.at(Lower(path));
    if (shortName) shortNames[Lower(path)] = Text(alias);
  }
  std::size_t OpenHandles() const { return handles_.size(); }
  bool Exists(TextView path) const { return files.count(Lower(path)) != 0; }

  struct InstallCall {
    Text source, target;
    std::uint32_t style;
  };
  static constexpr std::uint32_t kBlockSize = 64;
  Text systemDirectory = u"C:\\Windows\\system32";
  Text systemX86Directory = u"C:\\Windows\\SysWOW64";
  Text programFilesX86 = u"C:\\Program Files (x86)";
  std::uint32_t volumeSerial = 0x1CE5A11E;
  std::map<Text, File> files;
  std::map<Text, Text> shortNames;  // a file's path in lower case -> its short path
  std::set<Text> deleteAtReboot;
  std::set<Text> replaceAtReboot;
  std::vector<InstallCall> installCalls;

 private:
  std::map<Text, File>::iterator Opened(FileHandle file) {
    auto it = handles_.find(file);
    return it == handles_.end() ? files.end() : files.find(it->second.first);
  }
  FaultPlan& plan_;
  std::map<FileHandle, std::pair<Text, bool>> handles_;  // path, delete on close
  std::uintptr_t next_ = 0x7000;
  std::uint64_t lastIndex_ = 0x10000;
};

inline constexpr std::uint64_t Version(std::uint16_t a, std::uint16_t b, std::uint16_t c,
                                       std::uint16_t d) {
  return (std::uint64_t{a} << 48) | (std::uint64_t{b} << 32) | (std::uint64_t{c} << 16) | d;
}

class FakeDevices : public Devices {
 public:
  struct Device {
    std::uint32_t parent = 0;
    std::vector<std::uint32_t> children;
    Text enumerator;
    Text instanceId;
    std::vector<Text> hardwareIds;
    std::vector<Text> compatibleIds;
    std::optional<Text> service;
    Text driverKey;  // registry path of the driver key, empty when none
    bool present = true;
    bool removed = false;
    bool rebootOnRemove = false;
    bool refuseRemove = false;
    Guid classGuid;
    int reenumerations = 0;
  };
  struct Inf {
    Guid classGuid;
    Text className;
    Text service;
    bool rebootOnUpdate = false;
    bool updateFails = false;
  };

  FakeDevices(FaultPlan& plan, FakeRegistry& registry, FakeFiles& files)
      : plan_(plan), registry_(registry), files_(files) {
    Device root;
    root.enumerator = u"HTREE";
    root.instanceId = u"HTREE\\ROOT\\0";
    nodes[kRoot] = root;
  }

  static constexpr std::uint32_t kRoot = 1;

  std::uint32_t AddNode(std::uint32_t parent, TextView enumerator, TextView instanceId,
                        std::vector<Text> hardwareIds, std::optional<Text> service = std::nullopt,
                        bool present = true) {
    const std::uint32_t id = nextNode_++;
    Device d;
    d.parent = parent;
    d.enumerator = Text(enumerator);
    d.instanceId = Text(instanceId);
    d.hardwareIds = std::move(hardwareIds);
    d.service = std::move(service);
    d.present = present;
    nodes[id] = d;
    nodes[parent].children.push_back(id);
    return id;
  }
  // Gives a device a driver key whose "InfPath" names an installed package.
  void SetDriver(std::uint32_t node, TextView oemInf) {
    Device& d = nodes[node];
    d.driverKey =
        u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e96c}\\" + Text(1, u'0') + IdText(node);
    registry_.SetString(d.driverKey, u"InfPath", oemInf);
  }
  void AddInf(TextView path, Inf inf) {
    infs[Lower(path)] = inf;
    files_.Add(path);
  }
  std::vector<std::uint32_t> LiveNodes(TextView hardwareId) const {
    std::vector<std::uint32_t> found;
    for (const auto& [id, d] : nodes) {
      if (d.removed) continue;
      for (const auto& h : d.hardwareIds) {
        if (EqualNoCase(h, hardwareId)) {
          found.push_back(id);
          break;
        }
      }
    }
    return found;
  }

  DeviceSetHandle GetClassDevs(TextView enumerator, std::uint32_t flags) override {
    if (plan_.Fail("SetupDiGetClassDevs")) return {};
    std::vector<std::uint32_t> members;
    for (const auto& [id, d] : nodes) {
      if (id == kRoot || d.removed) continue;
      if (!EqualNoCase(d.enumerator, enumerator)) continue;
      if ((flags & kDigcfPresent) && !d.present) continue;
      members.push_back(id);
    }
    return NewSet(members);
  }
  DeviceSetHandle GetClassDevsEx(std::uint32_t flags) override {
    if (plan_.Fail("SetupDiGetClassDevsEx")) return {};
    std::vector<std::uint32_t> members;
    for (const auto& [id, d] : nodes) {
      if (id == kRoot || d.removed) continue;
      if ((flags & kDigcfPresent) && !d.present) continue;
      members.push_back(id);
    }
    return NewSet(members);
  }
  DeviceSetHandle CreateDeviceInfoList(const Guid&) override {
    if (plan_.Fail("SetupDiCreateDeviceInfoList")) return {};
    return NewSet({});
  }
  std::uint32_t DestroyDeviceInfoList(DeviceSetHandle set) override {
    plan_.calls.emplace_back("SetupDiDestroyDeviceInfoList");
    auto it = sets_.find(set);
    if (it == sets_.end()) return 6;
    // Elements that were never registered vanish with their set.
    for (auto id : it->second.members) {
      if (pending_.erase(id)) nodes.erase(id);
    }
    sets_.erase(it);
    return kErrorSuccess;
  }
  std::uint32_t EnumDeviceInfo(DeviceSetHandle set, std::uint32_t index,
                               DeviceInfo* device) override {
    if (plan_.Fail("SetupDiEnumDeviceInfo")) return kErrorInvalidParameter;
    auto it = sets_.find(set);
    if (it == sets_.end()) return 6;
    if (index >= it->second.members.size()) return kErrorNoMoreItems;
    device->devInst = it->second.members[index];
    device->classGuid = nodes[device->devInst].classGuid;
    return kErrorSuccess;
  }
  std::uint32_t GetDeviceRegistryProperty(DeviceSetHandle set, const DeviceInfo& device,
                                          std::uint32_t property, std::uint32_t* type,
                                          std::uint8_t* buffer, std::uint32_t size,
                                          std::uint32_t* required) override {
    if (plan_.Fail("SetupDiGetDeviceRegistryProperty")) return kErrorInvalidParameter;
    Device* d = Member(set, device);
    if (!d || d->removed) return kNoSuchDevinst;
    std::vector<std::uint8_t> data;
    std::uint32_t dataType = kRegMultiSz;
    if (property == kSpdrpHardwareId || property == kSpdrpCompatibleIds) {
      const auto& list = property == kSpdrpHardwareId ? d->hardwareIds : d->compatibleIds;
      if (list.empty()) return kErrorInvalidData;
      data = MultiSz(list);
    } else if (property == kSpdrpService) {
      if (!d->service) return kErrorInvalidData;
      data = Bytes(*d->service);
      dataType = kRegSz;
    } else {
      return kErrorInvalidData;
    }
    if (type) *type = dataType;
    if (required) *required = static_cast<std::uint32_t>(data.size());
    if (!buffer || size < data.size()) return kErrorInsufficientBuffer;
    std::copy(data.begin(), data.end(), buffer);
    return kErrorSuccess;
  }
  std::uint32_t SetDeviceRegistryProperty(DeviceSetHandle set, const DeviceInfo& device,
                                          std::uint32_t property, const std::uint8_t* buffer,
                                          std::uint32_t size) override {
    if (plan_.Fail("SetupDiSetDeviceRegistryProperty")) return kErrorInvalidParameter;
    Device* d = Member(set, device);
    if (!d || property != kSpdrpHardwareId) return kErrorInvalidParameter;
    lastHardwareIdBytes.assign(buffer, buffer + size);
    d->hardwareIds.clear();
    Text all(size / 2, u'\0');
    std::memcpy(all.data(), buffer, all.size() * 2);
    for (std::size_t at = 0; at < all.size() && all[at] != u'\0';) {
      const auto end = all.find(u'\0', at);
      d->hardwareIds.push_back(all.substr(at, end - at));
      at = end == Text::npos ? all.size() : end + 1;
    }
    return kErrorSuccess;
  }
  KeyHandle OpenDriverKey(DeviceSetHandle set, const DeviceInfo& device) override {
    if (plan_.Fail("SetupDiOpenDevRegKey")) return {};
    Device* d = Member(set, device);
    if (!d || d->removed || d->driverKey.empty()) return {};
    KeyHandle key;
    if (registry_.OpenKey(d->driverKey, RegView::k64, RegAccess::kRead, &key) != kErrorSuccess) {
      return {};
    }
    plan_.calls.pop_back();
    return key;
  }
  std::uint32_t CallClassInstaller(std::uint32_t function, DeviceSetHandle set,
                                   const DeviceInfo& device) override {
    if (plan_.Fail(function == kDifRemove ? "DIF_REMOVE" : "DIF_REGISTERDEVICE")) {
      return kErrorInvalidParameter;
    }
    Device* d = Member(set, device);
    if (!d || d->removed) return kNoSuchDevinst;
    if (function == kDifRegisterDevice) {
      if (!pending_.erase(device.devInst)) return kErrorInvalidParameter;
      d->parent = kRoot;
      d->present = true;
      nodes[kRoot].children.push_back(device.devInst);
      return kErrorSuccess;
    }
    if (function != kDifRemove || d->refuseRemove) return kErrorInvalidParameter;
    d->removed = true;
    if (!d->driverKey.empty()) registry_.DeleteTree(d->driverKey);
    auto& siblings = nodes[d->parent].children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), device.devInst), siblings.end());
    if (d->rebootOnRemove) sets_[set].flags[device.devInst] |= kDiNeedReboot;
    removedNodes.push_back(device.devInst);
    return kErrorSuccess;
  }
  std::uint32_t SetRemoveParams(DeviceSetHandle set, const DeviceInfo& device, std::uint32_t scope,
                                std::uint32_t hwProfile) override {
    if (plan_.Fail("SetupDiSetClassInstallParams")) return kErrorInvalidParameter;
    if (!Member(set, device) || scope != kDiRemoveDeviceGlobal || hwProfile != 0) {
      return kErrorInvalidParameter;
    }
    return kErrorSuccess;
  }
  std::uint32_t GetDeviceInstallFlags(DeviceSetHandle set, const DeviceInfo& device,
                                      std::uint32_t* flags) override {
    if (plan_.Fail("SetupDiGetDeviceInstallParams")) return kErrorInvalidParameter;
    if (!Member(set, device)) return kErrorInvalidParameter;
    *flags = sets_[set].flags[device.devInst];
    return kErrorSuccess;
  }
  std::uint32_t GetDeviceInfoListDetail(DeviceSetHandle set, MachineHandle* machine) override {
    if (plan_.Fail("SetupDiGetDeviceInfoListDetail")) return kErrorInvalidParameter;
    if (!sets_.count(set)) return 6;
    *machine = {};
    return kErrorSuccess;
  }
  std::uint32_t GetDeviceInstanceId(const DeviceInfo& device, MachineHandle, char16_t* buffer,
                                    std::uint32_t size) override {
    if (plan_.Fail("CM_Get_Device_ID_Ex")) return kCrFailure;
    auto it = nodes.find(device.devInst);
    if (it == nodes.end() || it->second.removed) return kCrNoSuchDevnode;
    const Text& id = it->second.instanceId;
    if (id.size() + 1 > size) return kCrBufferSmall;
    std::copy(id.begin(), id.end(), buffer);
    buffer[id.size()] = u'\0';
    return kCrSuccess;
  }
  std::uint32_t CreateDeviceInfo(DeviceSetHandle set, TextView name, const Guid& classGuid,
                                 std::uint32_t flags, DeviceInfo* device) override {
    if (plan_.Fail("SetupDiCreateDeviceInfo")) return kErrorInvalidParameter;
    auto it = sets_.find(set);
    if (it == sets_.end() || !(flags & kDicdGenerateId)) return kErrorInvalidParameter;
    const std::uint32_t id = nextNode_++;
    Device d;
    d.enumerator = u"ROOT";
    d.instanceId = u"ROOT\\" + Upper(name) + u"\\" + Text(4 - IdText(rootCount_).size(), u'0') +
                   IdText(rootCount_);
    ++rootCount_;
    d.classGuid = classGuid;
    nodes[id] = d;
    pending_.insert(id);
    it->second.members.push_back(id);
    device->devInst = id;
    device->classGuid = classGuid;
    return kErrorSuccess;
  }
  std::uint32_t GetInfClass(TextView inf, Guid* classGuid, char16_t* className, std::uint32_t size,
                            std::uint32_t* required) override {
    if (plan_.Fail("SetupDiGetINFClass")) return kErrorInvalidParameter;
    auto it = infs.find(Lower(inf));
    if (it == infs.end() || !files_.Exists(inf)) return kErrorFileNotFound;
    const Text& name = it->second.className;
    if (required) *required = static_cast<std::uint32_t>(name.size() + 1);
    if (name.size() + 1 > size) return kErrorInsufficientBuffer;
    std::copy(name.begin(), name.end(), className);
    className[name.size()] = u'\0';
    *classGuid = it->second.classGuid;
    return kErrorSuccess;
  }
  std::uint32_t LocateRootNode(std::uint32_t* node) override {
    if (plan_.Fail("CM_Locate_DevNode")) return kCrFailure;
    *node = kRoot;
    return kCrSuccess;
  }
  std::uint32_t GetEnumeratorName(std::uint32_t node, std::uint8_t* buffer,
                                  std::uint32_t* size) override {
    if (plan_.Fail("CM_Get_DevNode_Registry_Property")) return kCrFailure;
    auto it = nodes.find(node);
    if (it == nodes.end() || it->second.removed) return kCrNoSuchDevnode;
    const auto bytes = Bytes(it->second.enumerator);
    if (bytes.size() > *size) {
      *size = static_cast<std::uint32_t>(bytes.size());
      return kCrBufferSmall;
    }
    std::copy(bytes.begin(), bytes.end(), buffer);
    *size = static_cast<std::uint32_t>(bytes.size());
    return kCrSuccess;
  }
  std::uint32_t Reenumerate(std::uint32_t node, std::uint32_t) override {
    if (plan_.Fail("CM_Reenumerate_DevNode")) return kCrFailure;
    auto it = nodes.find(node);
    if (it == nodes.end()) return kCrNoSuchDevnode;
    ++it->second.reenumerations;
    return kCrSuccess;
  }
  std::uint32_t GetChild(std::uint32_t* child, std::uint32_t node) override {
    if (plan_.Fail("CM_Get_Child")) return kCrFailure;
    auto it = nodes.find(node);
    if (it == nodes.end() || it->second.children.empty()) return kCrNoSuchDevnode;
    *child = it->second.children.front();
    return kCrSuccess;
  }
  std::uint32_t GetSibling(std::uint32_t* sibling, std::uint32_t node) override {
    if (plan_.Fail("CM_Get_Sibling")) return kCrFailure;
    auto it = nodes.find(node);
    if (it == nodes.end() || node == kRoot) return kCrNoSuchDevnode;
    const auto& siblings = nodes[it->second.parent].children;
    auto at = std::find(siblings.begin(), siblings.end(), node);
    if (at == siblings.end() || ++at == siblings.end()) return kCrNoSuchDevnode;
    *sibling = *at;
    return kCrSuccess;
  }
  std::uint32_t GetParent(std::uint32_t* parent, std::uint32_t node) override {
    if (plan_.Fail("CM_Get_Parent")) return kCrFailure;
    auto it = nodes.find(node);
    if (it == nodes.end() || node == kRoot) return kCrNoSuchDevnode;
    *parent = it->second.parent;
    return kCrSuccess;
  }
  std::uint32_t GetNodeStatus(std::uint32_t node, std::uint32_t* status,
                              std::uint32_t* problem) override {
    if (plan_.Fail("CM_Get_DevNode_Status")) return kCrFailure;
    auto it = nodes.find(node);
    if (it == nodes.end() || it->second.removed || !it->second.present) return kCrNoSuchDevnode;
    *status = 0x0180200A;
    *problem = 0;
    return kCrSuccess;
  }
  std::uint32_t CopyOemInf(TextView inf, TextView sourcePath, std::uint32_t mediaType,
                           std::uint32_t copyStyle, char16_t* destination, std::uint32_t size,
                           std::uint32_t* required) override {
    if (plan_.Fail("SetupCopyOEMInf")) return kErrorAccessDenied;
    if (mediaType != kSpostPath || copyStyle != 0 || sourcePath.empty()) {
      return kErrorInvalidParameter;
    }
    if (!infs.count(Lower(inf)) || !files_.Exists(inf)) return kErrorFileNotFound;
    const Text full = u"C:\\Windows\\INF\\" + Stage(inf);
    if (required) *required = static_cast<std::uint32_t>(full.size() + 1);
    if (full.size() + 1 > size) return kErrorInsufficientBuffer;
    std::copy(full.begin(), full.end(), destination);
    destination[full.size()] = u'\0';
    return kErrorSuccess;
  }
  std::uint32_t UninstallOemInf(TextView infFileName, std::uint32_t flags) override {
    if (plan_.Fail("SetupUninstallOEMInf")) return kErrorAccessDenied;
    uninstallCalls.emplace_back(infFileName);
    if (!(flags & kSuoiForceDelete)) return kErrorInvalidParameter;
    return store.erase(Lower(infFileName)) ? kErrorSuccess : kErrorFileNotFound;
  }
  std::uint32_t UpdateDriver(TextView hardwareId, TextView inf, std::uint32_t flags,
                             bool* reboot) override {
    if (plan_.Fail("UpdateDriverForPlugAndPlayDevices")) return kErrorGenFailure;
    return Update(hardwareId, inf, flags, reboot);
  }
  ModuleHandle LoadLibrary(TextView name) override {
    if (plan_.Fail("LoadLibrary")) return {};
    if (!EqualNoCase(name, u"newdev.dll")) return {};
    ++loadedLibraries;
    return kNewdev;
  }
  std::uintptr_t GetProcAddress(ModuleHandle module, const char* name) override {
    if (plan_.Fail("GetProcAddress")) return 0;
    if (module != kNewdev || std::string(name) != "UpdateDriverForPlugAndPlayDevicesW") return 0;
    return 0x7701;
  }
  std::uint32_t FreeLibrary(ModuleHandle module) override {
    plan_.calls.emplace_back("FreeLibrary");
    if (module != kNewdev || loadedLibraries == 0) return 6;
    --loadedLibraries;
    return kErrorSuccess;
  }
  std::uint32_t UpdateDriverThrough(std::uintptr_t proc, TextView hardwareId, TextView inf,
                                    std::uint32_t flags, bool* reboot) override {
    if (plan_.Fail("UpdateDriverForPlugAndPlayDevices")) return kErrorGenFailure;
    if (proc != 0x7701) return kErrorInvalidParameter;
    return Update(hardwareId, inf, flags, reboot);
  }

  std::size_t OpenSets() const { return sets_.size(); }
  std::size_t PendingElements() const { return pending_.size(); }

  static constexpr ModuleHandle kNewdev{0x7700};
  static constexpr std::uint32_t kNoSuchDevinst = 0xE000020B;
  static constexpr std::uint32_t kErrorInvalidData = 13;
  std::map<std::uint32_t, Device> nodes;
  std::map<Text, Inf> infs;    // lower-cased INF path -> what it installs
  std::map<Text, Text> store;  // lower-cased oemNN.inf -> lower-cased INF it came from
  std::vector<Text> uninstallCalls;
  std::vector<std::uint32_t> removedNodes;
  std::vector<std::uint8_t> lastHardwareIdBytes;
  int loadedLibraries = 0;
  int nextOem = 12;
  int updates = 0;

 private:
  struct Set {
    std::vector<std::uint32_t> members;
    std::map<std::uint32_t, std::uint32_t> flags;
  };
  static Text IdText(std::uint32_t n) {
    Text t;
    do {
      t.insert(t.begin(), static_cast<char16_t>(u'0' + n % 10));
      n /= 10;
    } while (n);
    return t;
  }
  DeviceSetHandle NewSet(std::vector<std::uint32_t> members) {
    const DeviceSetHandle h(nextSet_++);
    sets_[h].members = std::move(members);
    return h;
  }
  Device* Member(DeviceSetHandle set, const DeviceInfo& device) {
    auto it = sets_.find(set);
    if (it == sets_.end()) return nullptr;
    const auto& m = it->second.members;
    if (std::find(m.begin(), m.end(), device.devInst) == m.end()) return nullptr;
    auto d = nodes.find(device.devInst);
    return d == nodes.end() ? nullptr : &d->second;
  }
  Text Stage(TextView inf) {
    for (const auto& [oem, source] : store) {
      if (source == Lower(inf)) return oem;
    }
    const Text oem = u"oem" + IdText(static_cast<std::uint32_t>(nextOem++)) + u".inf";
    store[oem] = Lower(inf);
    return oem;
  }
  std::uint32_t Update(TextView hardwareId, TextView inf, std::uint32_t flags, bool* reboot) {
    auto it = infs.find(Lower(inf));
    if (it == infs.end() || !files_.Exists(inf)) return kErrorFileNotFound;
    if (!(flags & kInstallFlagForce)) return kErrorInvalidParameter;
    if (it->second.updateFails) return kErrorGenFailure;
    bool any = false;
    for (auto id : LiveNodes(hardwareId)) {
      if (!nodes[id].present) continue;
      any = true;
      SetDriver(id, Stage(inf));
      nodes[id].service = it->second.service;
    }
    if (!any) return kNoSuchDevinst;
    ++updates;
    if (reboot) *reboot = it->second.rebootOnUpdate;
    return kErrorSuccess;
  }

  FaultPlan& plan_;
  FakeRegistry& registry_;
  FakeFiles& files_;
  std::map<DeviceSetHandle, Set> sets_;
  std::set<std::uint32_t> pending_;
  std::uint32_t nextNode_ = 2;
  std::uint32_t rootCount_ = 0;
  std::uintptr_t nextSet_ = 0x5000;
};

class FakeServices : public Services {
 public:
  struct Service {
    bool running = false;
    bool markedForDelete = false;
    bool refusesStop = false;
  };
  explicit FakeServices(FaultPlan& plan) : plan_(plan) {}

  ServiceHandle OpenManager() override {
    if (plan_.Fail("OpenSCManager")) return {};
    const ServiceHandle h(next_++);
    open_[h] = Text();
    return h;
  }
  ServiceHandle OpenService(ServiceHandle manager, TextView name, std::uint32_t access) override {
    if (plan_.Fail("OpenService")) return {};
    if (!open_.count(manager) || !open_[manager].empty()) return {};
    auto it = services.find(Lower(name));
    if (it == services.end()) return {};
    const ServiceHandle h(next_++);
    open_[h] = Lower(name);
    access_[h] = access;
    return h;
  }
  std::uint32_t ChangeConfigNoChange(ServiceHandle service) override {
    if (plan_.Fail("ChangeServiceConfig")) return kErrorAccessDenied;
    Service* s = Find(service, kServiceChangeConfig);
    if (!s) return kErrorAccessDenied;
    return s->markedForDelete ? kErrorServiceMarkedForDelete : kErrorSuccess;
  }
  std::uint32_t ControlStop(ServiceHandle service) override {
    if (plan_.Fail("ControlService")) return kErrorAccessDenied;
    Service* s = Find(service, kServiceStop);
    if (!s) return kErrorAccessDenied;
    if (s->refusesStop) return kErrorInvalidServiceControl;
    if (!s->running) return kErrorServiceNotActive;
    s->running = false;
    return kErrorSuccess;
  }
  std::uint32_t DeleteService(ServiceHandle service) override {
    if (plan_.Fail("DeleteService")) return kErrorAccessDenied;
    Service* s = Find(service, 0x00010000);
    if (!s) return kErrorAccessDenied;
    if (s->markedForDelete) return kErrorServiceMarkedForDelete;
    s->markedForDelete = true;
    return kErrorSuccess;
  }
  std::uint32_t CloseServiceHandle(ServiceHandle handle) override {
    plan_.calls.emplace_back("CloseServiceHandle");
    auto it = open_.find(handle);
    if (it == open_.end()) return 6;
    const Text name = it->second;
    open_.erase(it);
    access_.erase(handle);
    // A service marked for deletion goes once its last handle is closed; one that is still
    // running (refusing the stop) stays marked until the restart.
    auto s = services.find(name);
    if (!name.empty() && s != services.end() && s->second.markedForDelete && !s->second.running &&
        !s->second.refusesStop) {
      bool stillOpen = false;
      for (const auto& [h, n] : open_) stillOpen = stillOpen || n == name;
      if (!stillOpen) services.erase(s);
    }
    return kErrorSuccess;
  }

  void Add(TextView name) { services[Lower(name)] = Service{false, false, false}; }
  void Add(TextView name, Service service) { services[Lower(name)] = service; }
  bool Exists(TextView name) const { return services.count(Lower(name)) != 0; }
  std::size_t OpenHandles() const { return open_.size(); }
  std::map<Text, Service> services;

 private:
  Service* Find(ServiceHandle h, std::uint32_t right) {
    auto it = open_.find(h);
    if (it == open_.end() || it->second.empty()) return nullptr;
    if (right && !(access_[h] & right)) return nullptr;
    auto s = services.find(it->second);
    return s == services.end() ? nullptr : &s->second;
  }
  FaultPlan& plan_;
  std::map<ServiceHandle, Text> open_;
  std::map<ServiceHandle, std::uint32_t> access_;
  std::uintptr_t next_ = 0x3000;
};

class FakeProcesses : public Processes {
 public:
  struct Process {
    std::uint32_t id;
    Text image;
    bool alive = true;
    bool protectedFromTerminate = false;
    std::uint32_t exitCode = 0;
    Text folder = u"C:\\Windows\\system32";  // where its program file lies
  };
  explicit FakeProcesses(FaultPlan& plan) : plan_(plan) {}

  SnapshotHandle CreateSnapshot() override {
    if (plan_.Fail("CreateToolhelp32Snapshot")) return {};
    const SnapshotHandle h(next_++);
    std::vector<Process> alive;
    for (const auto& p : processes) {
      if (p.alive) alive.push_back(p);
    }
    snapshots_[h] = {alive, 0};
    // The machine moves on once the list is taken: processes end, IDs are given again.
    if (afterSnapshot) processes = *std::exchange(afterSnapshot, std::nullopt);
    return h;
  }
  std::uint32_t First(SnapshotHandle snapshot, ProcessEntry* entry) override {
    if (plan_.Fail("Process32First")) return kErrorNoMoreFiles;
    auto it = snapshots_.find(snapshot);
    if (it == snapshots_.end()) return 6;
    it->second.second = 0;
    return Fill(it->second, entry);
  }
  std::uint32_t Next(SnapshotHandle snapshot, ProcessEntry* entry) override {
    if (plan_.Fail("Process32Next")) return kErrorAccessDenied;
    auto it = snapshots_.find(snapshot);
    if (it == snapshots_.end()) return 6;
    ++it->second.second;
    return Fill(it->second, entry);
  }
  ProcessHandle OpenForTerminate(std::uint32_t processId) override {
    if (plan_.Fail("OpenProcess")) return {};
    for (const auto& p : processes) {
      if (p.id == processId && p.alive && !p.protectedFromTerminate) {
        const ProcessHandle h(next_++);
        handles_[h] = processId;
        return h;
      }
    }
    return {};
  }
  std::uint32_t QueryImageName(ProcessHandle process, char16_t* buffer,
                               std::uint32_t* size) override {
    if (plan_.Fail("QueryFullProcessImageName")) return kErrorAccessDenied;
    auto it = handles_.find(process);
    if (it == handles_.end()) return 6;
    for (const auto& p : processes) {
      if (p.id != it->second) continue;
      const Text path = p.folder + u"\\" + p.image;
      if (path.size() + 1 > *size) return kErrorInsufficientBuffer;
      std::copy(path.begin(), path.end(), buffer);
      buffer[path.size()] = u'\0';
      *size = static_cast<std::uint32_t>(path.size());
      return kErrorSuccess;
    }
    return kErrorInvalidParameter;
  }
  std::uint32_t Terminate(ProcessHandle process, std::uint32_t exitCode) override {
    if (plan_.Fail("TerminateProcess")) return kErrorAccessDenied;
    auto it = handles_.find(process);
    if (it == handles_.end()) return 6;
    for (auto& p : processes) {
      if (p.id == it->second) {
        p.alive = false;
        p.exitCode = exitCode;
      }
    }
    return kErrorSuccess;
  }
  std::uint32_t CloseHandle(SnapshotHandle snapshot) override {
    plan_.calls.emplace_back("CloseHandle");
    return snapshots_.erase(snapshot) ? kErrorSuccess : 6;
  }
  std::uint32_t CloseHandle(ProcessHandle process) override {
    plan_.calls.emplace_back("CloseHandle");
    return handles_.erase(process) ? kErrorSuccess : 6;
  }
  std::size_t OpenHandles() const { return snapshots_.size() + handles_.size(); }
  std::vector<Process> processes;
  std::optional<std::vector<Process>> afterSnapshot;

 private:
  static std::uint32_t Fill(const std::pair<std::vector<Process>, std::size_t>& snap,
                            ProcessEntry* entry) {
    if (snap.second >= snap.first.size()) return kErrorNoMoreFiles;
    const Process& p = snap.first[snap.second];
    *entry = ProcessEntry{};
    entry->processId = p.id;
    std::copy_n(p.image.begin(), std::min(p.image.size(), kMaxPath - 1), entry->exeFile);
    return kErrorSuccess;
  }
  FaultPlan& plan_;
  std::map<SnapshotHandle, std::pair<std::vector<Process>, std::size_t>> snapshots_;
  std::map<ProcessHandle, std::uint32_t> handles_;
  std::uintptr_t next_ = 0x9000;
};

class FakeSystem : public System {
 public:
  explicit FakeSystem(FaultPlan& plan) : plan_(plan) {}
  bool VerifyVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t third,
                     VersionField field) override {
    if (plan_.Fail("VerifyVersionInfo")) return false;
    const std::uint32_t own = field == VersionField::kBuildNumber ? build : servicePackMajor;
    if (this->major != major) return this->major > major;
    if (this->minor != minor) return this->minor > minor;
    return own >= third;
  }
  std::uint16_t NativeProcessorArchitecture() override {
    plan_.calls.emplace_back("GetNativeSystemInfo");
    return architecture;
  }
  void UpperCase(Text& text) override { text = Upper(text); }
  bool IsUserInAdministratorsGroup() override {
    if (plan_.Fail("IsUserInAdministratorsGroup")) return false;
    return administrator;
  }
  std::uint32_t major = 10, minor = 0, build = 19045, servicePackMajor = 0;
  std::uint16_t architecture = 9;
  bool administrator = true;

 private:
  FaultPlan& plan_;
};

// One machine: all doubles wired together.
struct FakeWorld {
  FaultPlan plan;
  FakeSession session{plan};
  FakeRegistry registry{plan};
  FakeFiles files{plan};
  FakeDevices devices{plan, registry, files};
  FakeServices services{plan};
  FakeProcesses processes{plan};
  FakeSystem system{plan};
  Platform platform{session, registry, devices, services, files, processes, system};

  // Everything handed out has been given back.
  std::size_t OpenHandles() const {
    return session.records.size() + registry.OpenHandles() + devices.OpenSets() +
           services.OpenHandles() + processes.OpenHandles() + files.OpenHandles() +
           static_cast<std::size_t>(devices.loadedLibraries);
  }
};

}  // namespace orvel::installer::fakes
