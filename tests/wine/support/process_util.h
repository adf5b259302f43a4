#pragma once
// Child processes and their windows, for tests that drive real programs under Wine.

#include <windows.h>
#include <functional>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvel::test {

struct HandleCloser {
  void operator()(HANDLE h) const;
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// A process started by the test. It never outlives its owner: the destructor ends a
// child that still runs.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&&) noexcept = default;
  ChildProcess& operator=(ChildProcess&&) noexcept;
  ~ChildProcess();

  // CreateProcessA on the command line (quote the program with QuoteArgument). False,
  // with the error in LastError(), when it cannot start or a child is already owned.
  bool Start(const std::string& commandLine, const char* workingDirectory = nullptr);
  bool Started() const { return process_ != nullptr; }
  bool Running() const;
  DWORD Id() const { return id_; }
  HANDLE Handle() const { return process_.get(); }
  DWORD LastError() const { return lastError_; }
  // The exit code once the child has ended within timeoutMs; empty while it runs.
  std::optional<DWORD> Wait(DWORD timeoutMs) const;
  // Ends a running child at once and waits for it.
  void Terminate();

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
  DWORD lastError_ = 0;
};

struct RunResult {
  bool started = false;
  bool finished = false;  // false: still running at the timeout, and then terminated
  DWORD exitCode = 0;
};

// Runs a command line to its end, or terminates it after timeoutMs.
RunResult RunProgram(const std::string& commandLine, DWORD timeoutMs);

// A top-level window of the process whose class and title match exactly (nullptr
// matches any), waiting up to timeoutMs for it to appear; nullptr when none did.
HWND FindProcessWindow(DWORD processId, const char* className, const char* title, DWORD timeoutMs);

// Build paths reach the tests from CMake in Unix form; Wine sees "/" as drive Z:.
std::string WindowsPath(std::string_view path);
// One command-line argument in double quotes, as CommandLineToArgv reads it back.
std::string QuoteArgument(std::string_view argument);
// Every argument quoted, joined by blanks: CommandLine({program, "--flag", path}).
std::string CommandLine(std::initializer_list<std::string_view> arguments);

// A fresh folder under the temporary folder, removed with everything in it when the
// owner goes (one level of files: tests keep their own files flat).
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();
  bool Ok() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }  // no trailing backslash
  std::string File(std::string_view name) const { return path_ + "\\" + std::string(name); }
  std::vector<std::string> Names() const;  // its files, sorted

 private:
  std::string path_;
};

// Checks the condition every 20 ms until it holds; false once timeoutMs have passed
// without it holding. The one way the Wine tests wait for something.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 20000);

bool WriteFileText(const std::string& path, std::string_view text);
std::optional<std::string> ReadFileText(const std::string& path);

}  // namespace orvel::test
