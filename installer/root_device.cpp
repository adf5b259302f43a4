#include "installer/root_device.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "installer/common.h"
#include "installer/driver_package.h"

namespace orvel::installer {
namespace {

constexpr std::size_t kHardwareIdUnits = 256;
constexpr std::uint32_t kClassNameUnits = 32;
constexpr std::uint32_t kInstanceIdUnits = 200;
constexpr std::uint32_t kFirstPropertyBytes = 8192;

// The strings of a REG_MULTI_SZ buffer.
std::vector<Text> SplitMultiString(const std::vector<std::uint8_t>& bytes, std::uint32_t size) {
  Text all(std::min<std::size_t>(size, bytes.size()) / sizeof(char16_t), u'\0');
  std::memcpy(all.data(), bytes.data(), all.size() * sizeof(char16_t));
  std::vector<Text> strings;
  std::size_t at = 0;
  while (at < all.size() && all[at] != u'\0') {
    auto end = all.find(u'\0', at);
    if (end == Text::npos) end = all.size();
    strings.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  return strings;
}

// A multi-string device property; an empty list when it cannot be read.
std::vector<Text> ReadIdList(Devices& devices, DeviceSetHandle set, const DeviceInfo& device,
                             std::uint32_t property) {
  // Aligned storage for UTF-16 units; two extra terminators after a reallocation.
  std::vector<std::uint8_t> buffer(kFirstPropertyBytes, 0);
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  auto status =
      devices.GetDeviceRegistryProperty(set, device, property, &type, buffer.data(),
                                        static_cast<std::uint32_t>(buffer.size()), &required);
  if (status == kErrorInsufficientBuffer && type == kRegMultiSz && required > 0) {
    buffer.assign(static_cast<std::size_t>(required) + 2 * sizeof(char16_t), 0);
    status = devices.GetDeviceRegistryProperty(set, device, property, &type, buffer.data(),
                                               required, &required);
  }
  if (status != kErrorSuccess) return {};
  return SplitMultiString(buffer, static_cast<std::uint32_t>(buffer.size()));
}

bool AnyEqualNoCase(System& system, const std::vector<Text>& ids, const Text& upperPattern) {
  for (Text id : ids) {
    system.UpperCase(id);
    if (id == upperPattern) return true;
  }
  return false;
}

// Whole, in any case: the hardware IDs, or failing those the compatible IDs.
bool MatchesHardwareId(Platform& platform, DeviceSetHandle set, const DeviceInfo& device,
                       const Text& upperPattern) {
  return AnyEqualNoCase(platform.system,
                        ReadIdList(platform.devices, set, device, kSpdrpHardwareId),
                        upperPattern) ||
         AnyEqualNoCase(platform.system,
                        ReadIdList(platform.devices, set, device, kSpdrpCompatibleIds),
                        upperPattern);
}

}  // namespace

std::uint32_t CreateRootDevice(Platform& platform, TextView inf, TextView hardwareId) {
  if (inf.empty() || hardwareId.empty()) return kDeviceBadArgument;
  std::array<char16_t, kMaxPath> fullPath{};
  const std::uint32_t length =
      platform.files.GetFullPathName(inf, fullPath.data(), static_cast<std::uint32_t>(kMaxPath));
  if (length == 0 || length >= kMaxPath) return kDeviceFailed;
  if (hardwareId.size() + 1 > kHardwareIdUnits) return kDeviceFailed;
  // The ID and a second terminator in a zero-filled buffer.
  std::array<char16_t, kMaxPath> idList{};
  std::copy(hardwareId.begin(), hardwareId.end(), idList.begin());
  const auto idListBytes = static_cast<std::uint32_t>((hardwareId.size() + 2) * sizeof(char16_t));

  Devices& devices = platform.devices;
  Guid classGuid;
  std::array<char16_t, kClassNameUnits> className{};
  std::uint32_t required = 0;
  if (devices.GetInfClass(TextFromUnits(fullPath.data(), length), &classGuid, className.data(),
                          kClassNameUnits, &required) != kErrorSuccess) {
    return kDeviceFailed;
  }
  DeviceSet set(devices.CreateDeviceInfoList(classGuid), devices);
  if (!set) return kDeviceFailed;
  DeviceInfo device;
  const bool registered =
      devices.CreateDeviceInfo(set.get(), TextFromUnits(className.data(), kClassNameUnits),
                               classGuid, kDicdGenerateId, &device) == kErrorSuccess &&
      devices.SetDeviceRegistryProperty(set.get(), device, kSpdrpHardwareId,
                                        reinterpret_cast<const std::uint8_t*>(idList.data()),
                                        idListBytes) == kErrorSuccess &&
      devices.CallClassInstaller(kDifRegisterDevice, set.get(), device) == kErrorSuccess;
  if (!registered) return kDeviceFailed;
  // A registered node stays even when its driver cannot be installed.
  return UpdateDriverForHardwareId(platform, inf, hardwareId);
}

std::uint32_t UpdateDriverForHardwareId(Platform& platform, TextView inf, TextView hardwareId) {
  if (inf.empty() || hardwareId.empty()) return kDeviceBadArgument;
  std::array<char16_t, kMaxPath> fullPath{};
  const std::uint32_t length =
      platform.files.GetFullPathName(inf, fullPath.data(), static_cast<std::uint32_t>(kMaxPath));
  if (length < 1 || length > kMaxPath - 1) return kDeviceFailed;
  const Text full = TextFromUnits(fullPath.data(), length);
  if (platform.files.GetFileAttributes(full) == kInvalidFileAttributes) return kDeviceFailed;

  Devices& devices = platform.devices;
  Library newdev(devices.LoadLibrary(u"newdev.dll"), devices);
  if (!newdev) return kDeviceFailed;
  const std::uintptr_t update =
      devices.GetProcAddress(newdev.get(), "UpdateDriverForPlugAndPlayDevicesW");
  if (update == 0) return kDeviceFailed;
  bool reboot = false;
  if (devices.UpdateDriverThrough(update, hardwareId, full, kInstallFlagForce, &reboot) !=
      kErrorSuccess) {
    return kDeviceFailed;
  }
  return reboot ? kDeviceDoneRestart : kDeviceDone;
}

std::uint32_t RemoveDevicesByHardwareId(Platform& platform, TextView pattern) {
  Devices& devices = platform.devices;
  DeviceSet set(devices.GetClassDevsEx(kDigcfAllClasses | kDigcfPresent), devices);
  if (!set) return kDeviceFailed;
  MachineHandle machine;
  if (devices.GetDeviceInfoListDetail(set.get(), &machine) != kErrorSuccess) return kDeviceFailed;

  Text upperPattern(pattern);
  platform.system.UpperCase(upperPattern);
  int removed = 0;
  bool restart = false;
  DeviceInfo device;
  for (std::uint32_t index = 0; devices.EnumDeviceInfo(set.get(), index, &device) == kErrorSuccess;
       ++index) {
    if (!MatchesHardwareId(platform, set.get(), device, upperPattern)) continue;

    std::array<char16_t, kInstanceIdUnits> instanceId{};
    if (devices.GetDeviceInfoListDetail(set.get(), &machine) != kErrorSuccess ||
        devices.GetDeviceInstanceId(device, machine, instanceId.data(), kInstanceIdUnits) !=
            kCrSuccess) {
      continue;
    }
    if (const auto status = devices.SetRemoveParams(set.get(), device, kDiRemoveDeviceGlobal, 0);
        status != kErrorSuccess) {
      Log(platform.session, u"SetupDiSetClassInstallParamsW(DIF_REMOVE) failed with error " +
                                Decimal(status) + u"; node left");
      continue;
    }
    if (const auto status = devices.CallClassInstaller(kDifRemove, set.get(), device);
        status != kErrorSuccess) {
      Log(platform.session, u"DIF_REMOVE failed with error " + Decimal(status) + u"; node left");
      continue;
    }
    std::uint32_t flags = 0;
    if (devices.GetDeviceInstallFlags(set.get(), device, &flags) == kErrorSuccess &&
        (flags & (kDiNeedReboot | kDiNeedRestart)) != 0) {
      restart = true;
    }
    ++removed;
  }
  Log(platform.session, u"removed " + Decimal(static_cast<std::uint32_t>(removed)) + u" node(s) " +
                            Text(pattern) + (restart ? u", restart needed" : u""));
  return removed > 0 && restart ? kDeviceDoneRestart : kDeviceDone;
}

int CountDevicesByHardwareId(Platform& platform, TextView pattern) {
  Devices& devices = platform.devices;
  DeviceSet set(devices.GetClassDevsEx(kDigcfAllClasses | kDigcfPresent), devices);
  if (!set) return -1;
  Text upperPattern(pattern);
  platform.system.UpperCase(upperPattern);
  int count = 0;
  DeviceInfo device;
  for (std::uint32_t index = 0; devices.EnumDeviceInfo(set.get(), index, &device) == kErrorSuccess;
       ++index) {
    if (MatchesHardwareId(platform, set.get(), device, upperPattern)) ++count;
  }
  return count;
}

std::optional<Text> RootDeviceInfPath(Platform& platform) {
  char16_t folder[kMaxPath] = {};
  if (platform.files.GetProgramFilesX86(folder) != kErrorSuccess) return std::nullopt;
  const Text programFiles = RemoveBackslash(TextFromUnits(folder, kMaxPath));
  if (programFiles.empty()) return std::nullopt;
  return JoinPath(programFiles, kRootDeviceInfUnderProgramFiles);
}

std::uint32_t SetDeviceInfo(Platform& platform) {
  DeleteInstallerValue(platform, kRebootRequestValue);
  InstallerSession& session = platform.session;
  const std::optional<Text> inf = RootDeviceInfPath(platform);
  if (!inf) {
    Log(session, u"SetDeviceInfo: no INF path under the 32-bit Program Files folder; 1603");
    return kResultFailure;
  }
  // Nothing is installed while a driver service waits for the restart: the driver-package
  // action schedules the restart and the repair after it, which makes the node.
  if (AnyServicePendingDeletion(platform)) {
    Log(session,
        u"SetDeviceInfo: a driver service is marked for deletion; no node before the "
        u"restart");
    return kResultSuccess;
  }
  // A refused install leaves a newer driver on its node.
  if (InstalledDriverIsNewer(platform, FolderOf(*inf))) {
    Log(session, u"SetDeviceInfo: an installed driver file is newer; node left as it is");
    return kResultSuccess;
  }
  // One node: a repair, a modify or an upgrade installs the driver on the node that is there.
  const bool present = CountDevicesByHardwareId(platform, kRootHardwareId) > 0;
  const std::uint32_t result = present ? UpdateDriverForHardwareId(platform, *inf, kRootHardwareId)
                                       : CreateRootDevice(platform, *inf, kRootHardwareId);
  Log(session, Text(present ? u"SetDeviceInfo: driver updated on the present node from "
                            : u"SetDeviceInfo: node created with the driver from ") +
                   *inf + u": result " + Decimal(result) +
                   (result == kDeviceDone ? u"" : u" (1 restart needed, 2 failed); 1603"));
  return result == kDeviceDone ? kResultSuccess : kResultFailure;
}

std::uint32_t DelDeviceInfo(Platform& platform) {
  const std::uint32_t result = RemoveDevicesByHardwareId(platform, kRootHardwareId);
  Log(platform.session, u"DelDeviceInfo: result " + Decimal(result) +
                            (result == kDeviceDone ? u"" : u" (1 restart needed, 2 failed); 1603"));
  return result == kDeviceDone ? kResultSuccess : kResultFailure;
}

}  // namespace orvel::installer
