#include "config/core/win32_ansi_codec.h"

#include <windows.h>

#include <climits>

namespace orvel {
namespace {

// Every ANSI code page of Windows agrees with ASCII, and nearly all settings text
// is ASCII: that needs no call.
bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

bool IsAscii(std::u16string_view text) {
  for (char16_t c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::u16string AnsiCodePageCodec::ToWide(std::string_view text) const {
  if (IsAscii(text)) return std::u16string(text.begin(), text.end());
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  const int written = MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), needed);
  if (written <= 0) return {};
  return std::u16string(wide.begin(), wide.begin() + written);
}

std::string AnsiCodePageCodec::ToNarrow(std::u16string_view text) const {
  if (IsAscii(text)) return std::string(text.begin(), text.end());
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const std::wstring wide(text.begin(), text.end());
  const int length = static_cast<int>(wide.size());
  const int needed =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), length, narrow.data(), needed, nullptr, nullptr);
  if (written <= 0) return {};
  narrow.resize(static_cast<std::size_t>(written));
  return narrow;
}

}  // namespace orvel
