#include "config/editor/field_rules.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace orvel {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// The leading decimal number of an all-digit text of at most a few characters.
unsigned long LeadingNumber(const std::string& text, int base) {
  return text.empty() ? 0 : std::strtoul(text.c_str(), nullptr, base);
}

}  // namespace

int OctetMaximum(int octet) { return octet == 1 ? 223 : 255; }

OctetRuleResult OctetTextRule(const std::string& text, int octet, std::uint8_t previousValue) {
  OctetRuleResult result;
  std::string shown = text;
  result.counted = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsDigit(text[i])) continue;
    // Only the first non-digit is handled; the last octet has no "." case.
    const bool dot = text[i] == '.' && octet != 4;
    result.dotTyped = dot;
    if (dot && i == 0) {
      shown = std::to_string(previousValue);
      result.counted = shown.size();
    } else {
      shown = text.substr(0, i);
      result.counted = i;
    }
    result.cutText = shown;
    break;
  }
  unsigned long value = LeadingNumber(shown, 10);
  if (value > static_cast<unsigned long>(OctetMaximum(octet))) {
    result.outOfRange = true;
    value = 0;
  }
  result.value = static_cast<std::uint8_t>(value);
  return result;
}

MacRuleResult MacTextRule(const std::string& text) {
  MacRuleResult result;
  std::string shown = text;
  result.counted = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHexDigit(text[i])) continue;
    shown = text.substr(0, i);
    result.counted = i;
    result.cutText = shown;
    break;
  }
  result.value = static_cast<std::uint8_t>(LeadingNumber(shown, 16) & 0xFF);
  return result;
}

PortRuleResult PortTextRule(const std::string& text) {
  PortRuleResult result;
  std::string shown = text;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i == 0 && text[i] == '0') {
      result.action = PortRuleResult::Action::kEmptyField;
      return result;
    }
    if (IsDigit(text[i])) continue;
    shown = text.substr(0, i);
    result.cutText = shown;
    break;
  }
  if (shown.empty()) return result;
  const unsigned long value = LeadingNumber(shown, 10);
  if (value > kPortCount) {
    result.action = PortRuleResult::Action::kSelectFirst;
    result.portIndex = 0;
    return result;
  }
  result.action = PortRuleResult::Action::kSetText;
  result.text = std::to_string(value);
  result.portIndex = static_cast<std::uint8_t>(value - 1);
  return result;
}

NameRuleResult NameRule(const std::string& text) {
  NameRuleResult result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) {
      result.caret = result.text.size();
    } else {
      result.text += text[i];
    }
  }
  return result;
}

std::uint8_t OctetOf(std::uint32_t address, int octet) {
  return static_cast<std::uint8_t>(address >> (8 * (4 - octet)));
}

std::uint32_t WithOctet(std::uint32_t address, int octet, std::uint8_t value) {
  const int shift = 8 * (4 - octet);
  return (address & ~(0xFFu << shift)) | (static_cast<std::uint32_t>(value) << shift);
}

bool MacTextMatches(const PendingEntry& pending, const WorkingSlot& slot) {
  return MacTextOf(pending.mac) == slot.entry.macText;
}

bool UpdateApplyState(const PendingEntry& pending, int currentSlot, const WorkingTable& table,
                      const std::vector<std::uint32_t>& activeAddresses) {
  if (pending.address == 0) return false;
  // Each clash test scans the used slots other than the current one.
  auto anyOther = [&](auto clashes) {
    for (int slot = 0; slot < kSlotCount && table[slot].entry.Used(); ++slot) {
      if (slot != currentSlot && clashes(table[slot])) return true;
    }
    return false;
  };
  // An all-zero MAC only says that the server did not know it. An entry that already
  // holds one (two units found without a MAC and added together) may still be renamed
  // or moved; a new entry with an all-zero MAC still clashes with such an entry.
  const MacBytes unknownMac{};
  const bool keepsUnknownMac = pending.mac == unknownMac && currentSlot >= 0 &&
                               currentSlot < kSlotCount && table[currentSlot].entry.Used() &&
                               table[currentSlot].macBytes == unknownMac;
  if (!keepsUnknownMac &&
      anyOther([&](const WorkingSlot& s) { return s.macBytes == pending.mac; })) {
    return false;
  }
  if (anyOther([&](const WorkingSlot& s) { return s.entry.deviceName == pending.name; })) {
    return false;
  }
  if (anyOther([&](const WorkingSlot& s) {
        return s.entry.ipAddress == pending.address && s.entry.portIndex == pending.portIndex;
      })) {
    return false;
  }
  for (std::uint32_t active : activeAddresses) {
    if (active == pending.address) return false;
  }
  return true;
}

std::string PortColumnText(std::uint8_t portIndex) { return std::to_string(portIndex + 1); }

std::array<std::string, 4> RowTexts(const WorkingSlot& slot) {
  return {slot.entry.deviceName, AddressColumnText(slot.entry.ipAddress),
          MacColumnText(slot.macBytes), PortColumnText(slot.entry.portIndex)};
}

std::array<std::string, 4> BlankRowTexts() { return {" ", " ", " ", " "}; }

}  // namespace orvel
