#pragma once
// The driver's server program, reached through its top-level window, and the
// exchanges both dialogs hold with it.

#include <cstdint>
#include <optional>
#include <vector>

#include "config/core/device_table.h"

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

// A server that claims more active addresses than this is not believed: no real one
// gives such a reply, and the dialog is not held up by millions of queries.
inline constexpr std::uint32_t kMaxActiveAddresses = 4096;

// The addresses the server is using now: the count, then each by its index. Empty
// when the count is 0 or past kMaxActiveAddresses.
std::vector<std::uint32_t> ReadActiveAddresses(ServerChannel& server);

// The MAC the server knows for `address`, in two replies (bytes 1-4, then 5-6);
// none when either says it knows none.
std::optional<MacBytes> ReadUnitMac(ServerChannel& server, std::uint32_t address);

}  // namespace orvel
