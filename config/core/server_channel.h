#pragma once
// The driver's server program, reached through its top-level window.

#include <cstdint>

namespace orvel {

class ServerChannel {
 public:
  virtual ~ServerChannel() = default;
  // Looks for the server's window again (FindWindowA); true when it exists.
  virtual bool Find() = 0;
  // True when the last Find saw the window.
  virtual bool Present() const = 0;
  // SendMessageA to the window; 0 when there is none.
  virtual std::uint32_t Send(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) = 0;
};

}  // namespace orvel
