// The kernel driver package: staging and installing it, removing it with its devices,
// services and files, and turning a pending reboot request into a scheduled reboot.
#pragma once

#include <array>
#include <cstdint>

#include "installer/platform.h"

namespace orvel::installer {

struct DriverVariant {
  TextView service;
  TextView file;
};
inline constexpr std::array<DriverVariant, 3> kDriverVariants = {{
    {u"VORVEL", u"vorvel.sys"},
    {u"vorvel_w8_1_64", u"vorvel_w8_1_64.sys"},
    {u"vorvel_w10_64", u"vorvel_w10_64.sys"},
}};
inline constexpr std::uint32_t kMessageStagingFailed = 25005;
inline constexpr std::uint32_t kMessageNewerDriverInstalled = 25008;

// The device's hardware IDs contain VANTOR\VORVEL; firstId gets the first ID, upper-cased.
bool IsProductDevice(Platform& platform, DeviceSetHandle set, const DeviceInfo& device,
                     Text* firstId);
// The service name contains VORVEL, in any case.
bool IsProductService(Platform& platform, Text serviceName);
void ReenumeratePciDevices(Platform& platform);
// A driver service is marked for deletion: nothing can be installed before a restart.
bool AnyServicePendingDeletion(Platform& platform);
// A driver file of the package in infDir is older than the installed one of the same
// name; an installed file without a version resource counts as equal.
bool InstalledDriverIsNewer(Platform& platform, TextView infDir);

std::uint32_t InstallKernelDriver(Platform& platform);
std::uint32_t Uninstall(Platform& platform);
std::uint32_t CleanupInstall(Platform& platform);

}  // namespace orvel::installer
