#include "cpl/applet.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace orvel::cpl {
namespace {

// Appends `text` after the first `used` units, keeping the terminator inside the buffer.
// A path that would be cut is refused: a shortened path could name another program.
bool Append(ProgramPath& path, std::size_t& used, std::wstring_view text) noexcept {
  if (text.size() >= path.size() - used) return false;
  std::copy(text.begin(), text.end(), path.begin() + static_cast<std::ptrdiff_t>(used));
  used += text.size();
  path[used] = L'\0';
  return true;
}

// The messages answered without any work: their fixed result and diagnostic text.
struct FixedAnswer {
  unsigned message;
  std::int32_t result;
  const wchar_t* trace;
};
constexpr FixedAnswer kFixedAnswers[] = {
    {kCplInit, 1, L"CPlApplet>CPL_INIT\n"},
    {kCplGetCount, 1, L"CPlApplet>CPL_GETCOUNT\n"},
    {kCplStop, 0, L"CPlApplet>CPL_STOPE\n"},
    {kCplExit, 0, L"CPlApplet>CPL_EXIT\n"},
};

// Waits for the process while the thread's windows go on answering: the Control Panel
// calls the applet on the thread that owns its windows, and other programs' messages
// to them (setting changes, broadcasts) would otherwise wait as long as the program
// runs. Nothing when the thread is told to quit: the wait ends and the quit is left
// for the host's own loop.
std::optional<std::uint32_t> WaitDispatching(ShellCalls& shell, ProcessHandle process) noexcept {
  for (;;) {
    const std::uint32_t result = shell.WaitForProcessOrMessage(process);
    if (result != kWaitMessage) return result;
    QueuedMessage message;
    while (shell.TakeMessage(&message)) {
      if (message.message == kWmQuit) {
        shell.RepostQuit(static_cast<int>(message.wParam));
        return std::nullopt;
      }
      shell.DispatchTaken();
    }
  }
}

}  // namespace

bool BuildProgramPath(ShellCalls& shell, ProgramPath& path) noexcept {
  path.fill(L'\0');
  if (shell.FolderPath(kFolderSystemX86, path.data()) < 0) {
    Trace(L"SHGetFolderPath Error\n");
    return false;
  }
  // The folder text must end inside the buffer and must not be empty; neither is
  // promised by a caller that already failed to honour the buffer's size.
  auto end = std::find(path.begin(), path.end(), L'\0');
  if (end == path.end() || end == path.begin()) {
    path.fill(L'\0');
    Trace(L"SHGetFolderPath Error\n");
    return false;
  }
  std::size_t used = static_cast<std::size_t>(end - path.begin());
  if (!Append(path, used, L"\\") || !Append(path, used, kProgramFileName)) {
    path.fill(L'\0');
    return false;
  }
  return true;
}

std::int32_t OpenConfigurationProgram(ShellCalls& shell) noexcept {
  ProgramPath path;
  if (!BuildProgramPath(shell, path)) return 1;
  Trace(L"CPlApplet>CPL_DBLCLK:%s\n", path.data());

  ExecuteRequest request;
  request.mask = kMaskNoCloseProcess;
  request.owner = shell.ForegroundWindow();
  request.file = path.data();
  request.show = kShowNormal;
  const bool executed = shell.Execute(request);
  if (!executed || request.instApp <= 32) {
    Trace(L"error ShellExecuteEx\n");
    if (request.process != nullptr) shell.Close(request.process);
    return 1;
  }
  // Started, but the shell handed over no process (it reused a running one): nothing
  // to wait on.
  if (request.process == nullptr) return 0;

  // A quit while waiting ends the wait untraced.
  if (const std::optional<std::uint32_t> ended = WaitDispatching(shell, request.process)) {
    switch (*ended) {
      case kWaitObject0:
        Trace(L"CPlApplet>Orvelcfg Start:WAIT_OBJECT_0\n");
        break;
      case kWaitAbandoned:
        Trace(L"CPlApplet>Orvelcfg Start:WAIT_ABANDONED\n");
        break;
      case kWaitTimeout:
        Trace(L"CPlApplet>Orvelcfg Start:WAIT_TIMEOUT\n");
        break;
      case kWaitFailed:
        Trace(L"CPlApplet>Orvelcfg Start:WAIT_FAILED=%d\n", shell.LastError());
        break;
      default:
        break;
    }
  }
  shell.Close(request.process);
  return 0;
}

std::int32_t AppletMessage(ShellCalls& shell, unsigned message, AppletInfo* inquiry) noexcept {
  for (const FixedAnswer& answer : kFixedAnswers) {
    if (answer.message == message) {
      Trace(answer.trace);
      return answer.result;
    }
  }
  switch (message) {
    case kCplInquire:
      Trace(L"CPlApplet>CPL_INQUIRE\n");
      if (inquiry == nullptr) return 1;
      *inquiry = AppletInfo{kAppletIcon, kAppletNameString, kAppletNameString, 0};
      return 0;
    case kCplDblclk:
      return OpenConfigurationProgram(shell);
    default:
      return 0;
  }
}

}  // namespace orvel::cpl
