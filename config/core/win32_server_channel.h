#pragma once

#include <windows.h>

#include "config/core/server_channel.h"

namespace orvel {

// The server's top-level window, found by class and title.
class Win32ServerChannel : public ServerChannel {
 public:
  bool Find() override;
  bool Present() const override { return window_ != nullptr; }
  std::uint32_t Send(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override;
  HWND window() const { return window_; }

 private:
  HWND window_ = nullptr;
};

}  // namespace orvel
