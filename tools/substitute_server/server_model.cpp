#include "tools/substitute_server/server_model.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <initializer_list>

#include "config/core/server_messages.h"

namespace orvel::substitute {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::vector<std::string_view> SplitWords(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Twelve hex digits, optionally grouped by ':' or '-' ("00A0DE112233", "00:a0:de:11:22:33").
std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text) {
  std::array<std::uint8_t, 6> mac{};
  int digits = 0;
  for (char c : text) {
    if (c == ':' || c == '-') continue;
    const int d = HexDigit(c);
    if (d < 0 || digits >= 12) return std::nullopt;
    mac[digits / 2] = static_cast<std::uint8_t>((mac[digits / 2] << 4) | d);
    ++digits;
  }
  if (digits != 12) return std::nullopt;
  return mac;
}

std::optional<bool> ParseYesNo(std::string_view text) {
  if (text == "yes" || text == "1") return true;
  if (text == "no" || text == "0") return false;
  return std::nullopt;
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string.
std::string Text(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (std::string_view part : parts) text.append(part);
  return text;
}

std::string LineError(std::size_t lineNumber, const std::string& what) {
  return Text({"line ", std::to_string(lineNumber), ": ", what});
}

// Parses one "unit" line's words after the keyword; an error text, or empty.
std::string ParseUnit(const std::vector<std::string_view>& words, SimulatedUnit& unit) {
  if (words.size() < 2) return "unit needs an address";
  const auto address = ParseAddress(words[1]);
  if (!address) return Text({"bad address '", words[1], "'"});
  unit.address = *address;
  bool sawMac = false;
  bool sawProbe = false;
  for (std::size_t i = 2; i < words.size(); i += 2) {
    if (i + 1 >= words.size()) return Text({"'", words[i], "' needs a value"});
    const std::string_view key = words[i];
    const std::string_view value = words[i + 1];
    if (key == "mac" && !sawMac) {
      sawMac = true;
      if (value == "none") {
        unit.macKnown = false;
        continue;
      }
      const auto mac = ParseMac(value);
      if (!mac) return Text({"bad MAC '", value, "'"});
      unit.macKnown = true;
      unit.mac = *mac;
    } else if (key == "probe" && !sawProbe) {
      sawProbe = true;
      const auto answers = ParseYesNo(value);
      if (!answers) return Text({"probe must be yes or no, not '", value, "'"});
      unit.answersProbes = *answers;
    } else {
      return Text({"unexpected '", key, "'"});
    }
  }
  return {};
}

}  // namespace

const SimulatedUnit* ServerConfig::FindUnit(std::uint32_t address) const {
  const auto it = std::find_if(units.begin(), units.end(),
                               [address](const SimulatedUnit& u) { return u.address == address; });
  return it == units.end() ? nullptr : &*it;
}

std::optional<std::uint32_t> ParseAddress(std::string_view text) {
  std::uint32_t address = 0;
  int octets = 0;
  std::size_t i = 0;
  while (octets < 4) {
    std::size_t start = i;
    unsigned value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++i;
    }
    if (i == start || value > 255) return std::nullopt;
    address = (address << 8) | value;
    ++octets;
    if (octets < 4) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return address;
}

ParseResult ParseServerConfig(std::string_view text) {
  ParseResult result;
  if (text.size() > kMaxUnitsFileBytes) {
    result.error = Text({"file is longer than ", std::to_string(kMaxUnitsFileBytes), " bytes"});
    return result;
  }
  ServerConfig config;
  bool sawInUse = false;
  std::size_t lineNumber = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (line.find('\0') != std::string_view::npos) {
      result.error = LineError(lineNumber, "NUL character");
      return result;
    }
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    const auto words = SplitWords(line);
    if (words.empty()) continue;
    const std::string_view keyword = words[0];
    if (keyword == "unit") {
      SimulatedUnit unit;
      if (std::string error = ParseUnit(words, unit); !error.empty()) {
        result.error = LineError(lineNumber, error);
        return result;
      }
      if (config.FindUnit(unit.address) != nullptr) {
        result.error = LineError(lineNumber, Text({"second unit at ", words[1]}));
        return result;
      }
      config.units.push_back(unit);
    } else if (keyword == "active") {
      if (words.size() < 2) {
        result.error = LineError(lineNumber, "active needs at least one address");
        return result;
      }
      for (std::size_t i = 1; i < words.size(); ++i) {
        const auto address = ParseAddress(words[i]);
        if (!address) {
          result.error = LineError(lineNumber, Text({"bad address '", words[i], "'"}));
          return result;
        }
        config.activeAddresses.push_back(*address);
      }
    } else if (keyword == "inuse") {
      const auto flag = words.size() == 2 ? ParseYesNo(words[1]) : std::nullopt;
      if (!flag) {
        result.error = LineError(lineNumber, "inuse takes one value, 0 or 1");
        return result;
      }
      if (sawInUse) {
        result.error = LineError(lineNumber, "second inuse line");
        return result;
      }
      sawInUse = true;
      config.inUse = *flag;
    } else if (keyword == "inuse-after-unregister") {
      const auto flag = words.size() == 2 ? ParseYesNo(words[1]) : std::nullopt;
      if (!flag) {
        result.error = LineError(lineNumber, "inuse-after-unregister takes one value, 0 or 1");
        return result;
      }
      config.inUseAfterUnregister = *flag;
    } else {
      result.error = LineError(lineNumber, Text({"unknown keyword '", keyword, "'"}));
      return result;
    }
  }
  result.config = std::move(config);
  return result;
}

std::uint32_t Answer(const ServerConfig& config, std::uint32_t message, std::uint32_t wParam,
                     std::uint32_t lParam) {
  switch (message) {
    case SRVM_PROBE_ADDRESS: {
      const SimulatedUnit* unit = config.FindUnit(lParam);
      return unit != nullptr && unit->answersProbes ? 1u : 0u;
    }
    case SRVM_GET_ACTIVE_ADDRESS:
      if (wParam == kActiveAddressCount) {
        return static_cast<std::uint32_t>(config.activeAddresses.size());
      }
      return wParam < config.activeAddresses.size() ? config.activeAddresses[wParam] : 0u;
    case SRVM_GET_MAC_ADDRESS: {
      const SimulatedUnit* unit = config.FindUnit(lParam);
      if (unit == nullptr || !unit->macKnown) return kNoMacKnown;
      const auto& m = unit->mac;
      if (wParam == 0) {
        return static_cast<std::uint32_t>(m[0]) | static_cast<std::uint32_t>(m[1]) << 8 |
               static_cast<std::uint32_t>(m[2]) << 16 | static_cast<std::uint32_t>(m[3]) << 24;
      }
      if (wParam == 1) {
        return static_cast<std::uint32_t>(m[4]) | static_cast<std::uint32_t>(m[5]) << 8;
      }
      return kNoMacKnown;
    }
    case SRVM_QUERY_IN_USE:
      return config.inUse ? 1u : 0u;
    default:
      return 0;
  }
}

std::string FormatLogLine(const LogRecord& record) {
  char line[80];
  std::snprintf(line, sizeof line, "%s %u 0x%08X 0x%08X 0x%08X\r\n",
                record.direction == Direction::kReceived ? "in" : "out",
                static_cast<unsigned>(record.message), static_cast<unsigned>(record.wParam),
                static_cast<unsigned>(record.lParam), static_cast<unsigned>(record.answer));
  return line;
}

std::optional<LogRecord> ParseLogLine(std::string_view line) {
  const auto words = SplitWords(line);
  if (words.size() != 5) return std::nullopt;
  LogRecord record;
  if (words[0] == "in") {
    record.direction = Direction::kReceived;
  } else if (words[0] == "out") {
    record.direction = Direction::kSent;
  } else {
    return std::nullopt;
  }
  auto parse = [](std::string_view word, int base, std::uint32_t& value) {
    if (base == 16) {
      if (word.size() < 3 || word[0] != '0' || (word[1] != 'x' && word[1] != 'X')) return false;
      word.remove_prefix(2);
    }
    const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
    return ec == std::errc() && ptr == word.data() + word.size();
  };
  if (!parse(words[1], 10, record.message) || !parse(words[2], 16, record.wParam) ||
      !parse(words[3], 16, record.lParam) || !parse(words[4], 16, record.answer)) {
    return std::nullopt;
  }
  return record;
}

std::vector<LogRecord> ParseLog(std::string_view text) {
  std::vector<LogRecord> records;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) break;  // still being written
    if (auto record = ParseLogLine(text.substr(pos, end - pos))) records.push_back(*record);
    pos = end + 1;
  }
  return records;
}

}  // namespace orvel::substitute
