// Process, version and file utilities of the package: stopping the running server
// program, the Windows build property, the rights check and the library copy.
#pragma once

#include <cstdint>

#include "installer/platform.h"

namespace orvel::installer {

inline constexpr TextView kServerImageName = u"Quorin Network Driver.exe";
inline constexpr TextView kBuildProperty = u"IS20H1ORGREATER";
inline constexpr TextView kLibraryCopyFolder = u"c:\\windows\\syswow64";
inline constexpr TextView kMidiLibraryName = u"Orveldrv.dll";
inline constexpr std::uint32_t kMessageNotAdministrator = 25003;
inline constexpr std::uint32_t kMessageSystemTooOld = 25004;

inline constexpr std::int64_t kProcessNotFound = -1;
inline constexpr std::int64_t kProcessSnapshotError = -2;

// The ID of the first process in snapshot order whose image name equals name exactly.
std::int64_t FindProcessByImageName(Platform& platform, TextView name);
bool IsVersionAtLeast(Platform& platform, std::uint32_t major, std::uint32_t minor,
                      std::uint32_t servicePackMajor);
bool IsBuildAtLeast(Platform& platform, std::uint32_t major, std::uint32_t minor,
                    std::uint32_t build);

std::uint32_t ProcessKill(Platform& platform);
std::uint32_t GetOSVersion(Platform& platform);
std::uint32_t IsAdmin(Platform& platform);
std::uint32_t delSystem32DllFile(Platform& platform);

}  // namespace orvel::installer
