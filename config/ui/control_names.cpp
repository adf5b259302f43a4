#include "config/ui/control_names.h"

namespace orvel::ui {

std::string DottedAddress(std::uint32_t address) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!text.empty()) text += '.';
    text += std::to_string((address >> shift) & 0xFF);
  }
  return text;
}

void DialogAnnotations::Made(std::uintptr_t window, int element, bool annotated) {
  if (annotated) made_.emplace(window, element);
}

void DialogAnnotations::Name(std::uintptr_t window, int element, unsigned text,
                             const std::string& detail) {
  if (!annotation_ || !window) return;
  Made(window, element,
       annotation_->Annotate(window, element, ControlAnnotation::Property::kName, text, detail));
}

void DialogAnnotations::Describe(std::uintptr_t window, unsigned text) {
  if (!annotation_ || !window) return;
  Made(window, 0,
       annotation_->Annotate(window, 0, ControlAnnotation::Property::kDescription, text, {}));
}

void DialogAnnotations::ClearElement(std::uintptr_t window, int element) {
  if (made_.erase({window, element}) != 0) annotation_->Clear(window, element);
}

void DialogAnnotations::ClearElements(std::uintptr_t window) {
  for (auto it = made_.lower_bound({window, 1}); it != made_.end() && it->first == window;) {
    annotation_->Clear(it->first, it->second);
    it = made_.erase(it);
  }
}

void DialogAnnotations::ClearAll() {
  for (const auto& [window, element] : made_) annotation_->Clear(window, element);
  made_.clear();
}

}  // namespace orvel::ui
