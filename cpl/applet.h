#pragma once
// The Control Panel applet: one icon, and opening it starts the configuration program
// from the 32-bit system folder and waits until it has ended. No state between calls.

#include <array>
#include <cstdint>

#include "cpl/shell_calls.h"

namespace orvel::cpl {

// Messages of the applet's entry point.
inline constexpr unsigned kCplInit = 1;
inline constexpr unsigned kCplGetCount = 2;
inline constexpr unsigned kCplInquire = 3;
inline constexpr unsigned kCplSelect = 4;
inline constexpr unsigned kCplDblclk = 5;
inline constexpr unsigned kCplStop = 6;
inline constexpr unsigned kCplExit = 7;
inline constexpr unsigned kCplNewInquire = 8;

// Resource identifiers of the applet library.
inline constexpr int kAppletNameString = 1;
inline constexpr int kAppletIcon = 105;

inline constexpr wchar_t kProgramFileName[] = L"Orvelcfg.exe";

// What CPL_INQUIRE reports (the fields of CPLINFO).
struct AppletInfo {
  int idIcon = 0;
  int idName = 0;
  int idInfo = 0;
  std::intptr_t lData = 0;
};

using ProgramPath = std::array<wchar_t, kPathUnits>;

// Diagnostic texts of the applet go here, and nowhere further: the applet writes no output.
template <typename... Args>
constexpr void Trace(const wchar_t* /*format*/, const Args&... /*arguments*/) noexcept {}

// The answer to one call of the entry point. `inquiry` is where CPL_INQUIRE reports; a
// null one makes CPL_INQUIRE fail (1) instead of writing through it.
std::int32_t AppletMessage(ShellCalls& shell, unsigned message, AppletInfo* inquiry) noexcept;

// The configuration program's full path: the 32-bit system folder, "\" and the file
// name. False when the folder is unknown or the whole path does not fit.
bool BuildProgramPath(ShellCalls& shell, ProgramPath& path) noexcept;

// CPL_DBLCLK: starts the configuration program and waits until it has ended. 0 when it
// was started, 1 when it could not be.
std::int32_t OpenConfigurationProgram(ShellCalls& shell) noexcept;

}  // namespace orvel::cpl
