#pragma once
// The three private-profile operations the configuration program reads and
// writes its settings and setup files through. One store is bound to one file.

#include <cstdint>
#include <string>

namespace orvel {

class ProfileStore {
 public:
  // What GetPrivateProfileStringA returns into a 4096-character buffer.
  static constexpr std::size_t kValueBufferSize = 4096;

  virtual ~ProfileStore() = default;

  // GetPrivateProfileStringA(section, key, defaultValue, buffer, 4096, file).
  virtual std::string GetString(const std::string& section, const std::string& key,
                                const std::string& defaultValue) = 0;
  // GetPrivateProfileIntA(section, key, defaultValue, file).
  virtual std::int32_t GetInt(const std::string& section, const std::string& key,
                              std::int32_t defaultValue) = 0;
  // WritePrivateProfileStringA(section, key, value, file); false when it failed.
  virtual bool WriteString(const std::string& section, const std::string& key,
                           const std::string& value) = 0;
};

}  // namespace orvel
