#include <windows.h>
#include <algorithm>

#include "tests/wine/support/process_util.h"

namespace orvel::test {

void HandleCloser::operator()(HANDLE h) const {
  if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Terminate();
    process_ = std::move(other.process_);
    id_ = other.id_;
    lastError_ = other.lastError_;
    other.id_ = 0;
  }
  return *this;
}

ChildProcess::~ChildProcess() { Terminate(); }

bool ChildProcess::Start(const std::string& commandLine, const char* workingDirectory) {
  if (process_) {
    lastError_ = ERROR_ALREADY_EXISTS;
    return false;
  }
  std::string mutableLine = commandLine;  // CreateProcessA may write into it
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  // Wine reports ERROR_INTERNAL_ERROR when a new process dies before it has set
  // itself up, which a loaded machine now and then makes happen: one more try.
  for (int attempt = 0;; ++attempt) {
    if (CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       workingDirectory, &startup, &info)) {
      break;
    }
    lastError_ = GetLastError();
    if (lastError_ != ERROR_INTERNAL_ERROR || attempt > 0) return false;
    mutableLine = commandLine;
    Sleep(500);
  }
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  id_ = info.dwProcessId;
  lastError_ = 0;
  return true;
}

bool ChildProcess::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> ChildProcess::Wait(DWORD timeoutMs) const {
  if (!process_ || WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
  return code;
}

void ChildProcess::Terminate() {
  if (Running()) {
    TerminateProcess(process_.get(), 0xDEAD);
    WaitForSingleObject(process_.get(), 10000);
  }
}

RunResult RunProgram(const std::string& commandLine, DWORD timeoutMs) {
  RunResult result;
  ChildProcess child;
  result.started = child.Start(commandLine);
  if (!result.started) return result;
  if (const auto code = child.Wait(timeoutMs)) {
    result.finished = true;
    result.exitCode = *code;
  }
  return result;  // the child's destructor ends it when it did not finish
}

namespace {

struct WindowQuery {
  DWORD processId;
  const char* className;
  const char* title;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
  auto* query = reinterpret_cast<WindowQuery*>(param);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != query->processId) return TRUE;
  char text[256];
  if (query->className != nullptr) {
    if (GetClassNameA(window, text, sizeof text) == 0 || lstrcmpA(text, query->className) != 0) {
      return TRUE;
    }
  }
  if (query->title != nullptr) {
    text[0] = '\0';
    GetWindowTextA(window, text, sizeof text);
    if (lstrcmpA(text, query->title) != 0) return TRUE;
  }
  query->found = window;
  return FALSE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

HWND FindProcessWindow(DWORD processId, const char* className, const char* title, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        WindowQuery query{processId, className, title, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
        found = query.found;
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

std::string WindowsPath(std::string_view path) {
  std::string result;
  if (!path.empty() && path.front() == '/') result = "Z:";
  for (char c : path) result.push_back(c == '/' ? '\\' : c);
  return result;
}

std::string QuoteArgument(std::string_view argument) {
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote escaped.
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, '\\');  // before the closing quote
  quoted.push_back('"');
  return quoted;
}

std::string CommandLine(std::initializer_list<std::string_view> arguments) {
  std::string line;
  for (std::string_view argument : arguments) {
    if (!line.empty()) line.push_back(' ');
    line.append(QuoteArgument(argument));
  }
  return line;
}

TempFolder::TempFolder() {
  char base[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof base, base);
  if (length == 0 || length >= sizeof base) return;
  std::string prefix(base, length);
  if (prefix.back() != '\\') prefix.push_back('\\');
  prefix.append("orvel-test-").append(std::to_string(GetCurrentProcessId())).push_back('-');
  for (ULONGLONG n = GetTickCount64(), tries = 0; tries < 1000; ++n, ++tries) {
    const std::string candidate = prefix + std::to_string(n);
    if (CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

std::vector<std::string> TempFolder::Names() const {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(File("*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.push_back(found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  for (const std::string& name : Names()) {
    const std::string file = File(name);
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(file.c_str());
  }
  RemoveDirectoryA(path_.c_str());
}

bool WriteFileText(const std::string& path, std::string_view text) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  return WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

std::optional<std::string> ReadFileText(const std::string& path) {
  // Shared for writing too: the server keeps its log open while tests read it.
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  char chunk[16384];
  DWORD got = 0;
  while (ReadFile(file.get(), chunk, sizeof chunk, &got, nullptr) && got > 0) {
    text.append(chunk, got);
  }
  return text;
}

}  // namespace orvel::test
