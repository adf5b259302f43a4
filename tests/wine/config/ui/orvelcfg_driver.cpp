#include "tests/wine/config/ui/orvelcfg_driver.h"

#include <shlobj.h>
// after windows.h
#include <commctrl.h>

#include <vector>

namespace orvel::test {
namespace {

constexpr int kDeviceListId = 1002;

struct Search {
  DWORD processId;
  bool mainDialog;
  HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  char className[32] = {};
  GetClassNameA(window, className, sizeof(className));
  if (std::string(className) != "#32770" || ReadText(window) != kProductCaption) return TRUE;
  const bool isMain = GetDlgItem(window, kDeviceListId) != nullptr;
  if (isMain != search->mainDialog) return TRUE;
  search->found = window;
  return FALSE;
}

HWND WaitForDialog(DWORD processId, bool mainDialog, DWORD timeoutMs) {
  Search search{processId, mainDialog, nullptr};
  WaitUntil(
      [&] {
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

BOOL CALLBACK FindVisible(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<Search*>(lParam);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

BOOL CALLBACK CollectStatic(HWND window, LPARAM lParam) {
  char className[16] = {};
  GetClassNameA(window, className, sizeof(className));
  if (lstrcmpiA(className, "Static") == 0) {
    const std::string text = ReadText(window);
    if (!text.empty()) *reinterpret_cast<std::string*>(lParam) += text;
  }
  return TRUE;
}

}  // namespace

std::string ReadText(HWND window) {
  char text[1024] = {};
  // WM_GETTEXT crosses process boundaries; GetWindowText would not ask the window.
  const LRESULT length =
      SendMessageA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
  return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string SettingsFilePath() {
  char folder[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  return std::string(folder) + "\\VANTOR\\ORVELDRIVER\\orveld.ini";
}

bool WriteSettingsFile(std::string_view text) {
  const std::string path = SettingsFilePath();
  const std::size_t file = path.rfind('\\');
  const std::size_t folder = path.rfind('\\', file - 1);
  CreateDirectoryA(path.substr(0, folder).c_str(), nullptr);
  CreateDirectoryA(path.substr(0, file).c_str(), nullptr);
  return WriteFileText(path, text);
}

SettingsFileGuard::SettingsFileGuard() {
  const std::string path = SettingsFilePath();
  saved_ = ReadFileText(path);
  DeleteFileA(path.c_str());
}

SettingsFileGuard::~SettingsFileGuard() {
  const std::string path = SettingsFilePath();
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
  RemoveDirectoryA(path.c_str());
  if (saved_) WriteFileText(path, *saved_);
}

CommandRun RunOrvelcfg(std::initializer_list<std::string_view> arguments) {
  return RunOrvelcfgBuild(ORVEL_ORVELCFG_EXE, arguments);
}

CommandRun RunOrvelcfgBuild(std::string_view builtPath,
                            std::initializer_list<std::string_view> arguments) {
  constexpr DWORD kTimeoutMs = 60000;
  CommandRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 1 << 16)) return run;
  UniqueHandle reader(readEnd);
  UniqueHandle writer(writeEnd);
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  std::string commandLine = QuoteArgument(WindowsPath(builtPath));
  for (std::string_view argument : arguments) {
    commandLine += ' ';
    commandLine.append(QuoteArgument(argument));
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return run;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  writer.reset();  // the pipe ends when the child's copy goes

  auto drain = [&] {
    DWORD available = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0) return;
      run.output.append(buffer, got);
    }
  };
  const DWORD start = GetTickCount();
  for (;;) {
    const DWORD state = WaitForSingleObject(info.hProcess, 10);
    Search search{info.dwProcessId, false, nullptr};
    EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) run.showedWindow = true;
    drain();
    if (state == WAIT_OBJECT_0) break;
    if (GetTickCount() - start > kTimeoutMs) {
      TerminateProcess(info.hProcess, 1);
      WaitForSingleObject(info.hProcess, 5000);
      return run;
    }
  }
  drain();
  run.finished = GetExitCodeProcess(info.hProcess, &run.exitCode) != 0;
  return run;
}

bool Orvelcfg::Start() { return Start(ORVEL_ORVELCFG_EXE); }

bool Orvelcfg::Start(std::string_view builtPath) {
  return process_.Start(QuoteArgument(WindowsPath(builtPath)));
}

HWND Orvelcfg::MainDialog(DWORD timeoutMs) { return WaitForDialog(process_.Id(), true, timeoutMs); }

HWND Orvelcfg::MessageBoxWindow(DWORD timeoutMs) {
  return WaitForDialog(process_.Id(), false, timeoutMs);
}

std::string MessageBoxText(HWND box) {
  std::string text;
  EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
  return text;
}

std::string ItemText(HWND dialog, int id) { return ReadText(GetDlgItem(dialog, id)); }

bool ItemEnabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

int ListRowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

bool WaitGone(HWND window, DWORD timeoutMs) {
  return WaitUntil([&] { return !IsWindow(window); }, timeoutMs);
}

void PressButton(HWND dialog, int id) { PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

}  // namespace orvel::test
