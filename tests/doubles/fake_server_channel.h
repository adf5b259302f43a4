#pragma once
// A server channel that answers like the substitute server: units with or without
// a known MAC, the active addresses, the in-use flag; it records every message. The
// window rules (bounded waits, a server that did not answer is gone) are the product's.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "config/core/server_channel.h"
#include "config/core/server_messages.h"

namespace orvel::testing {

class FakeServerChannel : public ServerWindowChannel {
 public:
  struct Message {
    std::uint32_t message, wParam, lParam;
    friend bool operator==(const Message&, const Message&) = default;
  };

  std::vector<std::uint32_t> MessageNumbers() const {
    std::vector<std::uint32_t> numbers;
    for (const Message& m : messages) numbers.push_back(m.message);
    return numbers;
  }

  bool running = true;
  // The server's window is there but its thread no longer takes messages.
  bool hung = false;
  // Hangs once this many messages have been answered.
  std::optional<std::size_t> hangAfter;
  bool inUse = false;
  std::vector<std::uint32_t> active;
  std::map<std::uint32_t, std::array<std::uint8_t, 6>> macs;
  std::map<std::uint32_t, bool> answering;
  std::vector<Message> messages;  // the answered ones
  std::vector<Message> unanswered;
  std::vector<std::uint32_t> limitsMs;  // each delivered message's wait limit
  int findCalls = 0;

 protected:
  bool FindServerWindow() override {
    ++findCalls;
    return running;
  }

  Delivery Deliver(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam,
                   std::uint32_t limitMs, std::uint32_t& answer) override {
    limitsMs.push_back(limitMs);
    if (!running) return Delivery::kWindowGone;
    if (hangAfter && messages.size() >= *hangAfter) hung = true;
    if (hung) {
      unanswered.push_back({message, wParam, lParam});
      return Delivery::kNoAnswer;
    }
    messages.push_back({message, wParam, lParam});
    answer = AnswerTo(message, wParam, lParam);
    return Delivery::kAnswered;
  }

 private:
  std::uint32_t AnswerTo(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) const {
    switch (message) {
      case SRVM_QUERY_IN_USE:
        return inUse ? 1 : 0;
      case SRVM_GET_ACTIVE_ADDRESS:
        if (wParam == kActiveAddressCount) return static_cast<std::uint32_t>(active.size());
        return wParam < active.size() ? active[wParam] : 0;
      case SRVM_GET_MAC_ADDRESS: {
        const auto it = macs.find(lParam);
        if (it == macs.end()) return kNoMacKnown;
        const auto& b = it->second;
        if (wParam == 0)
          return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
        return b[4] | b[5] << 8;
      }
      case SRVM_PROBE_ADDRESS:
        return answering.count(lParam) ? 1 : 0;
      default:
        return 0;
    }
  }
};

}  // namespace orvel::testing
