#include "config/core/win32_server_channel.h"

#include "config/core/server_messages.h"

namespace orvel {

bool Win32ServerChannel::FindServerWindow() {
  window_ = FindWindowA(kServerWindowClass, kServerWindowTitle);
  return window_ != nullptr;
}

ServerWindowChannel::Delivery Win32ServerChannel::Deliver(std::uint32_t message,
                                                          std::uint32_t wParam,
                                                          std::uint32_t lParam,
                                                          std::uint32_t limitMs,
                                                          std::uint32_t& answer) {
  // Not SMTO_BLOCK: the server may send its notices back to this thread while it
  // answers, as it could with SendMessageA.
  DWORD_PTR result = 0;
  // Addresses and the wParam sentinel are 32-bit values on either build.
  const LRESULT sent = SendMessageTimeoutA(
      window_, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam),
      SMTO_ABORTIFHUNG | SMTO_ERRORONEXIT, static_cast<UINT>(limitMs), &result);
  if (sent != 0) {
    answer = static_cast<std::uint32_t>(result);
    return Delivery::kAnswered;
  }
  return IsWindow(window_) ? Delivery::kNoAnswer : Delivery::kWindowGone;
}

}  // namespace orvel
