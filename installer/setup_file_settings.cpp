#include "installer/setup_file_settings.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "config/autodetect/setup_file.h"
#include "config/core/device_table.h"
#include "config/core/ini_file_store.h"
#include "installer/common.h"

namespace orvel::installer {
namespace {

// Settings and setup files share the table's layout, and with it the largest file
// Orvelcfg writes; orveld.ini is opened with the same limits as Orvelcfg opens it.
constexpr IniReadLimits kTableFileLimits{kTableFileMaxBytes, kTableFileMaxLines};
// The list as passed on: the settings folder, a line break, the setup file's text.
constexpr char16_t kDataSeparator = u'\n';

// A property's value, however long, up to maxUnits; nothing when it cannot be read.
std::optional<Text> ReadProperty(InstallerSession& session, TextView name, std::size_t maxUnits) {
  std::vector<char16_t> buffer(kMaxPath);
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::uint32_t length = static_cast<std::uint32_t>(buffer.size());
    const std::uint32_t status = session.GetProperty(name, buffer.data(), &length);
    if (status == kErrorSuccess)
      return Text(buffer.data(), std::min<std::size_t>(length, buffer.size() - 1));
    if (status != kErrorMoreData || length > maxUnits) return std::nullopt;
    buffer.assign(static_cast<std::size_t>(length) + 1, u'\0');
  }
  return std::nullopt;
}

// An Error-table message with the text of field 2 (a path), so that the log and any
// dialog name the file.
void PostMessageNaming(InstallerSession& session, std::uint32_t number, TextView path) {
  Record record(session.CreateRecord(2), session);
  if (!record) return;
  session.RecordSetInteger(record.get(), 1, static_cast<int>(number));
  session.RecordSetString(record.get(), 2, path);
  session.ProcessMessage(kInstallMessageError, record.get());
}

// Files that only live in memory: the text passed between the actions is read through
// the same store and rules as a file on disk.
class TextAsFile final : public FileAccess {
 public:
  explicit TextAsFile(std::string bytes = {}) : bytes_(std::move(bytes)) {}
  FileReadStatus ReadWholeFile(const std::string&, std::string& bytes) override {
    bytes = bytes_;
    return FileReadStatus::kOk;
  }
  bool ReplaceWholeFile(const std::string&, const std::string& bytes) override {
    bytes_ = bytes;
    return true;
  }
  bool RemoveFile(const std::string&) override { return false; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

// The table as Orvelcfg writes it after an import: every slot's transport flag 1.
std::optional<DeviceTable> ReadList(FileAccess& files, const TextCodec& codec,
                                    const std::string& path) {
  IniFileStore store(files, codec, path, kTableFileLimits);
  if (!store.Readable()) return std::nullopt;
  std::optional<DeviceTable> table = autodetect::ReadSetupFile(store);
  if (table) {
    for (DeviceEntry& entry : table->entries) entry.tcpFlag = 1;
  }
  return table;
}

// An 8-bit path of the settings' code page, or nothing when the code page cannot
// name the file.
std::optional<std::string> NarrowPath(const TextCodec& codec, TextView path) {
  std::string narrow = codec.ToNarrow(path);
  if (codec.ToWide(narrow) != path) return std::nullopt;
  return narrow;
}

// Removes a file of ours from the held settings folder; never a link or a folder. True
// when nothing is left under the name.
bool RemoveFile(SetupFileAccess& access, TextView action, const std::string& path) {
  if (access.settings.RemoveFile(path)) return true;
  Log(access.platform.session,
      Text(action) + u": " + access.codec.ToWide(path) + u" cannot be removed");
  return false;
}

struct SettingsPaths {
  Text folder;  // with its final backslash
  Text file;
  std::string fileNarrow;
  std::string backupNarrow;
  std::string markNarrow;
  std::vector<std::string> levels;  // what the hold holds
};

std::optional<SettingsPaths> PathsIn(const TextCodec& codec, const Text& folderValue) {
  if (folderValue.empty()) return std::nullopt;
  SettingsPaths paths;
  paths.folder = RemoveBackslash(folderValue) + u"\\";
  paths.file = paths.folder + Text(kSettingsFile);
  const auto folder = NarrowPath(codec, paths.folder);
  const auto file = NarrowPath(codec, paths.file);
  const auto backup = NarrowPath(codec, paths.folder + Text(kSettingsBackup));
  const auto mark = NarrowPath(codec, paths.folder + Text(kSettingsAbsentMark));
  if (!folder || !file || !backup || !mark) return std::nullopt;
  paths.levels = SettingsLevels(*folder);
  if (paths.levels.empty()) return std::nullopt;
  paths.fileNarrow = *file;
  paths.backupNarrow = *backup;
  paths.markNarrow = *mark;
  return paths;
}

// GetFullPathNameW of a path: ".." and "." resolved, so that the log names the file read.
std::optional<Text> FullPath(Files& files, const std::optional<Text>& path) {
  if (!path) return std::nullopt;
  std::vector<char16_t> buffer(kMaxSetupFilePath + 1);
  const std::uint32_t length =
      files.GetFullPathName(*path, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return std::nullopt;
  return Text(buffer.data(), length);
}

// Takes the settings folder's hold for an action and logs what it did, and why it
// refused.
HoldResult TakeHold(SetupFileAccess& access, TextView action, SettingsFolderHold& hold,
                    const SettingsPaths& paths, SettingsFolderHold::Mode mode) {
  const HoldResult held = hold.Take(paths.levels, mode);
  for (const std::string& change : held.changes) {
    Log(access.platform.session, Text(action) + u": " + access.codec.ToWide(change));
  }
  if (held.status != HoldResult::Status::kHeld) {
    Log(access.platform.session, Text(action) + u": " + access.codec.ToWide(held.why));
  }
  return held;
}

std::optional<SettingsPaths> PathsFromActionData(SetupFileAccess& access, TextView action,
                                                 Text* list) {
  const auto data = ReadProperty(access.platform.session, u"CustomActionData",
                                 kTableFileMaxBytes + kMaxSetupFilePath);
  const std::size_t separator = data ? data->find(kDataSeparator) : Text::npos;
  std::optional<SettingsPaths> paths =
      data ? PathsIn(access.codec, data->substr(0, separator)) : std::nullopt;
  if (!paths) {
    Log(access.platform.session, Text(action) + u": no usable settings folder in CustomActionData");
    return std::nullopt;
  }
  if (list != nullptr && separator != Text::npos) *list = data->substr(separator + 1);
  return paths;
}

// named: the file, or the folder when the folder itself is what stands in the way.
std::uint32_t FailWrite(SetupFileAccess& access, TextView action, TextView named, TextView why) {
  Log(access.platform.session, Text(action) + u": " + Text(why) + u"; 1603 (25011)");
  PostMessageNaming(access.platform.session, kMessageSettingsNotWritten, named);
  return kResultFailure;
}

}  // namespace

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// "X:" of a drive path, "\\server\share" of a UNC one; empty when there is neither.
Text RootOf(TextView path) {
  if (path.size() >= 2 && path[1] == u':') return Text(path.substr(0, 2));
  if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1])) return {};
  std::size_t end = 2;
  for (int part = 0; part < 2 && end <= path.size(); ++part) {
    while (end < path.size() && !IsSeparator(path[end])) ++end;
    if (part == 0) ++end;
  }
  return Text(path.substr(0, std::min(end, path.size())));
}

}  // namespace

std::optional<Text> SetupFilePath(TextView value, TextView originalDatabase) {
  if (value.empty()) return std::nullopt;
  Text path;
  if (!RootOf(value).empty()) {
    path = Text(value);
  } else if (IsSeparator(value[0])) {
    const Text root = RootOf(originalDatabase);
    if (root.empty()) return std::nullopt;
    path = root + Text(value);
  } else {
    const Text package(originalDatabase);
    const std::size_t separator = package.find_last_of(u"\\/");
    if (RootOf(package).empty() || separator == Text::npos) return std::nullopt;
    path = package.substr(0, separator + 1) + Text(value);
  }
  if (path.size() > kMaxSetupFilePath) return std::nullopt;
  return path;
}

std::string Utf8Of(TextView text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::uint32_t CheckSetupFile(SetupFileAccess& access) try {
  InstallerSession& session = access.platform.session;
  // A standard user may be let repair a per-machine product: the list would still be
  // written, and the firewall opened, by the system.
  const auto admin = ReadProperty(session, kAdminUserProperty, kMaxPath);
  if (!admin || admin->empty()) {
    Log(session,
        u"CheckSetupFile: SETUPFILE is taken only from an administrator or a managed install; "
        u"1603 (25012)");
    PostInstallerMessage(session, kInstallMessageError, kMessageSetupFileNeedsAdministrator);
    return kResultFailure;
  }
  const auto value = ReadProperty(session, kSetupFileProperty, kMaxSetupFilePath);
  // Intune and ConfigMgr run a package from a cache folder of their own: a file shipped
  // beside it is named without a folder.
  const auto origin = ReadProperty(session, u"OriginalDatabase", kMaxSetupFilePath);
  const auto path =
      value ? FullPath(access.platform.files, SetupFilePath(*value, origin ? *origin : Text()))
            : std::nullopt;
  if (!path) {
    Log(session, u"CheckSetupFile: SETUPFILE \"" + (value ? *value : Text()) +
                     u"\" is empty, cannot be read or cannot be placed beside the package; 1603 "
                     u"(25010)");
    PostMessageNaming(session, kMessageBadSetupFile, value ? *value : Text());
    return kResultFailure;
  }
  const std::optional<DeviceTable> table = ReadList(access.setupFile, access.codec, Utf8Of(*path));
  if (!table) {
    Log(session, u"CheckSetupFile: " + *path +
                     u" is missing, cannot be read or is not a setup file; 1603 (25010)");
    PostMessageNaming(session, kMessageBadSetupFile, *path);
    return kResultFailure;
  }
  // The list goes on as checked: the in-script actions run as the system, which may not
  // reach the file, and the file may change meanwhile.
  TextAsFile rendered;
  IniFileStore out(rendered, access.codec, "", kTableFileLimits);
  autodetect::WriteSetupFile(*table, out);
  const auto folder = ReadProperty(session, kSettingsFolderProperty, kMaxPath);
  if (!out.Commit() || !folder || !PathsIn(access.codec, *folder)) {
    Log(session, u"CheckSetupFile: the settings folder is unknown; 1603");
    return kResultFailure;
  }
  const Text data = *folder + kDataSeparator + access.codec.ToWide(rendered.bytes());
  if (session.SetProperty(kWriteSetupFileAction, data) != kErrorSuccess ||
      session.SetProperty(kRollbackSetupFileAction, *folder) != kErrorSuccess ||
      session.SetProperty(kCommitSetupFileAction, *folder) != kErrorSuccess) {
    Log(session, u"CheckSetupFile: the list cannot be passed on; 1603");
    return kResultFailure;
  }
  Log(session, u"CheckSetupFile: " + *path + u" holds " +
                   Decimal(static_cast<std::uint32_t>(CountUsedSlots(*table))) + u" units");
  return kResultSuccess;
} catch (const std::bad_alloc&) {
  return kResultFailure;
}

std::uint32_t WriteSetupFileSettings(SetupFileAccess& access) try {
  Platform& platform = access.platform;
  constexpr TextView action = kWriteSetupFileAction;
  Text list;
  const auto paths = PathsFromActionData(access, action, &list);
  if (!paths) return kResultFailure;
  TextAsFile passed(access.codec.ToNarrow(list));
  const std::optional<DeviceTable> table = ReadList(passed, access.codec, "");
  if (!table) return FailWrite(access, action, paths->file, u"the passed list is not a setup file");

  SettingsFolderHold hold(access.folders, access.settings);
  if (TakeHold(access, action, hold, *paths, SettingsFolderHold::Mode::kMakeSafe).status !=
      HoldResult::Status::kHeld) {
    return FailWrite(access, action, paths->folder, u"the settings folder cannot be made safe");
  }
  // Keep what is there now, for the rollback; what an earlier run left is not it.
  if (!RemoveFile(access, action, paths->backupNarrow) ||
      !RemoveFile(access, action, paths->markNarrow)) {
    return FailWrite(access, action, paths->file, u"an old backup stays");
  }
  std::string old;
  const FileReadStatus before = access.settings.ReadWholeFile(paths->fileNarrow, old);
  const bool kept = before == FileReadStatus::kOk
                        ? access.settings.ReplaceWholeFile(paths->backupNarrow, old)
                        : before == FileReadStatus::kMissing &&
                              access.settings.ReplaceWholeFile(paths->markNarrow, "");
  if (!kept) {
    return FailWrite(access, action, paths->file,
                     u"the present file cannot be kept for a rollback");
  }

  // As Orvelcfg saves: units no longer listed are rewritten as empty slots, so that
  // the next load does not bring them back.
  IniFileStore settings(access.settings, access.codec, paths->fileNarrow, kTableFileLimits);
  if (!settings.Readable()) {
    return FailWrite(access, action, paths->file, u"the present file cannot be read");
  }
  const int loaded = CountUsedSlots(LoadDeviceTable(settings));
  const int listed = CountUsedSlots(*table);
  StoreDeviceTable(*table, std::max(loaded, listed), settings);
  if (!settings.Commit()) {
    return FailWrite(access, action, paths->file,
                     access.settings.LastReplaceHeldOpen() ? u"another program has the file open"
                                                           : u"the file cannot be replaced");
  }
  // A firewall that cannot be changed fails no install: Orvelcfg's next save tries again.
  const bool opened = listed > 0 ? access.firewall.RegisterFirewallException()
                                 : access.firewall.DisableFirewallException();
  Log(platform.session, Text(action) + u": " + paths->file + u" holds " +
                            Decimal(static_cast<std::uint32_t>(listed)) + u" units; firewall " +
                            (opened ? u"updated" : u"not updated"));
  return kResultSuccess;
} catch (const std::bad_alloc&) {
  return kResultFailure;
}

std::uint32_t RollbackSetupFileSettings(SetupFileAccess& access) try {
  Platform& platform = access.platform;
  constexpr TextView action = kRollbackSetupFileAction;
  const auto paths = PathsFromActionData(access, action, nullptr);
  if (!paths) return kResultSuccess;
  // A folder that is not safe now gets nothing back and loses nothing.
  SettingsFolderHold hold(access.folders, access.settings);
  if (TakeHold(access, action, hold, *paths, SettingsFolderHold::Mode::kAsItIs).status !=
      HoldResult::Status::kHeld) {
    return kResultSuccess;
  }
  std::string old;
  if (access.settings.ReadWholeFile(paths->backupNarrow, old) == FileReadStatus::kOk) {
    if (!access.settings.ReplaceWholeFile(paths->fileNarrow, old)) {
      Log(platform.session, Text(action) + u": " + paths->file + u" cannot be put back");
      return kResultSuccess;
    }
    RemoveFile(access, action, paths->backupNarrow);
    Log(platform.session, Text(action) + u": the previous " + paths->file + u" is back");
  } else if (access.settings.ReadWholeFile(paths->markNarrow, old) == FileReadStatus::kOk) {
    if (RemoveFile(access, action, paths->fileNarrow)) {
      RemoveFile(access, action, paths->markNarrow);
      Log(platform.session, Text(action) + u": " + paths->file + u" removed; there was none");
    }
  }
  // Without either, the write never began: nothing to undo.
  return kResultSuccess;
} catch (const std::bad_alloc&) {
  return kResultSuccess;
}

std::uint32_t CommitSetupFileSettings(SetupFileAccess& access) try {
  constexpr TextView action = kCommitSetupFileAction;
  const auto paths = PathsFromActionData(access, action, nullptr);
  if (!paths) return kResultSuccess;
  SettingsFolderHold hold(access.folders, access.settings);
  if (TakeHold(access, action, hold, *paths, SettingsFolderHold::Mode::kAsItIs).status !=
      HoldResult::Status::kHeld) {
    return kResultSuccess;
  }
  RemoveFile(access, action, paths->backupNarrow);
  RemoveFile(access, action, paths->markNarrow);
  return kResultSuccess;
} catch (const std::bad_alloc&) {
  return kResultSuccess;
}

std::uint32_t ClearSettingsFolderLinks(SetupFileAccess& access) try {
  constexpr TextView action = u"ClearSettingsFolderLinks";
  const auto paths = PathsFromActionData(access, action, nullptr);
  if (!paths) return kResultFailure;
  // Made here, while its parent is held, rather than by the package a moment later: a
  // folder that a user made in between would be theirs.
  SettingsFolderHold hold(access.folders, access.settings);
  if (TakeHold(access, action, hold, *paths, SettingsFolderHold::Mode::kMakeSafe).status !=
      HoldResult::Status::kHeld) {
    return FailWrite(access, action, paths->folder, u"the settings folder cannot be made safe");
  }
  return kResultSuccess;
} catch (const std::bad_alloc&) {
  return kResultFailure;
}

}  // namespace orvel::installer
