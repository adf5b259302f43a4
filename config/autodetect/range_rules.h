#pragma once
// The typing and leave rules of the scan range fields: four start octets and the stop
// octet. They keep `rangeStart` equal to the start fields, keep every number in range
// and steer the host part away from all zeros or all ones of the address's class.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace orvel::autodetect {

enum class RangeField : int { kStart1 = 0, kStart2, kStart3, kStart4, kStop };
inline constexpr int kRangeFieldCount = 5;

// The five edit controls and the three mirror labels, as the rules use them.
class RangeFieldView {
 public:
  virtual ~RangeFieldView() = default;
  virtual std::string FieldText(RangeField field) = 0;
  // Like WM_SETTEXT on an edit: the field's change notification, and so its typing
  // rule, runs before this returns.
  virtual void SetFieldText(RangeField field, const std::string& text) = 0;
  // EM_SETSEL: a start of -1 removes the selection, an end of -1 is the end of the text.
  virtual void SetFieldSelection(RangeField field, int start, int end) = 0;
  // SetFocus: the focus notifications of the field left and the field reached run
  // before this returns.
  virtual void FocusField(RangeField field) = 0;
  // Labels 1071 to 1073 mirror start octets 1 to 3 (index 0 to 2).
  virtual void SetMirrorText(int index, const std::string& text) = 0;
};

class RangeRules {
 public:
  explicit RangeRules(RangeFieldView& view) : view_(view) {}
  RangeRules(const RangeRules&) = delete;
  RangeRules& operator=(const RangeRules&) = delete;

  // Notifications the view forwards from its controls.
  void OnTextChanged(RangeField field);  // EN_UPDATE
  void OnFocusLost(RangeField field);    // EN_KILLFOCUS
  void OnFocusGained(RangeField field);  // EN_SETFOCUS
  // A character about to reach a field (WM_CHAR); true when it must be swallowed.
  bool OnCharacter(RangeField field, char character);
  // A key that types no character (arrows, Home, Delete) or a click in a field.
  void OnOtherInput(RangeField field);

  void FillRangeFields(std::uint32_t startAddress, std::int32_t stopOctet);

  std::uint32_t rangeStart() const { return rangeStart_; }
  std::int32_t scanStopOctet() const { return stop_; }
  std::int32_t octet(int index) const { return octets_[static_cast<std::size_t>(index)]; }
  // The field that an automatic move after three digits has just reached, if any.
  std::optional<RangeField> autoMovedTo() const { return autoMovedTo_; }

 private:
  class RuleScope;

  void StartTyped(int index);
  void FourthTyped();
  void StopTyped();
  // Class adjustment of start field `index`; returns the field's text afterwards.
  std::string AdjustForClass(int index, std::string text);
  void HostFix();
  void SetOwnOctet(int index, std::int32_t value, std::string& text);
  void SetStop(std::int32_t value, const std::string& text);
  void WriteByte(int index);
  void Write(RangeField field, const std::string& text);

  RangeFieldView& view_;
  std::array<std::int32_t, 4> octets_{};
  std::int32_t stop_ = 0;
  std::uint32_t rangeStart_ = 0;
  // Depth of rule runs and fills on the stack: focus changes and texts made inside
  // them are the program's, not the user's.
  int ruleDepth_ = 0;
  std::optional<RangeField> autoMovedTo_;
};

// The range that FillRangeFields leaves in the fields, without a window: what the
// dialog hands back after it was filled with `startAddress` and `stopOctet`.
struct FilledRange {
  std::uint32_t startAddress = 0;
  std::int32_t stopOctet = 0;
};
FilledRange FillRangeWithoutWindow(std::uint32_t startAddress, std::int32_t stopOctet);

}  // namespace orvel::autodetect
