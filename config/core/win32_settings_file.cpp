#include <vector>

#include "config/core/win32_app_platform.h"

namespace orvel {
namespace {

// Reads through the profile functions and keeps writes until Commit.
class Kernel32SettingsFile : public SettingsStore {
 public:
  explicit Kernel32SettingsFile(std::string path) : path_(std::move(path)) {}

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override {
    std::vector<char> buffer(kValueBufferSize, '\0');
    const DWORD length =
        GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                 static_cast<DWORD>(buffer.size()), path_.c_str());
    return std::string(buffer.data(), length < buffer.size() ? length : buffer.size() - 1);
  }
  std::int32_t GetInt(const std::string& section, const std::string& key,
                      std::int32_t defaultValue) override {
    return static_cast<std::int32_t>(
        GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path_.c_str()));
  }
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    writes_.push_back({section, key, value});
    return true;
  }
  bool Commit() override {
    bool ok = true;
    for (const Write& w : writes_) {
      ok = WritePrivateProfileStringA(w.section.c_str(), w.key.c_str(), w.value.c_str(),
                                      path_.c_str()) &&
           ok;
    }
    writes_.clear();
    return ok;
  }

 private:
  struct Write {
    std::string section, key, value;
  };
  std::string path_;
  std::vector<Write> writes_;
};

}  // namespace

std::unique_ptr<SettingsStore> OpenSettingsFile(const std::string& path) {
  return std::make_unique<Kernel32SettingsFile>(path);
}

}  // namespace orvel
