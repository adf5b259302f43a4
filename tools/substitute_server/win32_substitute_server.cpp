// substitute_server: stands in for the driver's network server program in tests and
// demos. It owns a hidden top-level window of the server's class and title, answers
// the server messages from a units file, and logs every message it receives.
//
// Usage:
//   substitute_server.exe [--probe-delay MS] [--run PROGRAM [--run-argument ARG]...]
//                         UNITS_FILE LOG_FILE
//     --probe-delay MS  waits MS milliseconds before answering each probe
//     --run PROGRAM     starts PROGRAM once the window exists and ends when it ends,
//                       with its exit code (for demos; tests start the server alone)
//     --run-argument ARG  one command-line argument for PROGRAM, in order
//   Ends on WM_CLOSE, exit code 0. Exit codes: 2 bad arguments or units file, 3 log file
//   cannot be created, 4 no window, 5 PROGRAM cannot be started.
//
// Units file, one statement a line, '#' starts a comment, words split by blanks:
//   unit A.B.C.D [mac HEX12|none] [probe yes|no]
//       a simulated unit. mac: its six bytes as twelve hex digits (':' or '-' between
//       them allowed), or none when the server knows no MAC (the default); probe: whether
//       it answers probes (default yes). One unit per address.
//   active A.B.C.D [A.B.C.D ...]
//       addresses the server itself uses, in order; may repeat.
//   inuse 0|1
//       whether an application uses the driver (default 0); at most once.
//   inuse-after-unregister 0|1
//       when 1, the driver becomes in use as soon as a window ends its registration
//       (SRVM_SET_NOTIFY_WINDOW with 0), as if an application opened it right then.
//
// Log file: one line per message, written through at once so a test can read it while
// the server runs:
//   in <message> 0x<wParam> 0x<lParam> 0x<answer>    a message received, with its answer
//   out <message> 0x<wParam> 0x<lParam> 0x<answer>   a notification sent to the
//                                                    registered window, with its answer
// Messages from WM_USER to WM_APP-1 count as server messages (unknown ones answer 0);
// wParam and lParam are logged and answered by their low 32 bits.
//
// Control: the private messages of control_messages.h, sent by the test.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "config/core/server_messages.h"
#include "tools/substitute_server/control_messages.h"
#include "tools/substitute_server/server_model.h"

namespace orvel::substitute {
namespace {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

struct Arguments {
  DWORD probeDelayMs = 0;
  std::string runProgram;
  std::vector<std::string> runArguments;
  std::string unitsPath;
  std::string logPath;
};

// One argument in double quotes, as CommandLineToArgv reads it back: backslashes before
// a quote, and before the closing one, are doubled.
std::string Quoted(const std::string& argument) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');
  quoted.push_back('"');
  return quoted;
}

bool ParseArguments(int argc, char** argv, Arguments& args) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return false;
    if (option == "--probe-delay") {
      char* end = nullptr;
      const unsigned long value = std::strtoul(argv[i + 1], &end, 10);
      if (end == argv[i + 1] || *end != '\0' || value > 60000) return false;
      args.probeDelayMs = static_cast<DWORD>(value);
    } else if (option == "--run") {
      args.runProgram = argv[i + 1];
    } else if (option == "--run-argument") {
      args.runArguments.push_back(argv[i + 1]);
    } else {
      return false;
    }
  }
  if (argc - i != 2) return false;
  if (!args.runArguments.empty() && args.runProgram.empty()) return false;
  args.unitsPath = argv[i];
  args.logPath = argv[i + 1];
  return true;
}

ParseResult ReadUnitsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {std::nullopt, "cannot open " + path};
  std::string text(kMaxUnitsFileBytes + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (in.bad()) return {std::nullopt, "cannot read " + path};
  ParseResult result = ParseServerConfig(text);
  if (!result.config) result.error = path + ": " + result.error;
  return result;
}

class Server {
 public:
  Server(Arguments args, ServerConfig config, UniqueHandle log)
      : args_(std::move(args)), config_(std::move(config)), log_(std::move(log)) {}

  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_USER && message < WM_APP) return Protocol(message, wParam, lParam);
    switch (message) {
      case kControlSendUseStateChanged:
        return Notify(SRVM_USE_STATE_CHANGED, 0, lParam);
      case kControlSendRecheckDevices:
        return Notify(SRVM_RECHECK_DEVICES, 0, 0);
      case kControlSetInUse:
        config_.inUse = wParam != 0;
        return 1;
      case kControlReloadUnits: {
        ParseResult result = ReadUnitsFile(args_.unitsPath);
        if (!result.config) {
          std::fprintf(stderr, "substitute_server: %s; units kept\n", result.error.c_str());
          return 0;
        }
        config_ = std::move(*result.config);
        return 1;
      }
      case kControlStopAnswering:
        // The test's call returns now; only then does the thread stop pumping.
        ReplyMessage(1);
        Sleep(static_cast<DWORD>(wParam));
        return 1;
      case WM_CLOSE:
        DestroyWindow(window);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
  }

 private:
  LRESULT Protocol(UINT message, WPARAM wParam, LPARAM lParam) {
    const auto w = static_cast<std::uint32_t>(wParam);
    const auto l = static_cast<std::uint32_t>(lParam);
    if (message == SRVM_SET_NOTIFY_WINDOW) notifyWindow_ = reinterpret_cast<HWND>(wParam);
    if (message == SRVM_PROBE_ADDRESS && args_.probeDelayMs > 0) Sleep(args_.probeDelayMs);
    const std::uint32_t answer = Answer(config_, message, w, l);
    Record({Direction::kReceived, message, w, l, answer});
    if (message == SRVM_SET_NOTIFY_WINDOW && w == 0 && config_.inUseAfterUnregister) {
      config_.inUse = true;
    }
    return static_cast<LRESULT>(answer);
  }

  // While the window handles the notification, the server keeps answering the
  // messages it sends back (SMTO_NORMAL), so its re-checks land in the log before the
  // control message returns.
  LRESULT Notify(UINT message, WPARAM wParam, LPARAM lParam) {
    if (notifyWindow_ == nullptr || !IsWindow(notifyWindow_)) return 0;
    DWORD_PTR result = 0;
    const LRESULT sent = SendMessageTimeoutA(notifyWindow_, message, wParam, lParam, SMTO_NORMAL,
                                             kNotifyTimeoutMs, &result);
    Record({Direction::kSent, message, static_cast<std::uint32_t>(wParam),
            static_cast<std::uint32_t>(lParam), static_cast<std::uint32_t>(result)});
    return sent != 0 ? 1 : 0;
  }

  void Record(const LogRecord& record) {
    const std::string line = FormatLogLine(record);
    DWORD written = 0;
    WriteFile(log_.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

  Arguments args_;
  ServerConfig config_;
  UniqueHandle log_;
  HWND notifyWindow_ = nullptr;
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* server = reinterpret_cast<Server*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (server == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  return server->Handle(window, message, wParam, lParam);
}

// Pumps messages until the window is gone or, with a program, until the program ends.
int RunMessageLoop(HWND window, HANDLE program) {
  for (;;) {
    if (program != nullptr) {
      const DWORD wake = MsgWaitForMultipleObjects(1, &program, FALSE, INFINITE, QS_ALLINPUT);
      if (wake == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(program, &code);
        DestroyWindow(window);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        return static_cast<int>(code);
      }
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) return static_cast<int>(msg.wParam);
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (program == nullptr) WaitMessage();
  }
}

int Main(int argc, char** argv) {
  Arguments args;
  if (!ParseArguments(argc, argv, args)) {
    std::fprintf(stderr,
                 "usage: substitute_server [--probe-delay MS] [--run PROGRAM] UNITS_FILE "
                 "LOG_FILE\n");
    return 2;
  }
  ParseResult units = ReadUnitsFile(args.unitsPath);
  if (!units.config) {
    std::fprintf(stderr, "substitute_server: %s\n", units.error.c_str());
    return 2;
  }
  UniqueHandle log(CreateFileA(args.logPath.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (log.get() == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "substitute_server: cannot create %s\n", args.logPath.c_str());
    return 3;
  }
  const std::string runProgram = args.runProgram;
  std::string commandLine = Quoted(runProgram);
  for (const std::string& argument : args.runArguments) {
    commandLine.push_back(' ');
    commandLine.append(Quoted(argument));
  }
  Server server(std::move(args), std::move(*units.config), std::move(log));

  const HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kServerWindowClass;
  if (RegisterClassA(&windowClass) == 0) return 4;
  // Top-level, not message-only, so that FindWindowA finds it; never shown.
  HWND window = CreateWindowExA(0, kServerWindowClass, kServerWindowTitle, WS_OVERLAPPED, 0, 0, 0,
                                0, nullptr, nullptr, instance, &server);
  if (window == nullptr) return 4;

  UniqueHandle program;
  if (!runProgram.empty()) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
      std::fprintf(stderr, "substitute_server: cannot start %s (error %lu)\n", runProgram.c_str(),
                   GetLastError());
      DestroyWindow(window);
      return 5;
    }
    CloseHandle(info.hThread);
    program.reset(info.hProcess);
  }
  return RunMessageLoop(window, program.get());
}

}  // namespace
}  // namespace orvel::substitute

int main(int argc, char** argv) { return orvel::substitute::Main(argc, argv); }
