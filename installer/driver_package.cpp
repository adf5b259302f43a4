#include "installer/driver_package.h"

#include <cstring>
#include <optional>
#include <vector>

#include "installer/common.h"

namespace orvel::installer {
namespace {

constexpr TextView kProductHardwareMark = u"VANTOR\\VORVEL";
constexpr TextView kProductServiceMark = u"VORVEL";
constexpr std::uint32_t kEnumeratorBytes = 520;
constexpr std::uint32_t kServiceBytes = 520;
constexpr std::uint32_t kInfPathBytes = 520;

std::optional<Text> ReadDeviceService(Devices& devices, DeviceSetHandle set,
                                      const DeviceInfo& device) {
  std::vector<std::uint8_t> buffer(kServiceBytes, 0);
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  if (devices.GetDeviceRegistryProperty(set, device, kSpdrpService, &type, buffer.data(),
                                        kServiceBytes, &required) != kErrorSuccess) {
    return std::nullopt;
  }
  return TextFromBytes(buffer.data(), buffer.size());
}

// "InfPath" of the device's driver key, when the key opens and holds it.
std::optional<Text> ReadDriverInfPath(Platform& platform, DeviceSetHandle set,
                                      const DeviceInfo& device) {
  Key driver(platform.devices.OpenDriverKey(set, device), platform.registry);
  if (!driver) return std::nullopt;
  return ReadString(platform.registry, driver.get(), u"InfPath", kInfPathBytes);
}

// After a successful DIF_REMOVE: a restart is asked for when the device needs one.
void RequestRebootIfRemovalNeedsIt(Platform& platform, DeviceSetHandle set,
                                   const DeviceInfo& device) {
  std::uint32_t flags = 0;
  if (platform.devices.GetDeviceInstallFlags(set, device, &flags) == kErrorSuccess &&
      (flags & (kDiNeedReboot | kDiNeedRestart)) != 0) {
    RequestReboot(platform);
  }
}

// The version of a file's fixed-file-info, or nothing without a version resource.
std::optional<std::uint64_t> ReadFileVersion(Files& files, const std::optional<Text>& path) {
  if (!path) return std::nullopt;
  const std::uint32_t size = files.GetFileVersionInfoSize(*path);
  if (size == 0) return std::nullopt;
  std::vector<std::uint8_t> block(size, 0);
  if (files.GetFileVersionInfo(*path, size, block.data()) != kErrorSuccess) return std::nullopt;
  std::uint32_t ms = 0;
  std::uint32_t ls = 0;
  if (!files.QueryFixedVersion(block.data(), &ms, &ls)) return std::nullopt;
  return (std::uint64_t{ms} << 32) | ls;
}

std::optional<Text> DriverFilePath(const Text& sysDir, TextView file) {
  const auto drivers = JoinPath(sysDir, u"drivers");
  if (!drivers) return std::nullopt;
  return JoinPath(*drivers, file);
}

enum class InfPathState { kFound, kMissing, kTooLong };
struct InfPathSource {
  InfPathState state = InfPathState::kMissing;
  Text path;
};

// "Argument" of a repair run, else "CustomActionData". "Argument" is deleted whenever the
// key opens, usable or not, so that a value that cannot serve never blocks a later install.
InfPathSource ReadInfPath(Platform& platform) {
  Registry& registry = platform.registry;
  {
    Key key = OpenKey(registry, kInstallerKey, RegView::kDefault, RegAccess::kRead);
    if (key) {
      std::uint32_t size = 0;
      std::uint32_t type = 0;
      InfPathSource argument;
      if (registry.QueryValue(key.get(), kArgumentValue, &type, nullptr, &size) == kErrorSuccess &&
          type == kRegSz) {
        if (size > kMaxPath * sizeof(char16_t)) {
          argument.state = InfPathState::kTooLong;
        } else if (auto value =
                       ReadString(registry, key.get(), kArgumentValue,
                                  static_cast<std::uint32_t>(kMaxPath * sizeof(char16_t)))) {
          if (value->size() >= kMaxPath) {
            argument.state = InfPathState::kTooLong;
          } else if (!value->empty()) {
            argument = {InfPathState::kFound, *value};
          }
        }
      }
      key.reset();
      DeleteInstallerValue(platform, kArgumentValue);
      if (argument.state != InfPathState::kMissing) return argument;
    }
  }
  InstallerSession& session = platform.session;
  char16_t empty[1] = {u'\0'};
  std::uint32_t length = 0;
  if (session.GetProperty(u"CustomActionData", empty, &length) != kErrorMoreData || length == 0) {
    return {};
  }
  if (length >= kMaxPath) return {InfPathState::kTooLong, {}};
  std::vector<char16_t> value(static_cast<std::size_t>(length) + 1, u'\0');
  std::uint32_t size = length + 1;
  if (session.GetProperty(u"CustomActionData", value.data(), &size) != kErrorSuccess) return {};
  Text path = TextFromUnits(value.data(), value.size());
  if (path.empty()) return {};
  return {InfPathState::kFound, path};
}

}  // namespace

bool AnyServicePendingDeletion(Platform& platform) {
  Services& services = platform.services;
  Service manager(services.OpenManager(), services);
  if (!manager) return false;
  bool pending = false;
  for (const auto& variant : kDriverVariants) {
    Service service(
        services.OpenService(manager.get(), variant.service,
                             kServiceChangeConfig | kServiceStop | kStandardRightsRequired),
        services);
    if (service && services.ChangeConfigNoChange(service.get()) == kErrorServiceMarkedForDelete) {
      pending = true;
    }
  }
  return pending;
}

bool InstalledDriverIsNewer(Platform& platform, TextView infDir) {
  const std::optional<Text> sysDir = SystemDirectory(platform.files);
  for (const auto& variant : kDriverVariants) {
    const std::uint64_t packaged =
        ReadFileVersion(platform.files, JoinPath(infDir, variant.file)).value_or(0);
    const auto installedPath =
        sysDir ? DriverFilePath(*sysDir, variant.file) : std::optional<Text>();
    const std::uint64_t installed =
        ReadFileVersion(platform.files, installedPath).value_or(packaged);
    if (packaged != 0 && packaged < installed) return true;
  }
  return false;
}

namespace {

void RemoveNonPresentProductDevices(Platform& platform) {
  Devices& devices = platform.devices;
  DeviceSet set(devices.GetClassDevs(u"PCI", kDigcfAllClasses), devices);
  if (!set) return;
  DeviceInfo device;
  for (std::uint32_t index = 0; devices.EnumDeviceInfo(set.get(), index, &device) == kErrorSuccess;
       ++index) {
    Text firstId;
    if (!IsProductDevice(platform, set.get(), device, &firstId)) continue;
    std::uint32_t status = 0;
    std::uint32_t problem = 0;
    if (devices.GetNodeStatus(device.devInst, &status, &problem) == kCrSuccess) continue;
    const auto service = ReadDeviceService(devices, set.get(), device);
    if (!service) continue;
    if (IsProductService(platform, *service)) {
      if (const auto inf = ReadDriverInfPath(platform, set.get(), device)) {
        devices.UninstallOemInf(*inf, kSuoiForceDelete);
      }
    }
    if (devices.CallClassInstaller(kDifRemove, set.get(), device) == kErrorSuccess) {
      RequestRebootIfRemovalNeedsIt(platform, set.get(), device);
    }
  }
}

}  // namespace

bool IsProductDevice(Platform& platform, DeviceSetHandle set, const DeviceInfo& device,
                     Text* firstId) {
  Devices& devices = platform.devices;
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  devices.GetDeviceRegistryProperty(set, device, kSpdrpHardwareId, &type, nullptr, 0, &required);
  if (required == 0) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(required) + 2 * sizeof(char16_t), 0);
  if (devices.GetDeviceRegistryProperty(set, device, kSpdrpHardwareId, &type, bytes.data(),
                                        required, &required) != kErrorSuccess) {
    return false;
  }
  Text all(bytes.size() / sizeof(char16_t), u'\0');
  std::memcpy(all.data(), bytes.data(), all.size() * sizeof(char16_t));
  bool first = true;
  for (std::size_t at = 0; at < all.size() && all[at] != u'\0';) {
    auto end = all.find(u'\0', at);
    if (end == Text::npos) end = all.size();
    Text id = all.substr(at, end - at);
    platform.system.UpperCase(id);
    if (first && firstId) *firstId = id;
    first = false;
    if (id.find(kProductHardwareMark) != Text::npos) return true;
    at = end + 1;
  }
  return false;
}

bool IsProductService(Platform& platform, Text serviceName) {
  platform.system.UpperCase(serviceName);
  return serviceName.find(kProductServiceMark) != Text::npos;
}

void ReenumeratePciDevices(Platform& platform) {
  Devices& devices = platform.devices;
  std::uint32_t node = 0;
  if (devices.LocateRootNode(&node) != kCrSuccess) return;
  for (;;) {
    std::uint8_t name[kEnumeratorBytes] = {};
    std::uint32_t size = kEnumeratorBytes;
    const bool pci = devices.GetEnumeratorName(node, name, &size) == kCrSuccess &&
                     TextFromBytes(name, size).find(u"PCI") != Text::npos;
    std::uint32_t next = 0;
    if (pci) {
      devices.Reenumerate(node, 0);
    } else if (devices.GetChild(&next, node) == kCrSuccess) {
      node = next;
      continue;
    }
    // Next sibling, climbing as far as needed; the walk ends where no parent is left.
    for (;;) {
      if (devices.GetSibling(&next, node) == kCrSuccess) {
        node = next;
        break;
      }
      if (devices.GetParent(&next, node) != kCrSuccess) return;
      node = next;
    }
  }
}

std::uint32_t InstallKernelDriver(Platform& platform) {
  InstallerSession& session = platform.session;
  const InfPathSource source = ReadInfPath(platform);
  if (source.state != InfPathState::kFound) {
    Log(session, source.state == InfPathState::kTooLong
                     ? u"InstallKernelDriver: the INF path is 260 characters or more; 1603"
                     : u"InstallKernelDriver: no INF path in Argument or CustomActionData; 1603");
    return kResultFailure;
  }

  const Text& infPath = source.path;
  Log(session, u"InstallKernelDriver: INF " + infPath);
  const Text infDir = FolderOf(infPath);
  const std::optional<Text> sysDir = SystemDirectory(platform.files);

  if (AnyServicePendingDeletion(platform)) {
    const bool requested = RequestReboot(platform);
    const bool scheduled = ScheduleRepairAfterReboot(platform, infPath);
    Log(session, Text(u"InstallKernelDriver: a driver service is marked for deletion; nothing "
                      u"installed, restart ") +
                     (requested ? u"requested" : u"request failed") + u", repair " +
                     (scheduled ? u"scheduled" : u"could not be scheduled"));
    return kResultSuccess;
  }

  ReenumeratePciDevices(platform);
  DeleteInstallerValue(platform, kRebootRequestValue);

  // The guard comes before the recorded packages go: a refused install leaves the newer
  // driver and the packages it runs from as they are.
  if (InstalledDriverIsNewer(platform, infDir)) {
    Log(session, u"InstallKernelDriver: an installed driver file is newer; refused (25008)");
    PostInstallerMessage(session, kInstallMessageUser, kMessageNewerDriverInstalled);
    return kResultSuccess;
  }
  RemoveRecordedOemInfs(platform);

  RemoveNonPresentProductDevices(platform);

  Devices& devices = platform.devices;
  int updated = 0;
  int reboots = 0;
  {
    DeviceSet set(devices.GetClassDevs(u"PCI", kDigcfAllClasses | kDigcfPresent), devices);
    if (!set) {
      Log(session, u"InstallKernelDriver: SetupDiGetClassDevsW(PCI) failed; nothing installed");
      return kResultSuccess;
    }
    DeviceInfo device;
    for (std::uint32_t index = 0;
         devices.EnumDeviceInfo(set.get(), index, &device) == kErrorSuccess; ++index) {
      Text firstId;
      if (!IsProductDevice(platform, set.get(), device, &firstId)) continue;
      bool reboot = false;
      if (const auto status = devices.UpdateDriver(firstId, infPath, kInstallFlagForce, &reboot);
          status != kErrorSuccess) {
        Log(session, u"InstallKernelDriver: UpdateDriverForPlugAndPlayDevicesW(" + firstId +
                         u") failed with error " + Decimal(status));
        continue;
      }
      ++updated;
      if (reboot) ++reboots;
      if (const auto inf = ReadDriverInfPath(platform, set.get(), device)) {
        RecordOemInf(platform, *inf);
      }
    }
  }
  if (updated > 0) {
    Log(session, u"InstallKernelDriver: driver updated on " + Decimal(updated) +
                     u" PCI device(s), restart " + (reboots > 0 ? u"requested" : u"not needed"));
    if (reboots > 0) RequestReboot(platform);
    return kResultSuccess;
  }

  char16_t destination[kMaxPath] = {};
  std::uint32_t required = 0;
  if (const auto status =
          devices.CopyOemInf(infPath, infDir, kSpostPath, 0, destination, kMaxPath, &required);
      status != kErrorSuccess) {
    Log(session, u"InstallKernelDriver: SetupCopyOEMInfW failed with error " + Decimal(status) +
                     u"; 1603 (25005)");
    PostInstallerMessage(session, kInstallMessageError, kMessageStagingFailed);
    return kResultFailure;
  }
  const Text staged = FindFileName(TextFromUnits(destination, kMaxPath));
  Log(session, u"InstallKernelDriver: no product PCI device present; package staged as " + staged);
  RecordOemInf(platform, staged);

  if (sysDir) {
    for (TextView file : {u"vorvel_w8_1_64.sys", u"vorvel_w10_64.sys"}) {
      const auto sourceFile = JoinPath(infDir, file);
      const auto target = DriverFilePath(*sysDir, file);
      if (!sourceFile || !target) continue;
      bool inUse = false;
      const auto status =
          platform.files.InstallFile(*sourceFile, *target, kSpCopyForceNewerSourceAbsolute, &inUse);
      if (status != kErrorSuccess) {
        Log(session, u"InstallKernelDriver: SetupInstallFileExW(" + Text(file) +
                         u") failed with error " + Decimal(status));
      }
      if (inUse) {
        Log(session, u"InstallKernelDriver: " + Text(file) + u" in use; restart requested");
        RequestReboot(platform);
      }
    }
  }
  return kResultSuccess;
}

std::uint32_t Uninstall(Platform& platform) {
  DeleteInstallerValue(platform, kRebootRequestValue);

  Devices& devices = platform.devices;
  DeviceSet set(devices.GetClassDevs(u"PCI", kDigcfAllClasses), devices);
  // Without a device list the services, files and packages still go: a failed
  // enumeration must not leave the driver behind while the uninstall reports success.
  if (!set) Log(platform.session, u"Uninstall: SetupDiGetClassDevsW(PCI) failed; devices left");
  if (set) {
    DeviceInfo device;
    for (std::uint32_t index = 0;
         devices.EnumDeviceInfo(set.get(), index, &device) == kErrorSuccess; ++index) {
      Text firstId;
      if (!IsProductDevice(platform, set.get(), device, &firstId)) continue;
      const auto service = ReadDeviceService(devices, set.get(), device);
      if (!service || !IsProductService(platform, *service)) continue;
      Key driver(devices.OpenDriverKey(set.get(), device), platform.registry);
      if (!driver) continue;
      if (const auto inf = ReadString(platform.registry, driver.get(), u"InfPath", kInfPathBytes)) {
        devices.UninstallOemInf(*inf, kSuoiForceDelete);
      }
      driver.reset();
      if (const auto status = devices.CallClassInstaller(kDifRemove, set.get(), device);
          status == kErrorSuccess) {
        Log(platform.session, u"Uninstall: removed device " + firstId);
        RequestRebootIfRemovalNeedsIt(platform, set.get(), device);
      } else {
        Log(platform.session,
            u"Uninstall: DIF_REMOVE of " + firstId + u" failed with error " + Decimal(status));
      }
    }
  }
  set.reset();

  Services& services = platform.services;
  Service manager(services.OpenManager(), services);
  if (!manager) Log(platform.session, u"Uninstall: OpenSCManagerW failed; services left");
  if (manager) {
    for (const auto& variant : kDriverVariants) {
      Service service(services.OpenService(manager.get(), variant.service,
                                           kServiceStop | kStandardRightsRequired),
                      services);
      if (!service) continue;
      if (services.ControlStop(service.get()) == kErrorInvalidServiceControl) {
        Log(platform.session,
            Text(u"Uninstall: ") + Text(variant.service) + u" refuses to stop; restart requested");
        RequestReboot(platform);
      }
      const auto status = services.DeleteService(service.get());
      Log(platform.session,
          Text(u"Uninstall: deleting service ") + Text(variant.service) +
              (status == kErrorSuccess ? Text(u": done") : u": error " + Decimal(status)));
    }
  }

  if (const auto sysDir = SystemDirectory(platform.files)) {
    for (const auto& variant : kDriverVariants) {
      if (const auto path = DriverFilePath(*sysDir, variant.file)) {
        DeleteFileNowOrAtRestart(platform, u"Uninstall", *path);
      }
    }
  }
  RemoveRecordedOemInfs(platform);

  DeleteInstallerValue(platform, kInstalledDirectoryValue);
  Key runOnce = OpenKey(platform.registry, kRunOnceKey, RegView::kDefault, RegAccess::kReadWrite);
  if (runOnce) platform.registry.DeleteValue(runOnce.get(), kRunOnceValue);
  return kResultSuccess;
}

std::uint32_t CleanupInstall(Platform& platform) {
  char16_t launched[10] = {};
  std::uint32_t length = 10;
  if (platform.session.GetProperty(u"LAUNCHEDBYINTEGRATOR", launched, &length) == kErrorSuccess &&
      TextFromUnits(launched, 10) == u"1") {
    Log(platform.session, u"CleanupInstall: launched by the integrated installer; it restarts");
    return kResultSuccess;
  }
  Registry& registry = platform.registry;
  Key key = OpenKey(registry, kInstallerKey, RegView::kDefault, RegAccess::kRead);
  if (!key) return kResultSuccess;
  std::uint8_t data[4] = {1, 1, 1, 1};
  std::uint32_t size = sizeof data;
  // Four bytes of any type; a shorter value is not a request.
  if (registry.QueryValue(key.get(), kRebootRequestValue, nullptr, data, &size) == kErrorSuccess &&
      size == sizeof data && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 0) {
    const auto status = platform.session.DoAction(u"ScheduleReboot");
    Log(platform.session,
        status == kErrorSuccess
            ? Text(u"CleanupInstall: a restart was requested; ScheduleReboot")
            : u"CleanupInstall: ScheduleReboot failed with error " + Decimal(status));
    platform.session.SetProperty(kRebootRequestValue, u"0");
  } else {
    Log(platform.session, u"CleanupInstall: no restart requested");
  }
  return kResultSuccess;
}

}  // namespace orvel::installer
