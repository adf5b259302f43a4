#include "config/core/text_codec.h"

namespace orvel {

std::u16string Latin1Codec::ToWide(std::string_view text) const {
  std::u16string wide;
  wide.reserve(text.size());
  for (char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

std::string Latin1Codec::ToNarrow(std::u16string_view text) const {
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t c : text) narrow.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  return narrow;
}

}  // namespace orvel
