// The applet's entry point and the shell calls behind it.
#include <windows.h>
//
#include <cpl.h>
#include <shellapi.h>
#include <shlobj.h>

#include "cpl/applet.h"

namespace orvel::cpl {
namespace {

static_assert(kCplInit == CPL_INIT && kCplGetCount == CPL_GETCOUNT && kCplInquire == CPL_INQUIRE &&
              kCplSelect == CPL_SELECT && kCplDblclk == CPL_DBLCLK && kCplStop == CPL_STOP &&
              kCplExit == CPL_EXIT && kCplNewInquire == CPL_NEWINQUIRE);
static_assert(kFolderSystemX86 == CSIDL_SYSTEMX86 && kPathUnits == MAX_PATH);
static_assert(kMaskNoCloseProcess == SEE_MASK_NOCLOSEPROCESS && kShowNormal == SW_SHOWNORMAL);
static_assert(kWaitObject0 == WAIT_OBJECT_0 && kWaitAbandoned == WAIT_ABANDONED &&
              kWaitTimeout == WAIT_TIMEOUT && kWaitFailed == WAIT_FAILED);
static_assert(kWaitMessage == WAIT_OBJECT_0 + 1 && kWmQuit == WM_QUIT);

class Win32ShellCalls final : public ShellCalls {
 public:
  std::int32_t FolderPath(int folder, wchar_t* path) override {
    return SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path);
  }

  WindowHandle ForegroundWindow() override { return GetForegroundWindow(); }

  bool Execute(ExecuteRequest& request) override {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = request.mask;
    info.hwnd = static_cast<HWND>(request.owner);
    info.lpVerb = request.verb;
    info.lpFile = request.file;
    info.lpParameters = request.parameters;
    info.lpDirectory = request.directory;
    info.nShow = request.show;
    const BOOL executed = ShellExecuteExW(&info);
    request.instApp = reinterpret_cast<std::intptr_t>(info.hInstApp);
    request.process = info.hProcess;
    return executed != FALSE;
  }

  std::uint32_t WaitForProcessOrMessage(ProcessHandle process) override {
    HANDLE handles[] = {process};
    return MsgWaitForMultipleObjectsEx(1, handles, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }

  bool TakeMessage(QueuedMessage* message) override {
    if (!PeekMessageW(&taken_, nullptr, 0, 0, PM_REMOVE)) return false;
    message->message = taken_.message;
    message->wParam = taken_.wParam;
    return true;
  }

  void DispatchTaken() override {
    TranslateMessage(&taken_);
    DispatchMessageW(&taken_);
  }

  void RepostQuit(int code) override { PostQuitMessage(code); }

  std::uint32_t LastError() override { return GetLastError(); }

  void Close(ProcessHandle process) override { CloseHandle(process); }

 private:
  MSG taken_{};
};

}  // namespace
}  // namespace orvel::cpl

extern "C" LONG APIENTRY CPlApplet(HWND, UINT message, LPARAM, LPARAM lParam2) {
  using namespace orvel::cpl;
  Win32ShellCalls shell;
  const bool inquire = message == CPL_INQUIRE && lParam2 != 0;
  AppletInfo info;
  const std::int32_t result = AppletMessage(shell, message, inquire ? &info : nullptr);
  if (inquire && result == 0) {
    auto* out = reinterpret_cast<CPLINFO*>(lParam2);
    out->idIcon = info.idIcon;
    out->idName = info.idName;
    out->idInfo = info.idInfo;
    out->lData = info.lData;
  }
  return result;
}
