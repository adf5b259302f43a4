// Process, version and file utilities of the package: stopping the running server
// program, the Windows build property, the rights check and the library copy.
//
// Both folders come from the system: a fixed path can name a folder that a standard user
// may create on a machine whose Windows lives elsewhere, and a name in the process list
// is no proof of which program runs under it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "installer/platform.h"

namespace orvel::installer {

inline constexpr TextView kServerImageName = u"Quorin Network Driver.exe";
inline constexpr TextView kBuildProperty = u"IS20H1ORGREATER";
inline constexpr TextView kMidiLibraryName = u"Orveldrv.dll";
inline constexpr std::uint32_t kMessageNotAdministrator = 25003;
inline constexpr std::uint32_t kMessageSystemTooOld = 25004;

// The IDs, in snapshot order, of the processes whose image name is one of names, in any
// letter case; nothing when the process list cannot be read.
std::optional<std::vector<std::uint32_t>> FindProcessesByImageName(Platform& platform,
                                                                   const std::vector<Text>& names);
bool IsVersionAtLeast(Platform& platform, std::uint32_t major, std::uint32_t minor,
                      std::uint32_t servicePackMajor);
bool IsBuildAtLeast(Platform& platform, std::uint32_t major, std::uint32_t minor,
                    std::uint32_t build);

// Stops every running copy of the server program: each process whose program file is
// the server's, told by the file's identity, whatever name it was started by. The file
// is the one Orvelcfg's firewall step registers (the system folder, or the 32-bit one).
std::uint32_t ProcessKill(Platform& platform);
std::uint32_t GetOSVersion(Platform& platform);
std::uint32_t IsAdmin(Platform& platform);
std::uint32_t delSystem32DllFile(Platform& platform);

}  // namespace orvel::installer
