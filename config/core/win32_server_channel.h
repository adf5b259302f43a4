#pragma once

#include <windows.h>

#include "config/core/server_channel.h"

namespace orvel {

// The server's top-level window, found by class and title.
class Win32ServerChannel : public ServerWindowChannel {
 public:
  HWND window() const { return window_; }

 protected:
  bool FindServerWindow() override;
  Delivery Deliver(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam,
                   std::uint32_t limitMs, std::uint32_t& answer) override;

 private:
  HWND window_ = nullptr;
};

}  // namespace orvel
