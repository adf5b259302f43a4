// The root-enumerated device node that carries the product's driver.
#pragma once

#include <cstdint>
#include <optional>

#include "installer/platform.h"

namespace orvel::installer {

// The INF under the machine's 32-bit Program Files folder, where the package puts it.
inline constexpr TextView kRootDeviceInfUnderProgramFiles =
    u"vantor\\Vantor Quorin Network Driver\\Orveldrv.inf";
inline constexpr TextView kRootHardwareId = u"root\\VANTOR\\VORVEL";

// Results of the two workers.
enum DeviceResult : std::uint32_t {
  kDeviceDone = 0,
  kDeviceDoneRestart = 1,
  kDeviceFailed = 2,
  kDeviceBadArgument = 3,
};

std::uint32_t CreateRootDevice(Platform& platform, TextView inf, TextView hardwareId);
std::uint32_t UpdateDriverForHardwareId(Platform& platform, TextView inf, TextView hardwareId);
std::uint32_t RemoveDevicesByHardwareId(Platform& platform, TextView pattern);

// The INF path on this machine; nothing when the folder cannot be had or the path is too long.
std::optional<Text> RootDeviceInfPath(Platform& platform);
// Present devices whose hardware or compatible IDs hold pattern; -1 when they cannot be listed.
int CountDevicesByHardwareId(Platform& platform, TextView pattern);

std::uint32_t SetDeviceInfo(Platform& platform);
std::uint32_t DelDeviceInfo(Platform& platform);

}  // namespace orvel::installer
