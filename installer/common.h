// Pieces every group of actions shares: owned platform handles, UTF-16 text helpers,
// the installer's registry key, the reboot request and installer messages.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

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

// A platform handle closed by its owner's close call when it goes out of scope.
template <class Closer>
class Owned {
 public:
  Owned() = default;
  Owned(Handle handle, Closer closer) : handle_(handle), closer_(closer) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept
      : handle_(std::exchange(other.handle_, 0)), closer_(other.closer_) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, 0);
      closer_ = other.closer_;
    }
    return *this;
  }
  ~Owned() { reset(); }
  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != 0; }
  void reset() {
    if (handle_ != 0) closer_(std::exchange(handle_, 0));
  }

 private:
  Handle handle_ = 0;
  Closer closer_{};
};

struct KeyCloser {
  Registry* registry = nullptr;
  void operator()(Handle key) const { registry->CloseKey(key); }
};
using Key = Owned<KeyCloser>;

struct RecordCloser {
  InstallerSession* session = nullptr;
  void operator()(Handle record) const { session->CloseHandle(record); }
};

struct DeviceSetCloser {
  Devices* devices = nullptr;
  void operator()(Handle set) const { devices->DestroyDeviceInfoList(set); }
};
using DeviceSet = Owned<DeviceSetCloser>;

struct ServiceCloser {
  Services* services = nullptr;
  void operator()(Handle handle) const { services->CloseServiceHandle(handle); }
};
using ServiceHandle = Owned<ServiceCloser>;

struct ProcessHandleCloser {
  Processes* processes = nullptr;
  void operator()(Handle handle) const { processes->CloseHandle(handle); }
};
using ProcessHandle = Owned<ProcessHandleCloser>;

struct LibraryCloser {
  Devices* devices = nullptr;
  void operator()(Handle module) const { devices->FreeLibrary(module); }
};
using Library = Owned<LibraryCloser>;

// Registry keys of HKEY_LOCAL_MACHINE; an empty Key when the call fails.
Key CreateKey(Registry& registry, TextView path, RegView view, RegAccess access);
Key OpenKey(Registry& registry, TextView path, RegView view, RegAccess access);

// A REG_SZ value as text, without its terminator, read into a buffer of maxBytes.
std::optional<Text> ReadString(Registry& registry, Handle key, TextView name,
                               std::uint32_t maxBytes);
// Writes text as REG_SZ, terminator included.
std::uint32_t WriteString(Registry& registry, Handle key, TextView name, TextView value);
std::uint32_t WriteDword(Registry& registry, Handle key, TextView name, std::uint32_t value);

// UTF-16 text of a buffer up to its first terminator.
Text TextFromUnits(const char16_t* units, std::size_t count);
Text TextFromBytes(const std::uint8_t* bytes, std::size_t size);
// "%s%04u".
Text IndexedName(TextView prefix, std::uint32_t index);
// PathRemoveBackslashW, PathRemoveFileSpecW, PathFindFileNameW.
Text RemoveBackslash(TextView path);
Text RemoveFileSpec(TextView path);
Text FindFileName(TextView path);
// folder + "\" + name, or nothing when the result does not fit a 260-unit buffer.
std::optional<Text> JoinPath(TextView folder, TextView name);

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

// Stores an oemNN.inf name at the first free "OemInfFileName" index.
void RecordOemInf(Platform& platform, TextView name);
// Force-removes every recorded driver-store package and clears the values.
void RemoveRecordedOemInfs(Platform& platform);
// Writes the repair command to RunOnce and keeps infPath in "Argument".
bool ScheduleRepairAfterReboot(Platform& platform, TextView infPath);
void DeleteInstallerValue(Platform& platform, TextView name);

}  // namespace orvel::installer
