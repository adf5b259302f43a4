#include "installer/common.h"

#include <cstring>
#include <vector>

namespace orvel::installer {

Key CreateKey(Registry& registry, TextView path, RegView view, RegAccess access) {
  KeyHandle key;
  if (registry.CreateKey(path, view, access, &key) != kErrorSuccess) return {};
  return Key(key, registry);
}

Key OpenKey(Registry& registry, TextView path, RegView view, RegAccess access) {
  KeyHandle key;
  if (registry.OpenKey(path, view, access, &key) != kErrorSuccess) return {};
  return Key(key, registry);
}

std::optional<Text> ReadString(Registry& registry, KeyHandle key, TextView name,
                               std::uint32_t maxBytes) {
  std::vector<std::uint8_t> data(maxBytes, 0);
  std::uint32_t size = maxBytes;
  std::uint32_t type = 0;
  if (registry.QueryValue(key, name, &type, data.data(), &size) != kErrorSuccess) {
    return std::nullopt;
  }
  if (type != kRegSz) return std::nullopt;
  return TextFromBytes(data.data(), size < maxBytes ? size : maxBytes);
}

std::uint32_t WriteString(Registry& registry, KeyHandle key, TextView name, TextView value) {
  Text terminated(value);
  const auto size = static_cast<std::uint32_t>((terminated.size() + 1) * sizeof(char16_t));
  return registry.SetValue(key, name, kRegSz,
                           reinterpret_cast<const std::uint8_t*>(terminated.c_str()), size);
}

std::uint32_t WriteDword(Registry& registry, KeyHandle key, TextView name, std::uint32_t value) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &value, sizeof bytes);
  return registry.SetValue(key, name, kRegDword, bytes, sizeof bytes);
}

Text TextFromUnits(const char16_t* units, std::size_t count) {
  std::size_t length = 0;
  while (length < count && units[length] != u'\0') ++length;
  return Text(units, length);
}

Text TextFromBytes(const std::uint8_t* bytes, std::size_t size) {
  Text text(size / sizeof(char16_t), u'\0');
  std::memcpy(text.data(), bytes, text.size() * sizeof(char16_t));
  return TextFromUnits(text.data(), text.size());
}

Text IndexedName(TextView prefix, std::uint32_t index) {
  Text digits;
  for (std::uint32_t rest = index; rest != 0 || digits.size() < 4; rest /= 10) {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + rest % 10));
  }
  return Text(prefix) + digits;
}

Text RemoveBackslash(TextView path) {
  Text result(path);
  // A drive root keeps its backslash, as the shell function does.
  if (result.size() > 1 && result.back() == u'\\' && !(result.size() == 3 && result[1] == u':')) {
    result.pop_back();
  }
  return result;
}

Text FolderOf(TextView path) {
  const auto slash = path.find_last_of(u'\\');
  if (slash == TextView::npos) return Text();
  if (slash == 2 && path.size() > 1 && path[1] == u':') return Text(path.substr(0, 3));
  return Text(path.substr(0, slash));
}

Text FindFileName(TextView path) {
  const auto slash = path.find_last_of(u"\\:");
  return Text(slash == TextView::npos ? path : path.substr(slash + 1));
}

std::optional<Text> JoinPath(TextView folder, TextView name) {
  Text joined(folder);
  joined += u'\\';
  joined += name;
  if (joined.size() >= kMaxPath) return std::nullopt;
  return joined;
}

namespace {
template <class Query>
std::optional<Text> FolderFrom(Query query) {
  char16_t buffer[kMaxPath] = {};
  const std::uint32_t length = query(buffer, static_cast<std::uint32_t>(kMaxPath));
  if (length == 0 || length >= kMaxPath) return std::nullopt;
  return RemoveBackslash(TextFromUnits(buffer, length));
}
}  // namespace

std::optional<Text> SystemDirectory(Files& files) {
  return FolderFrom([&](char16_t* b, std::uint32_t n) { return files.GetSystemDirectory(b, n); });
}

std::optional<Text> SystemX86Directory(Files& files) {
  return FolderFrom(
      [&](char16_t* b, std::uint32_t n) { return files.GetSystemWow64Directory(b, n); });
}

bool RequestReboot(Platform& platform) {
  Registry& registry = platform.registry;
  {
    Key integrated =
        CreateKey(registry, kIntegratedInstallerKey, RegView::k32, RegAccess::kReadWrite);
    if (!integrated) return false;
    if (WriteDword(registry, integrated.get(), kRebootRequestValue, 0) != kErrorSuccess) {
      return false;
    }
  }
  Key installer = CreateKey(registry, kInstallerKey, RegView::kDefault, RegAccess::kReadWrite);
  if (!installer) return false;
  return WriteDword(registry, installer.get(), kRebootRequestValue, 0) == kErrorSuccess;
}

void Log(InstallerSession& session, TextView text) {
  Record record(session.CreateRecord(1), session);
  if (!record) return;
  // The text goes in a field of its own, so that brackets in a path are not formatted.
  session.RecordSetString(record.get(), 0, u"[1]");
  session.RecordSetString(record.get(), 1, Text(u"vorvel_custom_action64: ") + Text(text));
  session.ProcessMessage(kInstallMessageInfo, record.get());
}

Text Decimal(std::uint32_t value) {
  Text digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

void PostInstallerMessage(InstallerSession& session, std::uint32_t kind, std::uint32_t number) {
  Record record(session.CreateRecord(1), session);
  if (!record) return;
  session.RecordSetInteger(record.get(), 1, static_cast<int>(number));
  session.ProcessMessage(kind, record.get());
}

NameHolds OpenNoFollow(Files& files, TextView path) {
  NameHolds holds;
  FileHandle raw;
  holds.status = files.OpenNoFollow(path, &raw);
  if (holds.status != kErrorSuccess) return holds;
  holds.file = File(raw, files);
  holds.status = files.GetAttributes(raw, &holds.attributes);
  return holds;
}

void DeleteFileNowOrAtRestart(Platform& platform, TextView action, const Text& path) {
  Files& files = platform.files;
  NameHolds holds = OpenNoFollow(files, path);
  if (holds.status == kErrorFileNotFound || holds.status == kErrorPathNotFound) return;
  if (holds.status != kErrorSuccess) {
    Log(platform.session,
        Text(action) + u": " + path + u" cannot be opened; error " + Decimal(holds.status));
    return;
  }
  // Only what the name itself holds is deleted, and only when it is a plain file: a link
  // put there would otherwise hand this deletion on to whatever it points at.
  if ((holds.attributes & (kFileAttributeDirectory | kFileAttributeReparsePoint)) != 0) {
    Log(platform.session, Text(action) + u": " + path + u" is not a plain file; left alone");
    return;
  }
  if ((holds.attributes & kFileAttributeReadOnly) != 0) {
    files.SetAttributes(holds.file.get(), kFileAttributeNormal);
  }
  const auto status = files.DeleteOnClose(holds.file.get());
  holds.file.reset();
  if (status != kErrorSuccess) {
    Log(platform.session,
        Text(action) + u": deleting " + path + u" failed with error " + Decimal(status));
  }
  if (status == kErrorAccessDenied && files.MoveFileDelayUntilReboot(path) == kErrorSuccess) {
    Log(platform.session, Text(action) + u": " + path + u" goes at the restart; restart requested");
    RequestReboot(platform);
  }
}

void RecordOemInf(Platform& platform, TextView name) {
  Registry& registry = platform.registry;
  Key key = CreateKey(registry, kInstallerKey, RegView::kDefault, RegAccess::kReadWrite);
  if (!key) return;
  // Only a value that is surely absent is taken: a failed probe must not overwrite a record.
  for (std::uint32_t index = 0; index <= 9999; ++index) {
    const Text valueName = IndexedName(kOemInfValuePrefix, index);
    std::uint32_t size = 0;
    const auto status = registry.QueryValue(key.get(), valueName, nullptr, nullptr, &size);
    if (status == kErrorFileNotFound) {
      WriteString(registry, key.get(), valueName, name);
      return;
    }
  }
}

void RemoveRecordedOemInfs(Platform& platform) {
  Registry& registry = platform.registry;
  Key key = OpenKey(registry, kInstallerKey, RegView::kDefault, RegAccess::kReadWrite);
  if (!key) return;
  constexpr std::uint32_t kNameUnits = 19;
  constexpr std::uint32_t kDataBytes = 520;
  for (std::uint32_t index = 0;; ++index) {
    char16_t name[kNameUnits] = {};
    std::uint8_t data[kDataBytes] = {};
    std::uint32_t nameLength = kNameUnits;
    std::uint32_t size = kDataBytes;
    std::uint32_t type = 0;
    if (registry.EnumValue(key.get(), index, name, &nameLength, &type, data, &size) !=
        kErrorSuccess) {
      break;
    }
    const Text valueName = TextFromUnits(name, nameLength < kNameUnits ? nameLength : kNameUnits);
    if (valueName.find(kOemInfValuePrefix) == Text::npos) continue;
    const Text inf = TextFromBytes(data, size < kDataBytes ? size : kDataBytes);
    if (!inf.empty()) platform.devices.UninstallOemInf(inf, kSuoiForceDelete);
    WriteString(registry, key.get(), valueName, u"");
  }
  for (std::uint32_t index = 0;; ++index) {
    if (registry.DeleteValue(key.get(), IndexedName(kOemInfValuePrefix, index)) != kErrorSuccess) {
      break;
    }
  }
}

bool ScheduleRepairAfterReboot(Platform& platform, TextView infPath) {
  InstallerSession& session = platform.session;
  char16_t empty[1] = {u'\0'};
  std::uint32_t length = 0;
  if (session.GetProperty(u"ProductCode", empty, &length) != kErrorMoreData) return false;
  std::vector<char16_t> code(static_cast<std::size_t>(length) + 1, u'\0');
  std::uint32_t size = length + 1;
  if (session.GetProperty(u"ProductCode", code.data(), &size) != kErrorSuccess) return false;
  Text command = u"msiexec /fa ";
  command += TextFromUnits(code.data(), code.size());
  // Bounded as the formatted buffer of length + 13 units.
  if (command.size() + 1 > static_cast<std::size_t>(length) + 13) return false;

  Registry& registry = platform.registry;
  {
    Key runOnce = CreateKey(registry, kRunOnceKey, RegView::kDefault, RegAccess::kReadWrite);
    if (!runOnce) return false;
    if (WriteString(registry, runOnce.get(), kRunOnceValue, command) != kErrorSuccess) {
      return false;
    }
  }
  Key installer = CreateKey(registry, kInstallerKey, RegView::kDefault, RegAccess::kReadWrite);
  if (!installer) return false;
  return WriteString(registry, installer.get(), kArgumentValue, infPath) == kErrorSuccess;
}

void DeleteInstallerValue(Platform& platform, TextView name) {
  Key key = OpenKey(platform.registry, kInstallerKey, RegView::kDefault, RegAccess::kReadWrite);
  if (key) platform.registry.DeleteValue(key.get(), name);
}

}  // namespace orvel::installer
