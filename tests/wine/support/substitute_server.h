#pragma once
// The substitute server, started and steered by a test. One object owns one server
// process and its temporary units and log files; the destructor stops the server and
// removes the files, so a failing test never leaves one running.
//
//   SubstituteServer server("unit 192.168.0.10 mac 00A0DE112233\ninuse 0\n");
//   ASSERT_TRUE(server.Running()) << server.Error();
//   ... run the program under test ...
//   EXPECT_EQ(server.Received(), (std::vector<ServerLogRecord>{...}));
//
// The units file format is documented in tools/substitute_server/win32_substitute_server.cpp.
// Programs find the server by its window, so only one may run per Wine prefix: give every
// test binary that uses this the ctest property RESOURCE_LOCK orvel_server_window.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/wine/support/process_util.h"
#include "tools/substitute_server/server_model.h"

namespace orvel::test {

using ServerLogRecord = substitute::LogRecord;
using substitute::Direction;

// A received message and its answer, for comparing conversations.
inline ServerLogRecord In(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam,
                          std::uint32_t answer) {
  return {Direction::kReceived, message, wParam, lParam, answer};
}

class SubstituteServer {
 public:
  struct Options {
    DWORD probeDelayMs = 0;
    DWORD startTimeoutMs = 20000;
  };

  // Starts the server on a units file with this text and waits for its window.
  explicit SubstituteServer(const std::string& unitsText);
  SubstituteServer(const std::string& unitsText, Options options);
  SubstituteServer(const SubstituteServer&) = delete;
  SubstituteServer& operator=(const SubstituteServer&) = delete;
  ~SubstituteServer();

  // True once the window exists and until Stop; Error() tells what went wrong.
  bool Running() const { return window_ != nullptr; }
  const std::string& Error() const { return error_; }
  HWND Window() const { return window_; }
  DWORD ProcessId() const { return process_.Id(); }
  const std::string& UnitsPath() const { return unitsPath_; }
  const std::string& LogPath() const { return logPath_; }

  // Every record so far, received and sent, in order.
  std::vector<ServerLogRecord> Log() const;
  // Only the messages the server received.
  std::vector<ServerLogRecord> Received() const;

  // Replaces the units file and makes the server read it; false when it refused it.
  bool ReplaceUnits(const std::string& unitsText);
  bool SetInUse(bool inUse);
  // Send a notification to the window registered with SRVM_SET_NOTIFY_WINDOW; true
  // when one was registered and took it. Returns after the window has handled it.
  bool SendUseStateChanged(std::uint32_t lParam);
  bool SendRecheckDevices();
  // The server takes no message for `milliseconds` from now, as a hung one does.
  bool StopAnswering(DWORD milliseconds);

  // WM_CLOSE, then waits; terminates the process as a last resort, and at once after
  // StopAnswering. True when the server ended by itself with exit code 0.
  bool Stop(DWORD timeoutMs = 10000);

 private:
  bool Control(std::uint32_t message, WPARAM wParam, LPARAM lParam);

  TempFolder folder_;
  std::string unitsPath_;
  std::string logPath_;
  ChildProcess process_;
  HWND window_ = nullptr;
  bool stoppedAnswering_ = false;
  std::string error_;
};

// The built server's path, as Windows sees it.
std::string SubstituteServerPath();

}  // namespace orvel::test
