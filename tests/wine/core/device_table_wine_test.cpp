// The device table over the real kernel32 profile functions.
#include <windows.h>

#include <gtest/gtest.h>

#include "config/core/device_table.h"

namespace orvel {
namespace {

TEST(DeviceTableOnWindows, AddressWithHighFirstOctetRoundTripsThroughSignedText) {
  // The stored form is "%d": 192.168.0.2 must come back from -1062731774.
  char text[32];
  wsprintfA(text, "%d", static_cast<int>(0xC0A80002u));
  EXPECT_STREQ(text, "-1062731774");
  EXPECT_EQ(static_cast<std::uint32_t>(std::stol(text)), 0xC0A80002u);
}

}  // namespace
}  // namespace orvel
