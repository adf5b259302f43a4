#pragma once
// A profile store that keeps values in memory and records every write, for tests
// of code that reads and writes settings through the three profile operations.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "config/core/configure_app.h"
#include "config/core/profile_store.h"

namespace orvel::testing {

class MemoryProfileStore : public ProfileStore {
 public:
  struct Write {
    std::string section, key, value;
    friend bool operator==(const Write&, const Write&) = default;
  };

  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override {
    if (failAllocation) throw std::bad_alloc();
    auto it = values_.find(Id(section, key));
    std::string value = it == values_.end() ? defaultValue : it->second;
    if (value.size() >= kValueBufferSize) value.resize(kValueBufferSize - 1);
    return value;
  }

  std::int32_t GetInt(const std::string& section, const std::string& key,
                      std::int32_t defaultValue) override {
    auto it = values_.find(Id(section, key));
    if (it == values_.end()) return defaultValue;
    return static_cast<std::int32_t>(std::strtoll(it->second.c_str(), nullptr, 10));
  }

  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    writes.push_back({section, key, value});
    if (failWrites) return false;
    values_[Id(section, key)] = value;
    return true;
  }

  void Set(const std::string& section, const std::string& key, const std::string& value) {
    values_[Id(section, key)] = value;
  }
  bool Has(const std::string& section, const std::string& key) const {
    return values_.count(Id(section, key)) != 0;
  }
  std::string Get(const std::string& section, const std::string& key) const {
    auto it = values_.find(Id(section, key));
    return it == values_.end() ? std::string() : it->second;
  }

  std::vector<Write> writes;
  bool failWrites = false;
  bool failAllocation = false;  // every read runs out of memory

 private:
  static std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
  }
  static std::pair<std::string, std::string> Id(const std::string& section,
                                                const std::string& key) {
    return {Lower(section), Lower(key)};
  }
  std::map<std::pair<std::string, std::string>, std::string> values_;
};

// A settings file whose values live in a MemoryProfileStore; what Commit and Readable
// answer is each test's own.
class MemorySettingsStore : public SettingsStore {
 public:
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) override {
    return Values().GetString(section, key, defaultValue);
  }
  std::int32_t GetInt(const std::string& section, const std::string& key,
                      std::int32_t defaultValue) override {
    return Values().GetInt(section, key, defaultValue);
  }
  bool WriteString(const std::string& section, const std::string& key,
                   const std::string& value) override {
    return Values().WriteString(section, key, value);
  }

 protected:
  virtual MemoryProfileStore& Values() = 0;
};

}  // namespace orvel::testing
