// The substitute server's units file and answers, without Windows.
#include "tools/substitute_server/server_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "config/core/server_messages.h"

namespace orvel::substitute {
namespace {

TEST(SubstituteServerUnitsFile, ReadsEveryStatement) {
  const auto result = ParseServerConfig(
      "# demo\r\n"
      "unit 192.168.0.10 mac 00A0DE112233 probe yes\r\n"
      "  unit\t10.0.0.1   probe no   mac 00:a0:de:44:55:66  # trailing comment\n"
      "unit 255.255.255.255\n"
      "\n"
      "active 192.168.0.5 192.168.0.6\n"
      "active 0.0.0.0\n"
      "inuse 1");  // no final line break
  ASSERT_TRUE(result.config) << result.error;
  const ServerConfig& c = *result.config;
  ASSERT_EQ(c.units.size(), 3u);
  EXPECT_EQ(c.units[0],
            (SimulatedUnit{0xC0A8000Au, true, {0x00, 0xA0, 0xDE, 0x11, 0x22, 0x33}, true}));
  EXPECT_EQ(c.units[1],
            (SimulatedUnit{0x0A000001u, true, {0x00, 0xA0, 0xDE, 0x44, 0x55, 0x66}, false}));
  EXPECT_EQ(c.units[2], (SimulatedUnit{0xFFFFFFFFu, false, {}, true}));
  EXPECT_EQ(c.activeAddresses, (std::vector<std::uint32_t>{0xC0A80005u, 0xC0A80006u, 0u}));
  EXPECT_TRUE(c.inUse);
}

TEST(SubstituteServerUnitsFile, EmptyFileMeansNoUnitsAndFree) {
  const auto result = ParseServerConfig("");
  ASSERT_TRUE(result.config);
  EXPECT_EQ(*result.config, ServerConfig{});
}

TEST(SubstituteServerUnitsFile, RejectsBadLinesNamingTheLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"unit", "line 1: unit needs an address"},
      {"\nunit 192.168.0.256", "line 2: bad address '192.168.0.256'"},
      {"unit 192.168.0", "line 1: bad address '192.168.0'"},
      {"unit 192.168.0.1.", "line 1: bad address '192.168.0.1.'"},
      {"unit 192.168..1", "line 1: bad address '192.168..1'"},
      {"unit 1920.168.0.1", "line 1: bad address '1920.168.0.1'"},
      {"unit -1.0.0.1", "line 1: bad address '-1.0.0.1'"},
      {"unit 1.2.3.4 mac 00A0DE11223", "line 1: bad MAC '00A0DE11223'"},
      {"unit 1.2.3.4 mac 00A0DE1122334", "line 1: bad MAC '00A0DE1122334'"},
      {"unit 1.2.3.4 mac 00A0DE11223G", "line 1: bad MAC '00A0DE11223G'"},
      {"unit 1.2.3.4 mac", "line 1: 'mac' needs a value"},
      {"unit 1.2.3.4 probe maybe", "line 1: probe must be yes or no, not 'maybe'"},
      {"unit 1.2.3.4 mac none mac none", "line 1: unexpected 'mac'"},
      {"unit 1.2.3.4 colour red", "line 1: unexpected 'colour'"},
      {"unit 1.2.3.4\nunit 1.2.3.4 probe no", "line 2: second unit at 1.2.3.4"},
      {"active", "line 1: active needs at least one address"},
      {"active 1.2.3.4 x", "line 1: bad address 'x'"},
      {"inuse", "line 1: inuse takes one value, 0 or 1"},
      {"inuse 2", "line 1: inuse takes one value, 0 or 1"},
      {"inuse 0 1", "line 1: inuse takes one value, 0 or 1"},
      {"inuse 0\ninuse 1", "line 2: second inuse line"},
      {"Unit 1.2.3.4", "line 1: unknown keyword 'Unit'"},
  };
  for (const auto& c : cases) {
    const auto result = ParseServerConfig(c.text);
    EXPECT_FALSE(result.config) << c.text;
    EXPECT_EQ(result.error, c.error) << c.text;
  }
  const auto nul = ParseServerConfig(std::string_view("unit 1.2.3.4\nunit 1.2.3.5\0\n", 27));
  EXPECT_FALSE(nul.config);
  EXPECT_EQ(nul.error, "line 2: NUL character");

  const auto huge = ParseServerConfig(std::string(kMaxUnitsFileBytes + 1, '#'));
  EXPECT_FALSE(huge.config);
}

TEST(SubstituteServerUnitsFile, DemoUnitsHaveEveryKindOfUnit) {
  std::ifstream in(ORVEL_DEMO_UNITS_FILE, std::ios::binary);
  ASSERT_TRUE(in) << ORVEL_DEMO_UNITS_FILE;
  std::stringstream text;
  text << in.rdbuf();
  const auto result = ParseServerConfig(text.str());
  ASSERT_TRUE(result.config) << result.error;
  const auto& units = result.config->units;
  const auto has = [&](bool macKnown, bool answersProbes) {
    return std::any_of(units.begin(), units.end(), [&](const SimulatedUnit& u) {
      return u.macKnown == macKnown && u.answersProbes == answersProbes;
    });
  };
  EXPECT_TRUE(has(true, true));
  EXPECT_TRUE(has(false, true));
  EXPECT_TRUE(has(true, false));
  EXPECT_FALSE(result.config->activeAddresses.empty());
  EXPECT_FALSE(result.config->inUse);
}

TEST(SubstituteServerAnswers, FollowTheProtocolTable) {
  const auto parsed = ParseServerConfig(
      "unit 192.168.0.10 mac 00A0DE112233\n"
      "unit 192.168.0.11 mac none\n"
      "unit 192.168.0.12 mac FFFFFFFF0102 probe no\n"
      "active 192.168.0.5 10.0.0.7\n");
  ASSERT_TRUE(parsed.config) << parsed.error;
  const ServerConfig& c = *parsed.config;
  const struct {
    std::uint32_t message, wParam, lParam, answer;
  } cases[] = {
      {SRVM_PROBE_ADDRESS, 0, 0xC0A8000A, 1},
      {SRVM_PROBE_ADDRESS, 7, 0xC0A8000B, 1},
      {SRVM_PROBE_ADDRESS, 0, 0xC0A8000C, 0},  // does not answer probes
      {SRVM_PROBE_ADDRESS, 0, 0xC0A8000D, 0},  // nobody there
      {SRVM_GET_MAC_ADDRESS, 0, 0xC0A8000A, 0x11DEA000},
      {SRVM_GET_MAC_ADDRESS, 1, 0xC0A8000A, 0x3322},
      {SRVM_GET_MAC_ADDRESS, 2, 0xC0A8000A, kNoMacKnown},
      {SRVM_GET_MAC_ADDRESS, 0, 0xC0A8000B, kNoMacKnown},
      {SRVM_GET_MAC_ADDRESS, 1, 0xC0A8000B, kNoMacKnown},
      {SRVM_GET_MAC_ADDRESS, 0, 0xC0A8000C, 0xFFFFFFFF},  // known, and all ones: as is
      {SRVM_GET_MAC_ADDRESS, 1, 0xC0A8000C, 0x0201},
      {SRVM_GET_MAC_ADDRESS, 0, 0xC0A8000D, kNoMacKnown},
      {SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0, 2},
      {SRVM_GET_ACTIVE_ADDRESS, 0, 0, 0xC0A80005},
      {SRVM_GET_ACTIVE_ADDRESS, 1, 0, 0x0A000007},
      {SRVM_GET_ACTIVE_ADDRESS, 2, 0, 0},
      {SRVM_GET_ACTIVE_ADDRESS, 0xFFFFFFFE, 0, 0},
      {SRVM_QUERY_IN_USE, 0, 0, 0},
      {SRVM_RELOAD_SETTINGS, 0, 0, 0},
      {SRVM_SET_NOTIFY_WINDOW, 0x1234, 1, 0},
      {0x400, 5, 6, 0},
  };
  for (const auto& k : cases) {
    EXPECT_EQ(Answer(c, k.message, k.wParam, k.lParam), k.answer)
        << k.message << " " << k.wParam << " " << std::hex << k.lParam;
  }
  ServerConfig busy = c;
  busy.inUse = true;
  EXPECT_EQ(Answer(busy, SRVM_QUERY_IN_USE, 0, 0), 1u);
  EXPECT_EQ(Answer(ServerConfig{}, SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0), 0u);
  EXPECT_EQ(Answer(ServerConfig{}, SRVM_GET_ACTIVE_ADDRESS, 0, 0), 0u);
}

TEST(SubstituteServerLog, LinesReadBackAndHalfLinesWait) {
  const LogRecord in{Direction::kReceived, SRVM_GET_MAC_ADDRESS, 0, 0xC0A8000A, 0xFFFFFFFF};
  const LogRecord out{Direction::kSent, SRVM_USE_STATE_CHANGED, 0, 1, 0};
  EXPECT_EQ(FormatLogLine(in), "in 1345 0x00000000 0xC0A8000A 0xFFFFFFFF\r\n");
  EXPECT_EQ(FormatLogLine(out), "out 1426 0x00000000 0x00000001 0x00000000\r\n");

  const std::string text = FormatLogLine(in) + "garbage line\n" + FormatLogLine(out) +
                           "in 1345 0x0 0x1\n" + "in 1345 1 0x0 0x0 0x0\n" +
                           "in 1345 0x0 0x0 0x100000000\n" + FormatLogLine(in);
  EXPECT_EQ(ParseLog(text), (std::vector<LogRecord>{in, out, in}));
  // A line the server is still writing is not a record yet.
  EXPECT_EQ(ParseLog(text + "in 1345 0x0000"), (std::vector<LogRecord>{in, out, in}));
}

}  // namespace
}  // namespace orvel::substitute
