#include "config/autodetect/range_rules.h"

namespace orvel::autodetect {
namespace {

constexpr char kDigits[] = "0123456789";
constexpr std::int32_t kFirstOctetLimit = 223;
constexpr std::int32_t kOctetLimit = 255;

RangeField StartField(int index) { return static_cast<RangeField>(index); }

// A field may hold any number of digits; anything above 999 is out of range anyway.
std::int32_t DigitsValue(const std::string& digits) {
  std::int32_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > 9999) return 9999;
  }
  return value;
}

enum class NetClass { kA, kB, kC };

NetClass ClassOf(std::int32_t firstOctet) {
  switch (firstOctet & 0xC0) {
    case 0x80:
      return NetClass::kB;
    case 0xC0:
      return NetClass::kC;
    default:
      return NetClass::kA;
  }
}

}  // namespace

class RangeRules::RuleScope {
 public:
  explicit RuleScope(RangeRules& rules) : rules_(rules), outermost_(rules.ruleDepth_ == 0) {
    ++rules_.ruleDepth_;
  }
  ~RuleScope() { --rules_.ruleDepth_; }
  RuleScope(const RuleScope&) = delete;
  RuleScope& operator=(const RuleScope&) = delete;
  // True when the user, not a rule, caused this run.
  bool outermost() const { return outermost_; }

 private:
  RangeRules& rules_;
  bool outermost_;
};

void RangeRules::Write(RangeField field, const std::string& text) {
  view_.SetFieldText(field, text);
}

void RangeRules::WriteByte(int index) {
  const int shift = 24 - 8 * index;
  rangeStart_ = (rangeStart_ & ~(0xFFu << shift)) |
                (static_cast<std::uint32_t>(octets_[static_cast<std::size_t>(index)]) & 0xFFu)
                    << shift;
}

void RangeRules::SetOwnOctet(int index, std::int32_t value, std::string& text) {
  octets_[static_cast<std::size_t>(index)] = value;
  text = std::to_string(value);
  Write(StartField(index), text);
}

void RangeRules::SetStop(std::int32_t value, const std::string& text) {
  stop_ = value;
  Write(RangeField::kStop, text);
}

void RangeRules::HostFix() {
  octets_[3] = 1;
  Write(RangeField::kStart4, "1");
  if (stop_ == 0) SetStop(1, "1");
}

std::string RangeRules::AdjustForClass(int index, std::string text) {
  const std::int32_t o1 = octets_[0], o2 = octets_[1], o3 = octets_[2], o4 = octets_[3];
  const NetClass netClass = ClassOf(o1);
  const bool classA127 = netClass == NetClass::kA && o1 == 127;
  const bool allZero = o2 == 0 && o3 == 0 && o4 == 0;
  const bool allOnes = o2 == 255 && o3 == 255 && o4 == 255;

  switch (index) {
    case 0:
      if (classA127) {
        if (o2 == 0 && o3 == 0) SetOwnOctet(0, 126, text);
      } else if (netClass == NetClass::kA) {
        if (allZero) HostFix();
      } else if (netClass == NetClass::kB) {
        if (o3 == 0 && o4 == 0) HostFix();
      } else if (o4 == 0) {
        HostFix();
      }
      break;
    case 1:
      if (classA127) {
        if (o2 == 0 && o3 == 0) SetOwnOctet(1, 1, text);
      } else if (netClass == NetClass::kA) {
        if (allZero)
          SetOwnOctet(1, 1, text);
        else if (allOnes)
          SetOwnOctet(1, 254, text);
      }
      break;
    case 2:
      if (classA127) {
        if (o2 == 0 && o3 == 0) SetOwnOctet(2, 1, text);
      } else if (netClass == NetClass::kA) {
        if (allZero)
          SetOwnOctet(2, 1, text);
        else if (allOnes)
          SetOwnOctet(2, 254, text);
      } else if (netClass == NetClass::kB) {
        if (o3 == 0 && o4 == 0)
          SetOwnOctet(2, 1, text);
        else if (o3 == 255 && (o4 == 255 || stop_ == 255))
          SetOwnOctet(2, 254, text);
      }
      break;
    default:
      if (netClass == NetClass::kA) {
        if (allZero) {
          SetOwnOctet(3, 1, text);
        } else if (allOnes) {
          SetOwnOctet(3, 254, text);
          if (stop_ == 255) SetStop(254, "254");
        }
      } else if (netClass == NetClass::kB) {
        if (o3 == 0 && o4 == 0) SetOwnOctet(3, 1, text);
      } else if (o4 == 0) {
        SetOwnOctet(3, 1, text);
      } else if (o4 == 255) {
        SetOwnOctet(3, 254, text);
      }
      break;
  }
  return text;
}

void RangeRules::OnTextChanged(RangeField field) {
  switch (field) {
    case RangeField::kStart1:
    case RangeField::kStart2:
    case RangeField::kStart3:
      StartTyped(static_cast<int>(field));
      break;
    case RangeField::kStart4:
      FourthTyped();
      break;
    case RangeField::kStop:
      StopTyped();
      break;
  }
}

void RangeRules::StartTyped(int index) {
  RuleScope scope(*this);
  // Any change the user makes ends the state left by an automatic move.
  if (scope.outermost()) autoMovedTo_.reset();
  const RangeField field = StartField(index);
  const std::int32_t limit = index == 0 ? kFirstOctetLimit : kOctetLimit;

  std::string text = view_.FieldText(field);
  bool dot = false;
  const std::size_t cut = text.find_first_not_of(kDigits);
  if (cut != std::string::npos) {
    dot = text[cut] == '.';
    if (dot && cut == 0) {
      // "." in an empty field puts back the octet it had.
      const int shift = 24 - 8 * index;
      text = std::to_string((rangeStart_ >> shift) & 0xFFu);
    } else {
      text.resize(cut);
    }
    Write(field, text);
  }
  const std::size_t filteredLength = text.size();

  std::int32_t value = DigitsValue(text);
  if (value > limit) {
    value = limit;
    text = std::to_string(limit);
    Write(field, text);
  }
  octets_[static_cast<std::size_t>(index)] = value;
  text = AdjustForClass(index, text);
  WriteByte(index);

  const bool full = filteredLength >= 3;
  if (full || dot) {
    const RangeField next = StartField(index + 1);
    view_.FocusField(next);
    view_.SetFieldSelection(next, 0, -1);
    if (scope.outermost() && full && !dot) autoMovedTo_ = next;
  } else {
    const int end = static_cast<int>(text.size());
    view_.SetFieldSelection(field, end, end);
  }
  view_.SetMirrorText(index, view_.FieldText(field));
}

void RangeRules::FourthTyped() {
  RuleScope scope(*this);
  if (scope.outermost()) autoMovedTo_.reset();
  std::string text = view_.FieldText(RangeField::kStart4);
  const std::size_t cut = text.find_first_not_of(kDigits);
  if (cut != std::string::npos) {
    text.resize(cut);
    Write(RangeField::kStart4, text);
  }
  if (text.empty()) return;

  std::int32_t value = DigitsValue(text);
  if (value > kOctetLimit) {
    value = kOctetLimit;
    text = std::to_string(kOctetLimit);
    Write(RangeField::kStart4, text);
  }
  octets_[3] = value;
  text = AdjustForClass(3, text);
  if (stop_ < octets_[3]) SetStop(octets_[3], view_.FieldText(RangeField::kStart4));
  WriteByte(3);
  const int end = static_cast<int>(view_.FieldText(RangeField::kStart4).size());
  view_.SetFieldSelection(RangeField::kStart4, end, end);
}

void RangeRules::StopTyped() {
  RuleScope scope(*this);
  if (scope.outermost()) autoMovedTo_.reset();
  std::string text = view_.FieldText(RangeField::kStop);
  const std::size_t cut = text.find_first_not_of(kDigits);
  if (cut != std::string::npos) {
    text.resize(cut);
    Write(RangeField::kStop, text);
  }
  if (text.empty()) return;

  std::int32_t value = DigitsValue(text);
  if (value > kOctetLimit) {
    value = kOctetLimit;
    text = std::to_string(kOctetLimit);
    Write(RangeField::kStop, text);
  }
  stop_ = value;
  const int end = static_cast<int>(text.size());
  view_.SetFieldSelection(RangeField::kStop, end, end);
}

void RangeRules::OnFocusLost(RangeField field) {
  RuleScope scope(*this);
  if (field != RangeField::kStop) {
    if (view_.FieldText(field).empty()) Write(field, field == RangeField::kStart1 ? "1" : "0");
    view_.SetFieldSelection(field, -1, -1);
    return;
  }

  const std::int32_t o1 = octets_[0], o2 = octets_[1], o3 = octets_[2], o4 = octets_[3];
  if (view_.FieldText(RangeField::kStop).empty()) {
    SetStop(o4, view_.FieldText(RangeField::kStart4));
  } else {
    // One band higher than the classes for 127 and 191.
    const std::int32_t band = (o1 + 1) & 0xC0;
    const std::string fourth = view_.FieldText(RangeField::kStart4);
    if (band < 0x80) {
      if (o2 == 255 && o3 == 255 && stop_ == 255)
        SetStop(254, "254");
      else if (stop_ < o4)
        SetStop(o4, fourth);
    } else if (band == 0x80) {
      if (o3 == 255 && stop_ == 255)
        SetStop(254, "254");
      else if (stop_ < o4)
        SetStop(o4, fourth);
    } else {
      if (stop_ < o4)
        SetStop(o4, fourth);
      else if (stop_ == 255)
        SetStop(254, "254");
    }
  }
  view_.SetFieldSelection(RangeField::kStop, -1, -1);
}

void RangeRules::OnFocusGained(RangeField /*field*/) {
  // A rule moving the focus decides the state itself; any other arrival ends it.
  if (ruleDepth_ == 0) autoMovedTo_.reset();
}

bool RangeRules::OnCharacter(RangeField field, char character) {
  // Typing an address with its dots: after three digits moved the focus on, the
  // "." that follows belongs to the octet just finished, not to this field.
  const bool swallow = character == '.' && autoMovedTo_ == field;
  autoMovedTo_.reset();
  return swallow;
}

void RangeRules::OnOtherInput(RangeField /*field*/) { autoMovedTo_.reset(); }

void RangeRules::FillRangeFields(std::uint32_t startAddress, std::int32_t stopOctet) {
  RuleScope scope(*this);
  // A stop octet from a file may lie outside 0..255. The fields bring it back in:
  // the fourth field's rule raises a negative one to the fourth octet, and the stop
  // field's rule caps a large one. Capping it here first would change what the
  // third field's rule sees.
  std::array<std::int32_t, 4> values{};
  values[0] = static_cast<std::int32_t>((startAddress >> 24) & 0xFFu);
  if (values[0] == 0) values[0] = 1;
  values[1] = static_cast<std::int32_t>((startAddress >> 16) & 0xFFu);
  values[2] = static_cast<std::int32_t>((startAddress >> 8) & 0xFFu);
  values[3] = static_cast<std::int32_t>(startAddress & 0xFFu);
  octets_ = values;
  stop_ = stopOctet;

  for (int index = 0; index < 4; ++index) {
    octets_[static_cast<std::size_t>(index)] = values[static_cast<std::size_t>(index)];
    const std::string text = std::to_string(values[static_cast<std::size_t>(index)]);
    Write(StartField(index), text);
    // The field's rule may have changed the text; the label shows what the scan uses.
    if (index < 3) view_.SetMirrorText(index, view_.FieldText(StartField(index)));
  }
  Write(RangeField::kStop, std::to_string(stop_));
  autoMovedTo_.reset();
}

namespace {

// Edit controls as the rules meet them: a text written raises the change notification
// at once, and the focus moves with its leave and arrival notifications.
class FieldsWithoutWindow final : public RangeFieldView {
 public:
  void Attach(RangeRules& rules) { rules_ = &rules; }
  std::string FieldText(RangeField field) override { return texts_[Index(field)]; }
  void SetFieldText(RangeField field, const std::string& text) override {
    texts_[Index(field)] = text;
    // The same bound on re-entry as a window's stack gives.
    if (rules_ != nullptr && depth_ < kMaxDepth) {
      ++depth_;
      rules_->OnTextChanged(field);
      --depth_;
    }
  }
  void SetFieldSelection(RangeField, int, int) override {}
  void FocusField(RangeField field) override {
    const int target = static_cast<int>(field);
    if (target == focus_ || rules_ == nullptr) return;
    const int old = focus_;
    focus_ = target;
    if (old >= 0) rules_->OnFocusLost(static_cast<RangeField>(old));
    rules_->OnFocusGained(field);
  }
  void SetMirrorText(int, const std::string&) override {}

 private:
  static constexpr int kMaxDepth = 64;
  static std::size_t Index(RangeField field) { return static_cast<std::size_t>(field); }
  std::array<std::string, kRangeFieldCount> texts_{};
  RangeRules* rules_ = nullptr;
  int focus_ = -1;
  int depth_ = 0;
};

}  // namespace

FilledRange FillRangeWithoutWindow(std::uint32_t startAddress, std::int32_t stopOctet) {
  FieldsWithoutWindow fields;
  RangeRules rules(fields);
  fields.Attach(rules);
  rules.FillRangeFields(startAddress, stopOctet);
  return {rules.rangeStart(), rules.scanStopOctet()};
}

}  // namespace orvel::autodetect
