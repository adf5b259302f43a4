#pragma once
// The shell calls the Control Panel applet makes, one method per platform call, so that
// the adapter is a pass-through and the applet's answers can be checked over a double.

#include <cstddef>
#include <cstdint>

namespace orvel::cpl {

using WindowHandle = void*;
using ProcessHandle = void*;

// Path buffers of the applet, in UTF-16 units including the terminator.
inline constexpr std::size_t kPathUnits = 260;

// Folder and flag values of the platform, repeated here for the portable rules.
inline constexpr int kFolderSystemX86 = 0x29;               // CSIDL_SYSTEMX86
inline constexpr std::uint32_t kMaskNoCloseProcess = 0x40;  // SEE_MASK_NOCLOSEPROCESS
inline constexpr int kShowNormal = 1;                       // SW_SHOWNORMAL
inline constexpr std::uint32_t kWaitObject0 = 0x0;
inline constexpr std::uint32_t kWaitMessage = kWaitObject0 + 1;  // input for the thread
inline constexpr std::uint32_t kWaitAbandoned = 0x80;
inline constexpr std::uint32_t kWaitTimeout = 0x102;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;
inline constexpr std::uint32_t kWmQuit = 0x0012;

// What the applet needs of a message it took from the thread's queue; the adapter
// keeps the whole message for the dispatch.
struct QueuedMessage {
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
};

// The fields of SHELLEXECUTEINFOW that the applet sets, and the two it reads back. The
// adapter sets the size field and leaves every other field zero.
struct ExecuteRequest {
  std::uint32_t mask = 0;
  WindowHandle owner = nullptr;
  const wchar_t* verb = nullptr;
  const wchar_t* file = nullptr;
  const wchar_t* parameters = nullptr;
  const wchar_t* directory = nullptr;
  int show = 0;
  std::intptr_t instApp = 0;        // out: hInstApp
  ProcessHandle process = nullptr;  // out: hProcess
};

class ShellCalls {
 public:
  virtual ~ShellCalls() = default;

  // SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path), where path holds
  // kPathUnits units. Returns the HRESULT (negative on failure).
  virtual std::int32_t FolderPath(int folder, wchar_t* path) = 0;
  // GetForegroundWindow().
  virtual WindowHandle ForegroundWindow() = 0;
  // ShellExecuteExW over the request's fields; false when it failed.
  virtual bool Execute(ExecuteRequest& request) = 0;
  // MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE):
  // kWaitObject0 when the process has ended, kWaitMessage when the thread has input.
  virtual std::uint32_t WaitForProcessOrMessage(ProcessHandle process) = 0;
  // PeekMessageW(any window of the thread, PM_REMOVE), which also delivers the messages
  // sent to the thread's windows; false when nothing is queued.
  virtual bool TakeMessage(QueuedMessage* message) = 0;
  // TranslateMessage and DispatchMessageW of the message TakeMessage took last.
  virtual void DispatchTaken() = 0;
  // PostQuitMessage(code).
  virtual void RepostQuit(int code) = 0;
  // GetLastError().
  virtual std::uint32_t LastError() = 0;
  // CloseHandle(process).
  virtual void Close(ProcessHandle process) = 0;
};

}  // namespace orvel::cpl
