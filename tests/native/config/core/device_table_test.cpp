#include "config/core/device_table.h"

#include <gtest/gtest.h>

#include "tests/doubles/memory_profile_store.h"

namespace orvel {
namespace {

TEST(ParseMacText, ReadsPairsLikeStrtol) {
  struct Case {
    std::string text;
    MacBytes bytes;
  };
  const Case cases[] = {
      {"", {0, 0, 0, 0, 0, 0}},
      {"00", {0, 0, 0, 0, 0, 0}},
      {"00A0DE", {0x00, 0xA0, 0xDE, 0, 0, 0}},
      {"00a0de123456", {0x00, 0xA0, 0xDE, 0x12, 0x34, 0x56}},
      {"00A0DE123456FF", {0x00, 0xA0, 0xDE, 0x12, 0x34, 0x56}},  // past twelve: ignored
      {"G11G", {0x00, 0x01, 0, 0, 0, 0}},
      {" 1-1+1", {0x01, 0xFF, 0x01, 0, 0, 0}},  // blank and sign accepted
      {"FFFFFFFFFFFF", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseMacText(c.text), c.bytes) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace orvel
