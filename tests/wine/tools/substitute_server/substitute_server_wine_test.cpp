// The substitute server as a real process: its window, answers, log and notifications.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "tests/doubles/pinned_server_protocol.h"
#include "tests/wine/support/process_util.h"
#include "tests/wine/support/substitute_server.h"
#include "tools/substitute_server/control_messages.h"

namespace orvel::test {
namespace {

constexpr char kUnits[] =
    "unit 192.168.0.10 mac 00A0DE112233 probe yes\n"
    "unit 192.168.0.11 mac none probe yes\n"
    "unit 192.168.0.12 mac 00A0DE445566 probe no\n"
    "active 192.168.0.5 10.1.2.3\n"
    "inuse 0\n";

constexpr std::uint32_t kKnownMac = 0xC0A8000A;
constexpr std::uint32_t kNoMac = 0xC0A8000B;
constexpr std::uint32_t kSilent = 0xC0A8000C;
constexpr std::uint32_t kNobody = 0xC0A8000D;

std::uint32_t Send(HWND window, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) {
  return static_cast<std::uint32_t>(SendMessageA(window, message, wParam, lParam));
}

TEST(SubstituteServer, AnswersEveryMessageAsTabledAndLogsTheConversation) {
  SubstituteServer server(kUnits);
  ASSERT_TRUE(server.Running()) << server.Error();
  EXPECT_EQ(FindWindowA(kServerWindowClass, kServerWindowTitle), server.Window());

  const ServerLogRecord conversation[] = {
      In(SRVM_QUERY_IN_USE, 0, 0, 0),
      In(SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0, 2),
      In(SRVM_GET_ACTIVE_ADDRESS, 0, 0, 0xC0A80005),
      In(SRVM_GET_ACTIVE_ADDRESS, 1, 0, 0x0A010203),
      In(SRVM_GET_ACTIVE_ADDRESS, 2, 0, 0),
      In(SRVM_GET_MAC_ADDRESS, 0, kKnownMac, 0x11DEA000),
      In(SRVM_GET_MAC_ADDRESS, 1, kKnownMac, 0x00003322),
      In(SRVM_GET_MAC_ADDRESS, 0, kNoMac, kNoMacKnown),
      In(SRVM_GET_MAC_ADDRESS, 1, kNoMac, kNoMacKnown),
      In(SRVM_GET_MAC_ADDRESS, 0, kSilent, 0x44DEA000),
      In(SRVM_GET_MAC_ADDRESS, 1, kSilent, 0x00006655),
      In(SRVM_GET_MAC_ADDRESS, 0, kNobody, kNoMacKnown),
      In(SRVM_PROBE_ADDRESS, 0, kKnownMac, 1),
      In(SRVM_PROBE_ADDRESS, 1, kNoMac, 1),
      In(SRVM_PROBE_ADDRESS, 2, kSilent, 0),
      In(SRVM_PROBE_ADDRESS, 3, kNobody, 0),
      In(SRVM_RELOAD_SETTINGS, 0, 0, 0),
      In(0x0401, 7, 8, 0),  // not a server message: answered 0, still logged
  };
  for (const auto& r : conversation) {
    EXPECT_EQ(Send(server.Window(), r.message, r.wParam, r.lParam), r.answer)
        << r.message << " " << r.wParam << " " << std::hex << r.lParam;
  }
  // Control messages are no part of the conversation.
  EXPECT_TRUE(server.SetInUse(false));
  EXPECT_EQ(server.Log(),
            std::vector<ServerLogRecord>(std::begin(conversation), std::end(conversation)));
  EXPECT_TRUE(server.Stop());
}

TEST(SubstituteServer, InUseFlagComesFromTheFileAndChangesAtRunTime) {
  SubstituteServer server("inuse 1\n");
  ASSERT_TRUE(server.Running()) << server.Error();
  EXPECT_EQ(Send(server.Window(), SRVM_QUERY_IN_USE, 0, 0), 1u);
  EXPECT_TRUE(server.SetInUse(false));
  EXPECT_EQ(Send(server.Window(), SRVM_QUERY_IN_USE, 0, 0), 0u);
  EXPECT_TRUE(server.SetInUse(true));
  EXPECT_EQ(Send(server.Window(), SRVM_QUERY_IN_USE, 0, 0), 1u);
  EXPECT_EQ(server.Received(), (std::vector<ServerLogRecord>{In(SRVM_QUERY_IN_USE, 0, 0, 1),
                                                             In(SRVM_QUERY_IN_USE, 0, 0, 0),
                                                             In(SRVM_QUERY_IN_USE, 0, 0, 1)}));
}

TEST(SubstituteServer, ReloadTakesANewUnitsFileAndKeepsTheOldOneOnError) {
  SubstituteServer server(kUnits);
  ASSERT_TRUE(server.Running()) << server.Error();
  ASSERT_TRUE(server.ReplaceUnits("unit 192.168.0.13 mac 010203040506 probe yes\ninuse 1\n"));
  EXPECT_EQ(Send(server.Window(), SRVM_PROBE_ADDRESS, 0, kKnownMac), 0u);
  EXPECT_EQ(Send(server.Window(), SRVM_PROBE_ADDRESS, 0, 0xC0A8000D), 1u);
  EXPECT_EQ(Send(server.Window(), SRVM_GET_MAC_ADDRESS, 0, 0xC0A8000D), 0x04030201u);
  EXPECT_EQ(Send(server.Window(), SRVM_GET_ACTIVE_ADDRESS, kActiveAddressCount, 0), 0u);
  EXPECT_EQ(Send(server.Window(), SRVM_QUERY_IN_USE, 0, 0), 1u);

  EXPECT_FALSE(server.ReplaceUnits("unit 192.168.0.300\n"));
  EXPECT_EQ(Send(server.Window(), SRVM_PROBE_ADDRESS, 0, 0xC0A8000D), 1u);
  EXPECT_EQ(Send(server.Window(), SRVM_QUERY_IN_USE, 0, 0), 1u);
}

// A window like the main dialog: records the notifications, and on a re-check asks the
// server for a MAC while the server waits for it.
struct NotifyTarget {
  struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
  };
  HWND server = nullptr;
  std::vector<Seen> seen;
  HWND window = nullptr;

  static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<NotifyTarget*>(GetWindowLongPtrA(w, GWLP_USERDATA));
    if (self != nullptr && (message == SRVM_USE_STATE_CHANGED || message == SRVM_RECHECK_DEVICES)) {
      self->seen.push_back({message, wParam, lParam});
      if (message == SRVM_RECHECK_DEVICES) Send(self->server, SRVM_GET_MAC_ADDRESS, 0, kKnownMac);
      return 0x77;
    }
    return DefWindowProcA(w, message, wParam, lParam);
  }

  explicit NotifyTarget(HWND serverWindow) : server(serverWindow) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Proc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "OrvelNotifyTarget";
    RegisterClassA(&windowClass);  // fails harmlessly when a previous test registered it
    window = CreateWindowExA(0, "OrvelNotifyTarget", "target", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~NotifyTarget() {
    if (window != nullptr) DestroyWindow(window);
  }
  std::uint32_t Handle() const {
    return static_cast<std::uint32_t>(reinterpret_cast<UINT_PTR>(window));
  }
};

TEST(SubstituteServer, NotificationsReachTheRegisteredWindowUntilItUnregisters) {
  SubstituteServer server(kUnits);
  ASSERT_TRUE(server.Running()) << server.Error();
  NotifyTarget target(server.Window());
  ASSERT_NE(target.window, nullptr);

  // Nobody registered yet.
  EXPECT_FALSE(server.SendUseStateChanged(1));
  EXPECT_FALSE(server.SendRecheckDevices());

  EXPECT_EQ(Send(server.Window(), SRVM_SET_NOTIFY_WINDOW, target.Handle(), 1), 0u);
  EXPECT_TRUE(server.SendUseStateChanged(0));
  EXPECT_TRUE(server.SendUseStateChanged(1));
  EXPECT_TRUE(server.SendRecheckDevices());
  ASSERT_EQ(target.seen.size(), 3u);
  EXPECT_EQ(target.seen[0].message, SRVM_USE_STATE_CHANGED);
  EXPECT_EQ(target.seen[0].lParam, 0);
  EXPECT_EQ(target.seen[1].message, SRVM_USE_STATE_CHANGED);
  EXPECT_EQ(target.seen[1].lParam, 1);
  EXPECT_EQ(target.seen[2].message, SRVM_RECHECK_DEVICES);
  for (const auto& s : target.seen) EXPECT_EQ(s.wParam, 0u);

  EXPECT_EQ(Send(server.Window(), SRVM_SET_NOTIFY_WINDOW, 0, 0), 0u);
  EXPECT_FALSE(server.SendUseStateChanged(1));
  EXPECT_FALSE(server.SendRecheckDevices());
  EXPECT_EQ(target.seen.size(), 3u);

  // The window's own question during the re-check is logged before the re-check ends.
  const Direction kOut = Direction::kSent;
  EXPECT_EQ(server.Log(), (std::vector<ServerLogRecord>{
                              In(SRVM_SET_NOTIFY_WINDOW, target.Handle(), 1, 0),
                              {kOut, SRVM_USE_STATE_CHANGED, 0, 0, 0x77},
                              {kOut, SRVM_USE_STATE_CHANGED, 0, 1, 0x77},
                              In(SRVM_GET_MAC_ADDRESS, 0, kKnownMac, 0x11DEA000),
                              {kOut, SRVM_RECHECK_DEVICES, 0, 0, 0x77},
                              In(SRVM_SET_NOTIFY_WINDOW, 0, 0, 0),
                          }));
}

TEST(SubstituteServer, ARegisteredWindowThatIsGoneGetsNothing) {
  SubstituteServer server(kUnits);
  ASSERT_TRUE(server.Running()) << server.Error();
  {
    NotifyTarget target(server.Window());
    Send(server.Window(), SRVM_SET_NOTIFY_WINDOW, target.Handle(), 1);
  }
  EXPECT_FALSE(server.SendUseStateChanged(1));
  EXPECT_EQ(server.Log().size(), 1u);
}

TEST(SubstituteServer, ABadUnitsFileStopsItAtStart) {
  SubstituteServer server("unit 192.168.0.1 mac 12\n");
  EXPECT_FALSE(server.Running());
  EXPECT_NE(server.Error().find("exit code 2"), std::string::npos) << server.Error();
  EXPECT_EQ(FindWindowA(kServerWindowClass, kServerWindowTitle), nullptr);
}

TEST(SubstituteServer, StopClosesTheWindowAndEndsTheProcess) {
  SubstituteServer server(kUnits);
  ASSERT_TRUE(server.Running()) << server.Error();
  const DWORD id = server.ProcessId();
  EXPECT_TRUE(server.Stop());
  EXPECT_FALSE(server.Running());
  EXPECT_EQ(FindWindowA(kServerWindowClass, kServerWindowTitle), nullptr);
  EXPECT_EQ(FindProcessWindow(id, nullptr, nullptr, 0), nullptr);
  EXPECT_FALSE(server.SetInUse(true));  // no window to steer
}

TEST(SubstituteServer, ProbeDelayHoldsEachProbeBack) {
  SubstituteServer::Options options;
  options.probeDelayMs = 300;
  SubstituteServer server(kUnits, options);
  ASSERT_TRUE(server.Running()) << server.Error();
  const ULONGLONG before = GetTickCount64();
  EXPECT_EQ(Send(server.Window(), SRVM_PROBE_ADDRESS, 0, kKnownMac), 1u);
  EXPECT_GE(GetTickCount64() - before, 250u);
}

TEST(ProcessUtil, RunsProgramsToTheirEndOrTheirTimeout) {
  TempFolder folder;
  ASSERT_TRUE(folder.Ok());
  const std::string units = folder.File("units.txt");
  const std::string log = folder.File("log.txt");
  ASSERT_TRUE(WriteFileText(units, "inuse 0\n"));
  const std::string exe = QuoteArgument(SubstituteServerPath());

  RunResult usage = RunProgram(exe, 20000);
  EXPECT_TRUE(usage.started);
  EXPECT_TRUE(usage.finished);
  EXPECT_EQ(usage.exitCode, 2u);

  // With --run, the server ends with the program it ran (here itself without arguments).
  RunResult ran = RunProgram(
      CommandLine({SubstituteServerPath(), "--run", SubstituteServerPath(), units, log}), 20000);
  EXPECT_TRUE(ran.finished);
  EXPECT_EQ(ran.exitCode, 2u);
  // Its arguments reach it: the inner server, told to run a missing program, ends with 5.
  RunResult ranWith =
      RunProgram(CommandLine({SubstituteServerPath(), "--run", SubstituteServerPath(),
                              "--run-argument", "--run", "--run-argument",
                              folder.File("missing \\ \"quoted\".exe"), "--run-argument", units,
                              "--run-argument", folder.File("inner log.txt"), units, log}),
                 20000);
  EXPECT_TRUE(ranWith.finished);
  EXPECT_EQ(ranWith.exitCode, 5u);
  // An argument without a program to take it is refused.
  EXPECT_EQ(
      RunProgram(CommandLine({SubstituteServerPath(), "--run-argument", "x", units, log}), 20000)
          .exitCode,
      2u);

  RunResult endless = RunProgram(CommandLine({SubstituteServerPath(), units, log}), 1500);
  EXPECT_TRUE(endless.started);
  EXPECT_FALSE(endless.finished);
  EXPECT_EQ(FindWindowA(kServerWindowClass, kServerWindowTitle), nullptr);

  EXPECT_FALSE(RunProgram(QuoteArgument(folder.File("missing.exe")), 1000).started);
}

TEST(ProcessUtil, FindsAWindowByClassAndTitleOnlyInItsProcess) {
  SubstituteServer server(kUnits);
  ASSERT_TRUE(server.Running()) << server.Error();
  const DWORD id = server.ProcessId();
  EXPECT_EQ(FindProcessWindow(id, kServerWindowClass, nullptr, 1000), server.Window());
  EXPECT_EQ(FindProcessWindow(id, nullptr, kServerWindowTitle, 1000), server.Window());
  EXPECT_EQ(FindProcessWindow(id, kServerWindowClass, "other", 100), nullptr);
  EXPECT_EQ(FindProcessWindow(GetCurrentProcessId(), kServerWindowClass, nullptr, 100), nullptr);
}

TEST(ProcessUtil, PathsAndArguments) {
  EXPECT_EQ(WindowsPath("/work/build/a b/x.exe"), "Z:\\work\\build\\a b\\x.exe");
  EXPECT_EQ(WindowsPath("C:\\x.exe"), "C:\\x.exe");
  const struct {
    const char* raw;
    const char* quoted;
  } cases[] = {
      {"", "\"\""},
      {"a b", "\"a b\""},
      {"C:\\dir\\", "\"C:\\dir\\\\\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"a\\\"b", "\"a\\\\\\\"b\""},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteArgument(c.raw), c.quoted) << c.raw;
  EXPECT_EQ(CommandLine({"C:\\p q.exe", "-x", ""}), "\"C:\\p q.exe\" \"-x\" \"\"");
}

TEST(ProcessUtil, TempFolderGoesWithItsFiles) {
  std::string path;
  {
    TempFolder folder;
    ASSERT_TRUE(folder.Ok());
    path = folder.Path();
    ASSERT_TRUE(WriteFileText(folder.File("a.txt"), "abc"));
    ASSERT_TRUE(WriteFileText(folder.File("b.txt"), ""));
    SetFileAttributesA(folder.File("b.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(ReadFileText(folder.File("a.txt")), "abc");
    EXPECT_EQ(ReadFileText(folder.File("missing.txt")), std::nullopt);
  }
  EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace orvel::test
