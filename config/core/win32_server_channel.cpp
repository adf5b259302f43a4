#include "config/core/win32_server_channel.h"

#include "config/core/server_messages.h"

namespace orvel {

bool Win32ServerChannel::Find() {
  window_ = FindWindowA(kServerWindowClass, kServerWindowTitle);
  return window_ != nullptr;
}

std::uint32_t Win32ServerChannel::Send(std::uint32_t message, std::uint32_t wParam,
                                       std::uint32_t lParam) {
  if (!window_) return 0;
  // Addresses and the wParam sentinel are 32-bit values on either build.
  return static_cast<std::uint32_t>(
      SendMessageA(window_, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)));
}

}  // namespace orvel
