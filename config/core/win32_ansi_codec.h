#pragma once
// The system's ANSI code page, as the A profile functions convert with it.

#include "config/core/text_codec.h"

namespace orvel {

class AnsiCodePageCodec final : public TextCodec {
 public:
  std::u16string ToWide(std::string_view text) const override;
  std::string ToNarrow(std::u16string_view text) const override;
};

}  // namespace orvel
