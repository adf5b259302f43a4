#pragma once
// Direct Annotation over IAccPropServices: the names a screen reader says for the
// dialogs' controls, for MSAA and UI Automation clients alike.

#include <windows.h>
// after windows.h
#include <oleacc.h>
#include <wrl/client.h>

#include "config/ui/control_names.h"

namespace orvel::ui {

// Needs COM on the dialogs' thread (apartment-threaded); without it, or where the
// platform does not annotate, every call fails and nothing else changes.
class Win32ControlAnnotation final : public ControlAnnotation {
 public:
  // The texts come from this module's string table, in the user interface language.
  explicit Win32ControlAnnotation(HINSTANCE instance) : instance_(instance) {}

  bool Annotate(std::uintptr_t window, int element, Property property, unsigned text,
                const std::string& detail) override;
  void Clear(std::uintptr_t window, int element) override;

 private:
  IAccPropServices* Services();

  HINSTANCE instance_;
  Microsoft::WRL::ComPtr<IAccPropServices> services_;
  bool created_ = false;
};

}  // namespace orvel::ui
