#include "installer/utilities.h"

#include <algorithm>

#include "firewall/firewall_exception.h"
#include "installer/common.h"

namespace orvel::installer {

std::optional<std::vector<std::uint32_t>> FindProcessesByImageName(Platform& platform,
                                                                   const std::vector<Text>& names) {
  std::vector<Text> wanted = names;
  for (Text& name : wanted) platform.system.UpperCase(name);
  Processes& processes = platform.processes;
  Snapshot snapshot(processes.CreateSnapshot(), processes);
  if (!snapshot) return std::nullopt;
  ProcessEntry entry;
  std::uint32_t status = processes.First(snapshot.get(), &entry);
  if (status != kErrorSuccess) return std::nullopt;
  std::vector<std::uint32_t> found;
  while (status == kErrorSuccess) {
    Text name = TextFromUnits(entry.exeFile, kMaxPath);
    platform.system.UpperCase(name);
    if (std::find(wanted.begin(), wanted.end(), name) != wanted.end()) {
      found.push_back(entry.processId);
    }
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

// The folders Orvelcfg's firewall rule asks for, answered by this library's own calls.
// The library is 64-bit: it never runs under WOW64.
class ActionFolders final : public ServerFolders {
 public:
  explicit ActionFolders(Files& files) : files_(files) {}
  bool IsWow64Process(bool* wow64) override {
    *wow64 = false;
    return true;
  }
  HResult GetSystemFolderPath(WideString* path) override {
    return Answer(SystemDirectory(files_), path) ? kSOk : kEInvalidArg;
  }
  bool GetSystemWindowsDirectory(WideString*) override { return false; }  // WOW64 only
  bool GetSystemWow64Directory(WideString* path) override {
    return Answer(SystemX86Directory(files_), path);
  }
  bool FileExists(const WideString& path) override {
    const std::uint32_t attributes = files_.GetFileAttributes(path);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
  }

 private:
  static bool Answer(const std::optional<Text>& folder, WideString* path) {
    if (folder) *path = *folder;
    return folder.has_value();
  }
  Files& files_;
};

// The identity of the file a name holds, through a handle that does not follow a link;
// in status the error of the open or the read.
struct Identified {
  FileIdentity identity;
  std::uint32_t status = kErrorSuccess;
};
Identified IdentifyFile(Files& files, TextView path) {
  Identified result;
  FileHandle raw;
  result.status = files.OpenToIdentify(path, &raw);
  if (result.status != kErrorSuccess) return result;
  File file(raw, files);
  result.status = files.GetIdentity(raw, &result.identity);
  return result;
}

// The server's names in the process list: its own, and the short name it may have been
// started by (a process started so is listed under that name).
std::vector<Text> ServerImageNames(Files& files, const Text& path) {
  std::vector<Text> names = {FindFileName(path)};
  char16_t shortPath[kMaxPath] = {};
  const std::uint32_t length = files.GetShortPathName(path, shortPath, kMaxPath);
  if (length > 0 && length < kMaxPath) {
    const Text name = FindFileName(TextFromUnits(shortPath, length));
    if (name != names[0]) names.push_back(name);
  }
  return names;
}

enum class Candidate { kServer, kOther, kUnknown };

// What runs under an ID that the snapshot named: asked of the opened process itself, so
// that an ID freed and given to another process since the snapshot is never taken for
// the server; and then of its program file, which is the server's or not whatever the
// name it was started by.
Candidate Identify(Platform& platform, ProcessHandle process, const FileIdentity& server) {
  char16_t image[kMaxPath] = {};
  std::uint32_t size = kMaxPath;
  const auto status = platform.processes.QueryImageName(process, image, &size);
  // A path longer than the buffer is not the server's, which fits.
  if (status == kErrorInsufficientBuffer) return Candidate::kOther;
  if (status != kErrorSuccess) return Candidate::kUnknown;
  const Identified file =
      IdentifyFile(platform.files, TextFromUnits(image, size < kMaxPath ? size : kMaxPath));
  if (file.status != kErrorSuccess) return Candidate::kUnknown;
  return file.identity == server ? Candidate::kServer : Candidate::kOther;
}

}  // namespace

std::uint32_t ProcessKill(Platform& platform) {
  ActionFolders folders(platform.files);
  ServerProgramPath server;
  if (!GetServerProgramPath(folders, &server)) {
    Log(platform.session, u"ProcessKill: the system folder could not be read; 1603");
    return kResultFailure;
  }
  const Identified file = IdentifyFile(platform.files, server.path);
  if (file.status == kErrorFileNotFound || file.status == kErrorPathNotFound) {
    Log(platform.session,
        u"ProcessKill: " + server.path + u" is not there, so the server program is not running");
    return kResultSuccess;
  }
  if (file.status != kErrorSuccess) {
    Log(platform.session, u"ProcessKill: " + server.path + u" cannot be opened; error " +
                              Decimal(file.status) + u"; 1603");
    return kResultFailure;
  }
  const auto ids =
      FindProcessesByImageName(platform, ServerImageNames(platform.files, server.path));
  if (!ids) {
    Log(platform.session, u"ProcessKill: the process list could not be read; 1603");
    return kResultFailure;
  }
  Processes& processes = platform.processes;
  std::uint32_t stopped = 0;
  bool unknown = false;
  for (const std::uint32_t id : *ids) {
    Process process(processes.OpenForTerminate(id), processes);
    const Candidate what =
        process ? Identify(platform, process.get(), file.identity) : Candidate::kUnknown;
    const Text which = Text(u"ProcessKill: process ") + Decimal(id);
    if (what == Candidate::kOther) {
      Log(platform.session, which + u" runs another program than " + server.path + u"; left alone");
      continue;
    }
    if (what == Candidate::kUnknown) {
      unknown = true;
      Log(platform.session, which + u" cannot be opened or asked for its program");
      continue;
    }
    const std::uint32_t status = processes.Terminate(process.get(), 1);
    if (status != kErrorSuccess) {
      unknown = true;
      Log(platform.session,
          which + u" runs " + server.path + u" and could not be stopped; error " + Decimal(status));
      continue;
    }
    ++stopped;
    Log(platform.session, which + u" runs " + server.path + u" and was stopped");
  }
  // Whatever still runs holds the driver's files until the restart.
  if (unknown) {
    Log(platform.session,
        u"ProcessKill: the server program cannot be stopped; restart requested, 1603");
    RequestReboot(platform);
    return kResultFailure;
  }
  if (stopped > 0) {
    Log(platform.session, u"ProcessKill: the server program was stopped (" + Decimal(stopped) +
                              (stopped == 1 ? u" copy" : u" copies") + u"); restart requested");
    RequestReboot(platform);
    return kResultSuccess;
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
