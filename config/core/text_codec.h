#pragma once
// Conversion between the program's 8-bit text and UTF-16, the form in which the
// INI model compares names and cuts values. Under Windows this is the ANSI code
// page (win32_ansi_codec.h); natively, tests use Latin-1.

#include <string>
#include <string_view>

namespace orvel {

class TextCodec {
 public:
  virtual ~TextCodec() = default;
  virtual std::u16string ToWide(std::string_view text) const = 0;
  virtual std::string ToNarrow(std::u16string_view text) const = 0;
};

// Bytes 0..255 are U+0000..U+00FF; anything wider becomes '?', as a code page
// without that character would give.
class Latin1Codec final : public TextCodec {
 public:
  std::u16string ToWide(std::string_view text) const override;
  std::string ToNarrow(std::u16string_view text) const override;
};

}  // namespace orvel
