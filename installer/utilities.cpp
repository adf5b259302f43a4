#include "installer/utilities.h"

#include "installer/common.h"

namespace orvel::installer {

std::optional<std::vector<std::uint32_t>> FindProcessesByImageName(Platform& platform,
                                                                   TextView name) {
  Processes& processes = platform.processes;
  Snapshot snapshot(processes.CreateSnapshot(), processes);
  if (!snapshot) return std::nullopt;
  ProcessEntry entry;
  std::uint32_t status = processes.First(snapshot.get(), &entry);
  if (status != kErrorSuccess) return std::nullopt;
  std::vector<std::uint32_t> found;
  while (status == kErrorSuccess) {
    if (TextFromUnits(entry.exeFile, kMaxPath) == name) found.push_back(entry.processId);
    status = processes.Next(snapshot.get(), &entry);
  }
  // A list cut short still serves when it named the program.
  if (status != kErrorNoMoreFiles && found.empty()) return std::nullopt;
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

namespace {

enum class Candidate { kServer, kOther, kUnknown };

// What runs under an ID that the snapshot named: asked of the opened process itself, so
// that an ID freed and given to another process since the snapshot is never taken for
// the server. Only the program in the system folder is the server.
Candidate Identify(Platform& platform, ProcessHandle process, const Text& serverPath) {
  char16_t image[kMaxPath] = {};
  std::uint32_t size = kMaxPath;
  const auto status = platform.processes.QueryImageName(process, image, &size);
  // A path longer than the buffer is not the server's, which fits.
  if (status == kErrorInsufficientBuffer) return Candidate::kOther;
  if (status != kErrorSuccess) return Candidate::kUnknown;
  Text path = TextFromUnits(image, size < kMaxPath ? size : kMaxPath);
  Text expected = serverPath;
  platform.system.UpperCase(path);
  platform.system.UpperCase(expected);
  return path == expected ? Candidate::kServer : Candidate::kOther;
}

}  // namespace

std::uint32_t ProcessKill(Platform& platform) {
  const auto folder = SystemDirectory(platform.files);
  const auto serverPath = folder ? JoinPath(*folder, kServerImageName) : std::nullopt;
  const auto ids = FindProcessesByImageName(platform, kServerImageName);
  if (!serverPath || !ids) {
    Log(platform.session,
        u"ProcessKill: the process list or the system folder could not be read; 1603");
    return kResultFailure;
  }
  Processes& processes = platform.processes;
  bool unknown = false;
  for (const std::uint32_t id : *ids) {
    Process process(processes.OpenForTerminate(id), processes);
    const Candidate what =
        process ? Identify(platform, process.get(), *serverPath) : Candidate::kUnknown;
    if (what == Candidate::kUnknown) unknown = true;
    if (what != Candidate::kServer) {
      Log(platform.session,
          Text(u"ProcessKill: process ") + Decimal(id) +
              (what == Candidate::kOther
                   ? u" is not the server program in the system folder; left alone"
                   : u" cannot be opened or asked for its program"));
      continue;
    }
    processes.Terminate(process.get(), 1);
    process.reset();
    Log(platform.session, u"ProcessKill: the server program was stopped; restart requested");
    RequestReboot(platform);
    return kResultSuccess;
  }
  if (unknown) {
    Log(platform.session,
        u"ProcessKill: the server program cannot be stopped; restart requested, 1603");
    RequestReboot(platform);
    return kResultFailure;
  }
  Log(platform.session, u"ProcessKill: the server program is not running");
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
  const auto folder = SystemX86Directory(platform.files);
  const auto path = folder ? JoinPath(*folder, kMidiLibraryName) : std::nullopt;
  if (!path) {
    Log(platform.session, u"delSystem32DllFile: the 32-bit system folder is unknown; nothing done");
    return kResultSuccess;
  }
  DeleteFileNowOrAtRestart(platform, u"delSystem32DllFile", *path);
  return kResultSuccess;
}

}  // namespace orvel::installer
