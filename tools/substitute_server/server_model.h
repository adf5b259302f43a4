#pragma once
// What the substitute server knows about its simulated network, and how it answers
// the server messages. No Windows calls, so the rules run in the native tests too.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::substitute {

struct SimulatedUnit {
  std::uint32_t address = 0;  // first octet highest
  bool macKnown = false;
  std::array<std::uint8_t, 6> mac{};
  bool answersProbes = true;

  friend bool operator==(const SimulatedUnit&, const SimulatedUnit&) = default;
};

struct ServerConfig {
  std::vector<SimulatedUnit> units;
  std::vector<std::uint32_t> activeAddresses;
  bool inUse = false;
  // The driver becomes in use once a window ends its registration: the moment
  // between a dialog closing and the save that follows it.
  bool inUseAfterUnregister = false;

  const SimulatedUnit* FindUnit(std::uint32_t address) const;
  friend bool operator==(const ServerConfig&, const ServerConfig&) = default;
};

struct ParseResult {
  std::optional<ServerConfig> config;  // empty when the text has an error
  std::string error;                   // "line N: ..." when config is empty
};

// Units files are small; anything longer is a mistake, not a network.
inline constexpr std::size_t kMaxUnitsFileBytes = 1u << 20;

// Reads the units file format (see win32_substitute_server.cpp for the grammar).
ParseResult ParseServerConfig(std::string_view text);

// "192.168.0.10" -> 0xC0A8000A; empty for anything that is not four octets 0..255.
std::optional<std::uint32_t> ParseAddress(std::string_view text);

// The answer to one message, given the low 32 bits of wParam and lParam. Messages
// that carry no answer (reload, notify-window registration, unknown ones) answer 0.
std::uint32_t Answer(const ServerConfig& config, std::uint32_t message, std::uint32_t wParam,
                     std::uint32_t lParam);

// One line of the message log: a message the server received (with its answer), or a
// notification it sent to the registered window (with the window's answer).
enum class Direction { kReceived, kSent };

struct LogRecord {
  Direction direction = Direction::kReceived;
  std::uint32_t message = 0;
  std::uint32_t wParam = 0;
  std::uint32_t lParam = 0;
  std::uint32_t answer = 0;

  friend bool operator==(const LogRecord&, const LogRecord&) = default;
};

// "in 1345 0x00000000 0xC0A8000A 0x11DEA000\r\n"; "out" for sent notifications.
std::string FormatLogLine(const LogRecord& record);
std::optional<LogRecord> ParseLogLine(std::string_view line);
// Every complete line; a last line still being written (no line break yet) is left out.
// Lines that are not records are skipped.
std::vector<LogRecord> ParseLog(std::string_view text);

}  // namespace orvel::substitute
