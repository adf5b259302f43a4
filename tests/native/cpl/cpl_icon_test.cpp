// The applet's icon file, as the resource compiler and the shell read it.
#include "tools/cpl_icon/cpl_icon.h"

#include <gtest/gtest.h>

namespace orvel::tools {
namespace {

std::uint32_t Read(const std::vector<std::uint8_t>& data, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | data.at(at + i);
  return value;
}

TEST(CplIcon, FileHoldsA16And32PixelImageWithMatchingMasks) {
  const std::vector<std::uint8_t> icon = MakeAppletIcon();
  ASSERT_GE(icon.size(), 6u);
  EXPECT_EQ(Read(icon, 0, 2), 0u);
  EXPECT_EQ(Read(icon, 2, 2), 1u);
  ASSERT_EQ(Read(icon, 4, 2), 2u);

  std::size_t expectedOffset = 6 + 2 * 16;
  for (int i = 0; i < 2; ++i) {
    const std::size_t entry = 6 + 16 * i;
    const std::uint32_t size = i == 0 ? 16 : 32;
    SCOPED_TRACE(size);
    EXPECT_EQ(icon.at(entry), size);
    EXPECT_EQ(icon.at(entry + 1), size);
    EXPECT_EQ(Read(icon, entry + 6, 2), 32u);
    const std::uint32_t bytes = Read(icon, entry + 8, 4);
    const std::uint32_t offset = Read(icon, entry + 12, 4);
    ASSERT_EQ(offset, expectedOffset);
    const std::uint32_t maskStride = 4;  // 16 and 32 pixels both fit one 32-bit unit
    ASSERT_EQ(bytes, 40 + size * size * 4 + maskStride * size);
    ASSERT_LE(offset + bytes, icon.size());
    expectedOffset += bytes;

    EXPECT_EQ(Read(icon, offset, 4), 40u);
    EXPECT_EQ(Read(icon, offset + 4, 4), size);
    EXPECT_EQ(Read(icon, offset + 8, 4), 2 * size);
    EXPECT_EQ(Read(icon, offset + 14, 2), 32u);

    // A mask bit is set exactly where the pixel is fully transparent; both kinds occur.
    int transparent = 0, opaque = 0;
    for (std::uint32_t row = 0; row < size; ++row) {
      for (std::uint32_t x = 0; x < size; ++x) {
        const std::uint8_t alpha = icon.at(offset + 40 + (row * size + x) * 4 + 3);
        const std::uint8_t maskByte =
            icon.at(offset + 40 + size * size * 4 + row * maskStride + x / 8);
        const bool masked = (maskByte & (0x80 >> (x % 8))) != 0;
        EXPECT_EQ(masked, alpha == 0);
        transparent += alpha == 0;
        opaque += alpha == 255;
      }
    }
    EXPECT_GT(transparent, 0);
    EXPECT_GT(opaque, static_cast<int>(size * size / 2));
  }
  EXPECT_EQ(expectedOffset, icon.size());
}

}  // namespace
}  // namespace orvel::tools
