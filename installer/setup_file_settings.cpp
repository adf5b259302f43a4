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

// Removes a plain file through a handle that does not follow a link. True when nothing
// is left under the name.
bool RemoveFile(Platform& platform, TextView action, const Text& path) {
  NameHolds holds = OpenNoFollow(platform.files, path);
  if (holds.status == kErrorFileNotFound || holds.status == kErrorPathNotFound) return true;
  std::uint32_t status = holds.status;
  if (status == kErrorSuccess) {
    status = (holds.attributes & (kFileAttributeDirectory | kFileAttributeReparsePoint)) != 0
                 ? kErrorAccessDenied
                 : platform.files.DeleteOnClose(holds.file.get());
  }
  holds.file.reset();
  if (status != kErrorSuccess) {
    Log(platform.session,
        Text(action) + u": " + path + u" cannot be removed; error " + Decimal(status));
  }
  return status == kErrorSuccess;
}

struct SettingsPaths {
  Text folder;  // with its final backslash
  Text file;
  std::string fileNarrow;
  std::string backupNarrow;
  std::string markNarrow;
};

std::optional<SettingsPaths> PathsIn(const TextCodec& codec, const Text& folderValue) {
  if (folderValue.empty()) return std::nullopt;
  SettingsPaths paths;
  paths.folder = RemoveBackslash(folderValue) + u"\\";
  paths.file = paths.folder + Text(kSettingsFile);
  const auto file = NarrowPath(codec, paths.file);
  const auto backup = NarrowPath(codec, paths.folder + Text(kSettingsBackup));
  const auto mark = NarrowPath(codec, paths.folder + Text(kSettingsAbsentMark));
  if (!file || !backup || !mark) return std::nullopt;
  paths.fileNarrow = *file;
  paths.backupNarrow = *backup;
  paths.markNarrow = *mark;
  return paths;
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

std::uint32_t FailWrite(SetupFileAccess& access, const SettingsPaths& paths, TextView why) {
  Log(access.platform.session, Text(kWriteSetupFileAction) + u": " + Text(why) + u"; 1603 (25011)");
  PostMessageNaming(access.platform.session, kMessageSettingsNotWritten, paths.file);
  return kResultFailure;
}

}  // namespace

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
  const auto path = ReadProperty(session, kSetupFileProperty, kMaxSetupFilePath);
  if (!path || path->empty()) {
    Log(session, u"CheckSetupFile: SETUPFILE is empty or cannot be read; 1603 (25010)");
    PostMessageNaming(session, kMessageBadSetupFile, path ? *path : Text());
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
  Text list;
  const auto paths = PathsFromActionData(access, kWriteSetupFileAction, &list);
  if (!paths) return kResultFailure;
  TextAsFile passed(access.codec.ToNarrow(list));
  const std::optional<DeviceTable> table = ReadList(passed, access.codec, "");
  if (!table) return FailWrite(access, *paths, u"the passed list is not a setup file");

  // Keep what is there now, for the rollback; what an earlier run left is not it.
  if (!RemoveFile(platform, kWriteSetupFileAction, Text(paths->folder) + Text(kSettingsBackup)) ||
      !RemoveFile(platform, kWriteSetupFileAction,
                  Text(paths->folder) + Text(kSettingsAbsentMark))) {
    return FailWrite(access, *paths, u"an old backup stays");
  }
  std::string old;
  const FileReadStatus before = access.settings.ReadWholeFile(paths->fileNarrow, old);
  const bool kept = before == FileReadStatus::kOk
                        ? access.settings.ReplaceWholeFile(paths->backupNarrow, old)
                        : before == FileReadStatus::kMissing &&
                              access.settings.ReplaceWholeFile(paths->markNarrow, "");
  if (!kept) return FailWrite(access, *paths, u"the present file cannot be kept for a rollback");

  // As Orvelcfg saves: units no longer listed are rewritten as empty slots, so that
  // the next load does not bring them back.
  IniFileStore settings(access.settings, access.codec, paths->fileNarrow, kTableFileLimits);
  if (!settings.Readable()) return FailWrite(access, *paths, u"the present file cannot be read");
  const int loaded = CountUsedSlots(LoadDeviceTable(settings));
  const int listed = CountUsedSlots(*table);
  StoreDeviceTable(*table, std::max(loaded, listed), settings);
  if (!settings.Commit()) return FailWrite(access, *paths, u"the file cannot be replaced");
  // A firewall that cannot be changed fails no install: Orvelcfg's next save tries again.
  const bool opened = listed > 0 ? access.firewall.RegisterFirewallException()
                                 : access.firewall.DisableFirewallException();
  Log(platform.session, Text(kWriteSetupFileAction) + u": " + paths->file + u" holds " +
                            Decimal(static_cast<std::uint32_t>(listed)) + u" units; firewall " +
                            (opened ? u"updated" : u"not updated"));
  return kResultSuccess;
} catch (const std::bad_alloc&) {
  return kResultFailure;
}

std::uint32_t RollbackSetupFileSettings(SetupFileAccess& access) try {
  Platform& platform = access.platform;
  const auto paths = PathsFromActionData(access, kRollbackSetupFileAction, nullptr);
  if (!paths) return kResultSuccess;
  std::string old;
  if (access.settings.ReadWholeFile(paths->backupNarrow, old) == FileReadStatus::kOk) {
    if (!access.settings.ReplaceWholeFile(paths->fileNarrow, old)) {
      Log(platform.session, u"RollbackSetupFileSettings: " + paths->file + u" cannot be put back");
      return kResultSuccess;
    }
    RemoveFile(platform, kRollbackSetupFileAction, paths->folder + Text(kSettingsBackup));
    Log(platform.session, u"RollbackSetupFileSettings: the previous " + paths->file + u" is back");
  } else if (access.settings.ReadWholeFile(paths->markNarrow, old) == FileReadStatus::kOk) {
    if (RemoveFile(platform, kRollbackSetupFileAction, paths->file)) {
      RemoveFile(platform, kRollbackSetupFileAction, paths->folder + Text(kSettingsAbsentMark));
      Log(platform.session,
          u"RollbackSetupFileSettings: " + paths->file + u" removed; there was none");
    }
  }
  // Without either, the write never began: nothing to undo.
  return kResultSuccess;
} catch (const std::bad_alloc&) {
  return kResultSuccess;
}

std::uint32_t CommitSetupFileSettings(SetupFileAccess& access) try {
  const auto paths = PathsFromActionData(access, kCommitSetupFileAction, nullptr);
  if (!paths) return kResultSuccess;
  RemoveFile(access.platform, kCommitSetupFileAction, paths->folder + Text(kSettingsBackup));
  RemoveFile(access.platform, kCommitSetupFileAction, paths->folder + Text(kSettingsAbsentMark));
  return kResultSuccess;
} catch (const std::bad_alloc&) {
  return kResultSuccess;
}

}  // namespace orvel::installer
