#pragma once
// Five edit controls and three mirror labels that behave like the real ones where the
// range rules can tell: writing a text raises the change notification at once, moving
// the focus raises the leave and arrival notifications at once, and typed keys go to
// the focused field, replacing its selection.

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

#include "config/autodetect/range_rules.h"

namespace orvel::testing {

class FakeRangeFields : public autodetect::RangeFieldView {
 public:
  using Field = autodetect::RangeField;
  static constexpr int kNoFocus = -1;

  struct Edit {
    std::string text;
    int selStart = 0, selEnd = 0;
  };

  void Attach(autodetect::RangeRules& rules) { rules_ = &rules; }

  // --- What the rules call.
  std::string FieldText(Field field) override { return edit(field).text; }

  void SetFieldText(Field field, const std::string& text) override {
    ++writes;
    Edit& e = edit(field);
    e.text = text;
    e.selStart = e.selEnd = 0;
    Notify(field);
  }

  void SetFieldSelection(Field field, int start, int end) override {
    Edit& e = edit(field);
    const int length = static_cast<int>(e.text.size());
    if (start == -1) {
      e.selStart = e.selEnd = std::min(e.selEnd, length);
      return;
    }
    if (end == -1 || end > length) end = length;
    start = std::clamp(start, 0, length);
    e.selStart = std::min(start, end);
    e.selEnd = std::max(start, end);
  }

  void FocusField(Field field) override { MoveFocus(static_cast<int>(field)); }

  void SetMirrorText(int index, const std::string& text) override {
    mirrors.at(static_cast<std::size_t>(index)) = text;
  }

  // --- What the user does.
  // A character key into the focused field; backspace is '\b'.
  void Type(char c) {
    if (focus == kNoFocus) return;
    const Field field = static_cast<Field>(focus);
    if (rules_ != nullptr && rules_->OnCharacter(field, c)) return;
    Edit& e = edit(field);
    if (c == '\b') {
      if (e.selStart == e.selEnd) {
        if (e.selStart == 0) return;
        --e.selStart;
      }
      e.text.erase(static_cast<std::size_t>(e.selStart),
                   static_cast<std::size_t>(e.selEnd - e.selStart));
      e.selEnd = e.selStart;
    } else {
      e.text.replace(static_cast<std::size_t>(e.selStart),
                     static_cast<std::size_t>(e.selEnd - e.selStart), 1, c);
      e.selEnd = ++e.selStart;
    }
    Notify(field);
  }
  void TypeText(const std::string& keys) {
    for (char c : keys) Type(c);
  }
  // A paste replaces the selection with the whole text in one change.
  void Paste(const std::string& text) {
    if (focus == kNoFocus) return;
    const Field field = static_cast<Field>(focus);
    Edit& e = edit(field);
    e.text.replace(static_cast<std::size_t>(e.selStart),
                   static_cast<std::size_t>(e.selEnd - e.selStart), text);
    e.selEnd = e.selStart = e.selStart + static_cast<int>(text.size());
    Notify(field);
  }
  // A click puts the focus into the field with the caret at the end.
  void Click(Field field) {
    MoveFocus(static_cast<int>(field));
    Edit& e = edit(field);
    e.selStart = e.selEnd = static_cast<int>(e.text.size());
    if (rules_ != nullptr) rules_->OnOtherInput(field);
  }
  // Tab from a start field to the next control: the dialog manager selects all.
  void TabTo(Field field) {
    MoveFocus(static_cast<int>(field));
    SetFieldSelection(field, 0, -1);
  }
  // The focus leaves for a control outside the range fields.
  void FocusElsewhere() { MoveFocus(kNoFocus); }
  // A key that types nothing, such as an arrow key.
  void PressArrowKey() {
    if (focus != kNoFocus && rules_ != nullptr) rules_->OnOtherInput(static_cast<Field>(focus));
  }

  Edit& edit(Field field) { return edits[static_cast<std::size_t>(field)]; }
  std::string Selected(Field field) {
    const Edit& e = edit(field);
    return e.text.substr(static_cast<std::size_t>(e.selStart),
                         static_cast<std::size_t>(e.selEnd - e.selStart));
  }

  std::array<Edit, autodetect::kRangeFieldCount> edits{};
  std::array<std::string, 3> mirrors{};
  int focus = kNoFocus;
  int writes = 0;
  int depth = 0;     // nesting of change notifications now running
  int maxDepth = 0;  // deepest nesting seen

 private:
  void Notify(Field field) {
    if (rules_ == nullptr) return;
    ++depth;
    maxDepth = std::max(maxDepth, depth);
    // Runaway re-entry would overflow the stack in the real dialog too.
    if (depth < 64) rules_->OnTextChanged(field);
    --depth;
  }
  void MoveFocus(int target) {
    if (target == focus) return;  // SetFocus on the focused window sends nothing
    const int old = focus;
    focus = target;
    if (rules_ == nullptr) return;
    if (old != kNoFocus) rules_->OnFocusLost(static_cast<Field>(old));
    if (target != kNoFocus) rules_->OnFocusGained(static_cast<Field>(target));
  }

  autodetect::RangeRules* rules_ = nullptr;
};

}  // namespace orvel::testing
