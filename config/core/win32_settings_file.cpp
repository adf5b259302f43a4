#include "config/core/device_table.h"
#include "config/core/ini_file_store.h"
#include "config/core/win32_ansi_codec.h"
#include "config/core/win32_app_platform.h"
#include "config/core/win32_file_access.h"

namespace orvel {
namespace {

// orveld.ini, parsed once; every write is kept in memory and the file is replaced
// in one step on Commit, so a failed save leaves the old file whole.
class SettingsFile final : public SettingsStore {
 public:
  // Settings and setup files share the table's layout, and with it the largest
  // file the program writes.
  SettingsFile(std::string path, Win32FileAccess::Links links)
      : files_(links),
        store_(files_, codec_, std::move(path), {kTableFileMaxBytes, kTableFileMaxLines}) {}

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override {
    return store_.GetString(section, key, defaultValue);
  }
  std::int32_t GetInt(const std::string& section, const std::string& key,
                      std::int32_t defaultValue) override {
    return store_.GetInt(section, key, defaultValue);
  }
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    return store_.WriteString(section, key, value);
  }
  bool Commit() override { return store_.Commit(); }
  bool Readable() const override { return store_.Readable(); }
  bool HeldOpen() const override { return files_.LastReplaceHeldOpen(); }

 private:
  Win32FileAccess files_;
  AnsiCodePageCodec codec_;
  IniFileStore store_;
};

}  // namespace

std::unique_ptr<SettingsStore> OpenSettingsFile(const std::string& path,
                                                Win32FileAccess::Links links) {
  return std::make_unique<SettingsFile>(path, links);
}

}  // namespace orvel
