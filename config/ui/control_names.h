#pragma once
// What a screen reader says for the dialogs' controls. Windows names an edit after the
// static text before it, stopping at the first control with a tab stop, so a split
// field and a list with no text of its own go unnamed or read as "."; Direct Annotation
// gives each such control a name of its own from the string table.

#include <cstdint>
#include <set>
#include <string>
#include <utility>

namespace orvel::ui {

// Numbers of the accessible names in the string table, English and Japanese alike.
enum AccessibleText : unsigned {
  kNameDeviceList = 100,
  kNameDeviceName = 101,
  kNameAddressPart1 = 102,  // to 105: "Device IP Address, part N of 4"
  kNameMacByte1 = 106,      // to 111: "Device MAC Address, byte N of 6"
  kNamePort = 112,
  kNameDetectFromPart1 = 113,  // to 116: "Detect from, part N of 4"
  kNameDetectToPart4 = 117,
  kNameResults = 118,
  kDescriptionResults = 119,  // how Space works on the results
  // A result row, by its state; "%s" stands for the unit's address.
  kNameRowFound = 120,
  kNameRowChecked = 121,
  kNameRowListed = 122,
};

// The row name for a result row's state (0 found, 1 checked, 2 already listed).
constexpr unsigned ResultRowNameText(int rowState) {
  return rowState == 1 ? kNameRowChecked : rowState == 2 ? kNameRowListed : kNameRowFound;
}

// "192.168.0.10": the address as a screen reader should say it, without the list's
// column padding.
std::string DottedAddress(std::uint32_t address);

// Direct Annotation of a window (element 0) or of one of its simple elements (a list
// row is element row + 1): IAccPropServices::SetHwndPropStr and ClearHwndProps.
class ControlAnnotation {
 public:
  enum class Property { kName, kDescription };

  virtual ~ControlAnnotation() = default;
  // The string-table text `text` with "%s" replaced by `detail`. False when the platform
  // refused it; nothing else depends on it.
  virtual bool Annotate(std::uintptr_t window, int element, Property property, unsigned text,
                        const std::string& detail) = 0;
  // Takes back every property annotated on that window and element.
  virtual void Clear(std::uintptr_t window, int element) = 0;
};

// The annotations one dialog made, so that every one of them is taken back before the
// dialog's windows go (the annotations live outside the windows, in the platform).
class DialogAnnotations {
 public:
  // With no annotation (null) nothing is named.
  explicit DialogAnnotations(ControlAnnotation* annotation) : annotation_(annotation) {}
  // A dialog that went without taking its names back (its windows still exist while
  // the dialog object goes) takes them back here.
  ~DialogAnnotations() { ClearAll(); }
  DialogAnnotations(const DialogAnnotations&) = delete;
  DialogAnnotations& operator=(const DialogAnnotations&) = delete;

  void Name(std::uintptr_t window, int element, unsigned text, const std::string& detail = {});
  void Describe(std::uintptr_t window, unsigned text);
  // The window's elements, not the window itself: a list's rows when they all go.
  void ClearElements(std::uintptr_t window);
  void ClearElement(std::uintptr_t window, int element);
  void ClearAll();

 private:
  void Made(std::uintptr_t window, int element, bool annotated);

  ControlAnnotation* annotation_;
  std::set<std::pair<std::uintptr_t, int>> made_;
};

}  // namespace orvel::ui
