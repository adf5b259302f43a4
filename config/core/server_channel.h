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
  // Whether a message got the server's answer.
  enum class Reply { kAnswered, kNoServer, kNoAnswer };
  struct Answer {
    Reply reply = Reply::kNoServer;
    std::uint32_t value = 0;
  };

  virtual ~ServerChannel() = default;
  // Looks for the server's window again (FindWindowA); true when it exists.
  virtual bool Find() = 0;
  // True when the last Find saw the window and it has answered every message since.
  virtual bool Present() const = 0;
  // The message's answer; 0 when there is no window or it did not answer.
  virtual std::uint32_t Send(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) = 0;
  // True once the server's window failed to answer a message; it then counts as
  // gone for the rest of the run, but a caller can still tell it from no server.
  virtual bool StoppedAnswering() const { return false; }

  // Send, telling an answer of 0 from no server and from a server that did not answer.
  Answer Ask(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);
};

// How long a message may wait for the server's answer. A probe waits on the
// network for a unit; everything else the server answers from what it holds.
inline constexpr std::uint32_t kServerProbeLimitMs = 5000;
inline constexpr std::uint32_t kServerQueryLimitMs = 3000;
std::uint32_t ServerAnswerLimitMs(std::uint32_t message);

// The rules of talking to the server's window over the two platform calls: every
// message waits a bounded time, and a server that did not answer once is not
// looked for, waited for or registered with again, so that a hung server costs
// one wait per run.
class ServerWindowChannel : public ServerChannel {
 public:
  bool Find() override;
  bool Present() const override { return found_ && !stoppedAnswering_; }
  std::uint32_t Send(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override;
  bool StoppedAnswering() const override { return stoppedAnswering_; }

 protected:
  enum class Delivery { kAnswered, kWindowGone, kNoAnswer };
  // FindWindowA by the server's class and title.
  virtual bool FindServerWindow() = 0;
  // The message to the window found last, waiting at most `limitMs` for its
  // answer, and not at all for a window the system already counts as hung.
  virtual Delivery Deliver(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam,
                           std::uint32_t limitMs, std::uint32_t& answer) = 0;

 private:
  bool found_ = false;
  bool stoppedAnswering_ = false;
};

// A server that claims more active addresses than this is not believed: no real one
// gives such a reply, and the dialog is not held up by millions of queries.
inline constexpr std::uint32_t kMaxActiveAddresses = 4096;

// The addresses the server is using now: the count, then each by its index. Empty
// when the count is 0 or past kMaxActiveAddresses; up to the first index that got no
// answer.
std::vector<std::uint32_t> ReadActiveAddresses(ServerChannel& server);

// The MAC the server knows for `address`, in two replies (bytes 1-4, then 5-6);
// none when either says it knows none or gets no answer.
std::optional<MacBytes> ReadUnitMac(ServerChannel& server, std::uint32_t address);

}  // namespace orvel
