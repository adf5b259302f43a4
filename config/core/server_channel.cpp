#include "config/core/server_channel.h"

#include <new>

#include "config/core/server_messages.h"

namespace orvel {

ServerChannel::Answer ServerChannel::Ask(std::uint32_t message, std::uint32_t wParam,
                                         std::uint32_t lParam) {
  if (!Present()) return {StoppedAnswering() ? Reply::kNoAnswer : Reply::kNoServer, 0};
  const std::uint32_t value = Send(message, wParam, lParam);
  if (StoppedAnswering()) return {Reply::kNoAnswer, 0};
  if (!Present()) return {Reply::kNoServer, 0};  // the window went away meanwhile
  return {Reply::kAnswered, value};
}

std::uint32_t ServerAnswerLimitMs(std::uint32_t message) {
  return message == SRVM_PROBE_ADDRESS ? kServerProbeLimitMs : kServerQueryLimitMs;
}

bool ServerWindowChannel::Find() {
  // A hung server's window is still there; finding it again would only bring back the wait.
  if (stoppedAnswering_) return false;
  found_ = FindServerWindow();
  return found_;
}

std::uint32_t ServerWindowChannel::Send(std::uint32_t message, std::uint32_t wParam,
                                        std::uint32_t lParam) {
  if (!Present()) return 0;
  std::uint32_t answer = 0;
  switch (Deliver(message, wParam, lParam, ServerAnswerLimitMs(message), answer)) {
    case Delivery::kAnswered:
      return answer;
    case Delivery::kWindowGone:
      found_ = false;
      return 0;
    case Delivery::kNoAnswer:
      stoppedAnswering_ = true;
      return 0;
  }
  return 0;
}

std::vector<std::uint32_t> ReadActiveAddresses(ServerChannel& server) {
  std::vector<std::uint32_t> addresses;
  const std::uint32_t count = server.Send(SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0);
  if (count == 0 || count > kMaxActiveAddresses) return addresses;
  try {
    addresses.reserve(count);
  } catch (const std::bad_alloc&) {
    return addresses;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    const ServerChannel::Answer address = server.Ask(SRVM_GET_ACTIVE_ADDRESS, i, 0);
    if (address.reply != ServerChannel::Reply::kAnswered) break;
    addresses.push_back(address.value);
  }
  return addresses;
}

std::optional<MacBytes> ReadUnitMac(ServerChannel& server, std::uint32_t address) {
  // A half that got no answer is no MAC, not a MAC of zeros.
  const ServerChannel::Answer lowAnswer = server.Ask(SRVM_GET_MAC_ADDRESS, 0, address);
  if (lowAnswer.reply != ServerChannel::Reply::kAnswered || lowAnswer.value == kNoMacKnown)
    return std::nullopt;
  const ServerChannel::Answer highAnswer = server.Ask(SRVM_GET_MAC_ADDRESS, 1, address);
  if (highAnswer.reply != ServerChannel::Reply::kAnswered || highAnswer.value == kNoMacKnown)
    return std::nullopt;
  const std::uint32_t low = lowAnswer.value;
  const std::uint32_t high = highAnswer.value;
  return MacBytes{static_cast<std::uint8_t>(low),       static_cast<std::uint8_t>(low >> 8),
                  static_cast<std::uint8_t>(low >> 16), static_cast<std::uint8_t>(low >> 24),
                  static_cast<std::uint8_t>(high),      static_cast<std::uint8_t>(high >> 8)};
}

}  // namespace orvel
