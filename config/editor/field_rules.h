#pragma once
// What each detail field of the main dialog keeps and yields, and the rule that
// decides whether the pending entry may be applied. Plain functions over text.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/core/device_table.h"

namespace orvel {

inline constexpr int kNameLimit = 32;
inline constexpr int kOctetLimit = 3;
inline constexpr int kMacFieldLimit = 2;
inline constexpr int kPortCount = 16;

struct PendingEntry {
  std::string name;
  std::uint32_t address = 0;
  std::uint8_t portIndex = 0;
  MacBytes mac{};
};

struct OctetRuleResult {
  std::optional<std::string> cutText;  // the field's text after the first non-digit
  bool outOfRange = false;             // then the field shows "0" and the value is 0
  std::uint8_t value = 0;
  std::size_t counted = 0;  // characters that count
  bool dotTyped = false;
};
// octet is 1..4; previousValue is the octet's current byte of the pending address.
OctetRuleResult OctetTextRule(const std::string& text, int octet, std::uint8_t previousValue);
int OctetMaximum(int octet);

struct MacRuleResult {
  std::optional<std::string> cutText;
  std::uint8_t value = 0;
  std::size_t counted = 0;
};
MacRuleResult MacTextRule(const std::string& text);

struct PortRuleResult {
  enum class Action {
    kNone,         // nothing to do (empty text)
    kEmptyField,   // a leading "0": the field is emptied and the handler ends
    kSelectFirst,  // above 16: list position 0, portIndex 0
    kSetText,      // text rewritten, portIndex = value - 1
  };
  Action action = Action::kNone;
  std::optional<std::string> cutText;  // set when a non-digit was cut away first
  std::string text;                    // for kSetText
  std::uint8_t portIndex = 0;
};
PortRuleResult PortTextRule(const std::string& text);

struct NameRuleResult {
  std::string text;
  std::optional<std::size_t> caret;  // set when bytes were removed
};
NameRuleResult NameRule(const std::string& text);

// A key-down that leaves standing the "." state an automatic move after three typed
// digits begins: the period keys themselves, the modifiers that layouts such as AZERTY
// need for "." (Shift, Ctrl, Alt, AltGr, left and right) and an input method's key.
constexpr bool KeyKeepsDotState(unsigned virtualKey) {
  return virtualKey == 0xBE /* VK_OEM_PERIOD */ || virtualKey == 0x6E /* VK_DECIMAL */ ||
         (virtualKey >= 0x10 && virtualKey <= 0x12) /* VK_SHIFT, VK_CONTROL, VK_MENU */ ||
         (virtualKey >= 0xA0 && virtualKey <= 0xA5) /* VK_LSHIFT .. VK_RMENU */ ||
         virtualKey == 0xE5 /* VK_PROCESSKEY */;
}

// Octets of an address, most significant first.
std::uint8_t OctetOf(std::uint32_t address, int octet);
std::uint32_t WithOctet(std::uint32_t address, int octet, std::uint8_t value);

bool MacTextMatches(const PendingEntry& pending, const WorkingSlot& slot);

bool UpdateApplyState(const PendingEntry& pending, int currentSlot, const WorkingTable& table,
                      const std::vector<std::uint32_t>& activeAddresses);

// Row texts of the device list.
std::string PortColumnText(std::uint8_t portIndex);
std::array<std::string, 4> RowTexts(const WorkingSlot& slot);
std::array<std::string, 4> BlankRowTexts();

}  // namespace orvel
