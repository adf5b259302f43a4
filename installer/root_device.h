// The root-enumerated device node that carries the product's driver.
#pragma once

#include <cstdint>

#include "installer/platform.h"

namespace orvel::installer {

inline constexpr TextView kRootDeviceInf =
    u"C:\\Program Files (x86)\\vantor\\Vantor Quorin Network Driver\\Orveldrv.inf";
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

std::uint32_t SetDeviceInfo(Platform& platform);
std::uint32_t DelDeviceInfo(Platform& platform);

}  // namespace orvel::installer
