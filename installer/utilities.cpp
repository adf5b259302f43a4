#include "installer/utilities.h"

#include "installer/common.h"

namespace orvel::installer {

std::int64_t FindProcessByImageName(Platform& platform, TextView name) {
  Processes& processes = platform.processes;
  Snapshot snapshot(processes.CreateSnapshot(), processes);
  if (!snapshot) return kProcessSnapshotError;
  ProcessEntry entry;
  std::uint32_t status = processes.First(snapshot.get(), &entry);
  if (status != kErrorSuccess) return kProcessSnapshotError;
  std::int64_t found = kProcessNotFound;
  while (status == kErrorSuccess) {
    if (TextFromUnits(entry.exeFile, kMaxPath) == name) {
      found = entry.processId;
      break;
    }
    status = processes.Next(snapshot.get(), &entry);
  }
  snapshot.reset();
  if (found == kProcessNotFound && status != kErrorNoMoreFiles) return kProcessSnapshotError;
  return found;
}

bool IsVersionAtLeast(Platform& platform, std::uint32_t major, std::uint32_t minor,
                      std::uint32_t servicePackMajor) {
  return platform.system.VerifyVersion(major, minor, servicePackMajor,
                                       VersionField::kServicePackMajor);
}

bool IsBuildAtLeast(Platform& platform, std::uint32_t major, std::uint32_t minor,
                    std::uint32_t build) {
  return platform.system.VerifyVersion(major, minor, build, VersionField::kBuildNumber);
}

std::uint32_t ProcessKill(Platform& platform) {
  const std::int64_t id = FindProcessByImageName(platform, kServerImageName);
  if (id == kProcessNotFound) {
    Log(platform.session, u"ProcessKill: the server program is not running");
    return kResultSuccess;
  }
  if (id < 0) {
    Log(platform.session, u"ProcessKill: the process list could not be read; 1603");
    return kResultFailure;
  }
  Processes& processes = platform.processes;
  Process process(processes.OpenForTerminate(static_cast<std::uint32_t>(id)), processes);
  if (!process) {
    Log(platform.session,
        u"ProcessKill: the server program cannot be stopped; restart requested, 1603");
    RequestReboot(platform);
    return kResultFailure;
  }
  processes.Terminate(process.get(), 1);
  process.reset();
  Log(platform.session, u"ProcessKill: the server program was stopped; restart requested");
  RequestReboot(platform);
  return kResultSuccess;
}

std::uint32_t GetOSVersion(Platform& platform) {
  const bool recent = IsBuildAtLeast(platform, 10, 0, 19041);
  platform.session.SetProperty(kBuildProperty, recent ? u"YES" : u"NO");
  Log(platform.session,
      recent ? u"GetOSVersion: IS20H1ORGREATER=YES" : u"GetOSVersion: IS20H1ORGREATER=NO");
  return kResultSuccess;
}

std::uint32_t IsAdmin(Platform& platform) {
  if (!platform.system.IsUserInAdministratorsGroup()) {
    Log(platform.session, u"IsAdmin: not in the Administrators group; 1603 (25003)");
    PostInstallerMessage(platform.session, kInstallMessageError, kMessageNotAdministrator);
    return kResultFailure;
  }
  if (!IsVersionAtLeast(platform, 5, 1, 0)) {
    Log(platform.session, u"IsAdmin: Windows older than 5.1; 1603 (25004)");
    PostInstallerMessage(platform.session, kInstallMessageError, kMessageSystemTooOld);
    return kResultFailure;
  }
  return kResultSuccess;
}

std::uint32_t delSystem32DllFile(Platform& platform) {
  DeleteFileNowOrAtRestart(platform, u"delSystem32DllFile",
                           *JoinPath(kLibraryCopyFolder, kMidiLibraryName));
  return kResultSuccess;
}

}  // namespace orvel::installer
