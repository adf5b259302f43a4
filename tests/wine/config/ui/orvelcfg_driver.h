#pragma once
// Drives the real Orvelcfg.exe from a test: starts it, finds its main dialog and its
// message boxes, presses their buttons, and keeps the settings file of the test
// prefix as it was before the test.

#include <windows.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "tests/wine/support/process_util.h"

namespace orvel::test {

inline constexpr char kProductCaption[] = "Quorin Network Driver";

// C:\ProgramData\VANTOR\ORVELDRIVER\orveld.ini of this prefix.
std::string SettingsFilePath();

// Writes the settings file of this prefix, creating its folders.
bool WriteSettingsFile(std::string_view text);

// Moves an existing settings file aside and puts it back (or removes the test's)
// when the test ends.
class SettingsFileGuard {
 public:
  SettingsFileGuard();
  ~SettingsFileGuard();
  SettingsFileGuard(const SettingsFileGuard&) = delete;
  SettingsFileGuard& operator=(const SettingsFileGuard&) = delete;

 private:
  std::optional<std::string> saved_;
};

class Orvelcfg {
 public:
  // Starts the built program; the destructor ends it if it still runs.
  bool Start();
  // Starts another build of the program, given by its build (Unix) path.
  bool Start(std::string_view builtPath);
  DWORD Id() const { return process_.Id(); }
  // The main dialog, once it is shown.
  HWND MainDialog(DWORD timeoutMs = 20000);
  // A message box of the program (a dialog with the product caption that is not the
  // main dialog); nullptr when none appeared.
  HWND MessageBoxWindow(DWORD timeoutMs = 20000);
  std::optional<DWORD> Wait(DWORD timeoutMs) { return process_.Wait(timeoutMs); }

 private:
  ChildProcess process_;
};

// What a command-line run of the program left: its exit code, what it wrote to the
// standard output it was given (a pipe), and whether a window of it was ever visible.
struct CommandRun {
  bool finished = false;  // false: still running at the timeout, and then terminated
  DWORD exitCode = 0;
  std::string output;
  bool showedWindow = false;
};
// Runs the built program, or another build given by its build (Unix) path, with
// these arguments, each quoted.
CommandRun RunOrvelcfg(std::initializer_list<std::string_view> arguments);
CommandRun RunOrvelcfgBuild(std::string_view builtPath,
                            std::initializer_list<std::string_view> arguments);

// The text of a message box.
std::string MessageBoxText(HWND box);
// A click on a button of a dialog, as the user makes it.
void PressButton(HWND dialog, int id);
std::string ReadText(HWND window);
// The text of a control of a dialog in another process.
std::string ItemText(HWND dialog, int id);
bool ItemEnabled(HWND dialog, int id);
// Rows of a list view in another process (LVM_GETITEMCOUNT needs no buffer).
int ListRowCount(HWND list);
// True once the window is gone, false when it is still there after timeoutMs.
bool WaitGone(HWND window, DWORD timeoutMs = 20000);

}  // namespace orvel::test
