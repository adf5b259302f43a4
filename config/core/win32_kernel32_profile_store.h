#pragma once
// The profile store straight over the kernel32 private-profile functions, one
// call per operation; the reference the INI store is compared with.

#include <string>
#include <utility>

#include "config/core/profile_store.h"

namespace orvel {

class Kernel32ProfileStore final : public ProfileStore {
 public:
  explicit Kernel32ProfileStore(std::string path) : path_(std::move(path)) {}

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override;
  std::int32_t GetInt(const std::string& section, const std::string& key,
                      std::int32_t defaultValue) override;
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override;

 private:
  std::string path_;
};

}  // namespace orvel
