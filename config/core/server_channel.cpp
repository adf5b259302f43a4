#include "config/core/server_channel.h"

#include <new>

#include "config/core/server_messages.h"

namespace orvel {

std::vector<std::uint32_t> ReadActiveAddresses(ServerChannel& server) {
  std::vector<std::uint32_t> addresses;
  const std::uint32_t count = server.Send(SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0);
  if (count == 0 || count > kMaxActiveAddresses) return addresses;
  try {
    addresses.reserve(count);
  } catch (const std::bad_alloc&) {
    return addresses;
  }
  for (std::uint32_t i = 0; i < count; ++i)
    addresses.push_back(server.Send(SRVM_GET_ACTIVE_ADDRESS, i, 0));
  return addresses;
}

std::optional<MacBytes> ReadUnitMac(ServerChannel& server, std::uint32_t address) {
  const std::uint32_t low = server.Send(SRVM_GET_MAC_ADDRESS, 0, address);
  if (low == kNoMacKnown) return std::nullopt;
  const std::uint32_t high = server.Send(SRVM_GET_MAC_ADDRESS, 1, address);
  if (high == kNoMacKnown) return std::nullopt;
  return MacBytes{static_cast<std::uint8_t>(low),       static_cast<std::uint8_t>(low >> 8),
                  static_cast<std::uint8_t>(low >> 16), static_cast<std::uint8_t>(low >> 24),
                  static_cast<std::uint8_t>(high),      static_cast<std::uint8_t>(high >> 8)};
}

}  // namespace orvel
