#pragma once
// Direct Annotation as a double: what each window and element was named and described
// with (string-table numbers and the detail put in for "%s"), what was taken back, and
// what is still annotated. Safe to read from a test's driver thread.

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/ui/control_names.h"

namespace orvel::testing {

class RecordingAnnotation : public ui::ControlAnnotation {
 public:
  struct Text {
    unsigned text = 0;
    std::string detail;
    friend bool operator==(const Text&, const Text&) = default;
  };
  using Key = std::pair<std::uintptr_t, int>;

  bool Annotate(std::uintptr_t window, int element, Property property, unsigned text,
                const std::string& detail) override {
    std::lock_guard lock(mutex_);
    Entry& entry = live_[{window, element}];
    (property == Property::kName ? entry.name : entry.description) = Text{text, detail};
    return true;
  }
  void Clear(std::uintptr_t window, int element) override {
    std::lock_guard lock(mutex_);
    live_.erase({window, element});
    cleared_.push_back({window, element});
  }

  std::optional<Text> Name(std::uintptr_t window, int element = 0) const {
    std::lock_guard lock(mutex_);
    const auto found = live_.find({window, element});
    if (found == live_.end()) return std::nullopt;
    return found->second.name;
  }
  std::optional<Text> Description(std::uintptr_t window, int element = 0) const {
    std::lock_guard lock(mutex_);
    const auto found = live_.find({window, element});
    if (found == live_.end()) return std::nullopt;
    return found->second.description;
  }
  // Windows and elements annotated and not taken back.
  std::size_t Live() const {
    std::lock_guard lock(mutex_);
    return live_.size();
  }
  std::vector<Key> Cleared() const {
    std::lock_guard lock(mutex_);
    return cleared_;
  }

 private:
  struct Entry {
    std::optional<Text> name, description;
  };
  mutable std::mutex mutex_;
  std::map<Key, Entry> live_;
  std::vector<Key> cleared_;
};

}  // namespace orvel::testing
