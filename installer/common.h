// Pieces every group of actions shares: owned platform handles, UTF-16 text helpers,
// the installer's registry key, the reboot request and installer messages.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "installer/platform.h"

namespace orvel::installer {

inline constexpr std::uint32_t kResultSuccess = kErrorSuccess;
inline constexpr std::uint32_t kResultFailure = kErrorInstallFailure;

inline constexpr TextView kInstallerKey =
    u"Software\\Vantor\\Vantor Quorin Network Driver Installer";
inline constexpr TextView kIntegratedInstallerKey = u"Software\\Vantor\\IntegratedInstaller";
inline constexpr TextView kRunOnceKey = u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr TextView kRunOnceValue = u"VantorQuorinNetworkDriver";
inline constexpr TextView kRebootRequestValue = u"RebootRequest";
inline constexpr TextView kArgumentValue = u"Argument";
inline constexpr TextView kInstalledDirectoryValue = u"InstalledDirectory";
inline constexpr TextView kOemInfValuePrefix = u"OemInfFileName";

// Closes a handle through the interface that made it. Made from that interface, so that
// an owning handle reads `DeviceSet set(devices.GetClassDevs(...), devices)`.
template <class HandleKind, class Owner, std::uint32_t (Owner::*Close)(HandleKind)>
struct CloseWith {
  using pointer = HandleKind;
  CloseWith() = default;
  CloseWith(Owner& owner) : owner_(&owner) {}
  void operator()(HandleKind handle) const { (owner_->*Close)(handle); }

 private:
  Owner* owner_ = nullptr;
};

// A platform handle closed when its owner goes out of scope; empty when the call failed.
template <class HandleKind, class Owner, std::uint32_t (Owner::*Close)(HandleKind)>
using Owned = std::unique_ptr<HandleKind, CloseWith<HandleKind, Owner, Close>>;

using Record = Owned<RecordHandle, InstallerSession, &InstallerSession::CloseHandle>;
using Key = Owned<KeyHandle, Registry, &Registry::CloseKey>;
using DeviceSet = Owned<DeviceSetHandle, Devices, &Devices::DestroyDeviceInfoList>;
using Library = Owned<ModuleHandle, Devices, &Devices::FreeLibrary>;
using Service = Owned<ServiceHandle, Services, &Services::CloseServiceHandle>;
using Snapshot = Owned<SnapshotHandle, Processes, &Processes::CloseHandle>;
using Process = Owned<ProcessHandle, Processes, &Processes::CloseHandle>;
using File = Owned<FileHandle, Files, &Files::CloseHandle>;

// Registry keys of HKEY_LOCAL_MACHINE; an empty Key when the call fails.
Key CreateKey(Registry& registry, TextView path, RegView view, RegAccess access);
Key OpenKey(Registry& registry, TextView path, RegView view, RegAccess access);

// A REG_SZ value as text, without its terminator, read into a buffer of maxBytes.
std::optional<Text> ReadString(Registry& registry, KeyHandle key, TextView name,
                               std::uint32_t maxBytes);
// Writes text as REG_SZ, terminator included.
std::uint32_t WriteString(Registry& registry, KeyHandle key, TextView name, TextView value);
std::uint32_t WriteDword(Registry& registry, KeyHandle key, TextView name, std::uint32_t value);

// UTF-16 text of a buffer up to its first terminator.
Text TextFromUnits(const char16_t* units, std::size_t count);
Text TextFromBytes(const std::uint8_t* bytes, std::size_t size);
// "%s%04u".
Text IndexedName(TextView prefix, std::uint32_t index);
// As PathRemoveBackslashW and PathFindFileNameW.
Text RemoveBackslash(TextView path);
Text FindFileName(TextView path);
// The folder that holds the last element of path: what stands before its last backslash,
// a drive root with its backslash; empty when path has no backslash.
Text FolderOf(TextView path);
// folder + "\" + name, or nothing when the result does not fit a 260-unit buffer.
std::optional<Text> JoinPath(TextView folder, TextView name);

// The system folder and the 32-bit system folder (SysWOW64 on 64-bit Windows) as the
// system reports them, without a trailing backslash; nothing when the call fails or the
// path does not fit a 260-unit buffer.
std::optional<Text> SystemDirectory(Files& files);
std::optional<Text> SystemX86Directory(Files& files);

// Asks for a restart: "RebootRequest" = 0 in the integrated installer's key (32-bit
// view) and then in the installer key. True only when both writes succeeded.
bool RequestReboot(Platform& platform);

// A line of the installer log (INSTALLMESSAGE_INFO), so that a verbose log says what an
// action decided and which call failed with which code. A failure to log is ignored.
void Log(InstallerSession& session, TextView text);
// Decimal text of a number, for log lines.
Text Decimal(std::uint32_t value);

// Sends an Error-table number to the package as a one-field record.
void PostInstallerMessage(InstallerSession& session, std::uint32_t kind, std::uint32_t number);

// What a name itself holds, opened without following a link: the open handle and its
// attributes, or in status the error of the open or the read (ERROR_FILE_NOT_FOUND or
// ERROR_PATH_NOT_FOUND when there is nothing).
struct NameHolds {
  File file;
  std::uint32_t attributes = 0;
  std::uint32_t status = kErrorSuccess;
};
NameHolds OpenNoFollow(Files& files, TextView path);

// Deletes a plain file that is there, read-only or not, through a handle that was opened
// without following a link; a link, a folder or anything else under that name is left
// alone. A file in use (access denied) goes at the restart, which is then asked for; the
// log lines name the action.
void DeleteFileNowOrAtRestart(Platform& platform, TextView action, const Text& path);

// Stores an oemNN.inf name at the first free "OemInfFileName" index.
void RecordOemInf(Platform& platform, TextView name);
// Force-removes every recorded driver-store package and clears the values.
void RemoveRecordedOemInfs(Platform& platform);
// Writes the repair command to RunOnce and keeps infPath in "Argument".
bool ScheduleRepairAfterReboot(Platform& platform, TextView infPath);
void DeleteInstallerValue(Platform& platform, TextView name);

}  // namespace orvel::installer
