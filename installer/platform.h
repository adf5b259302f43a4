// The Windows calls that the custom actions make, as small interfaces. Each method
// mirrors one platform function and answers with the Windows error code of the call
// (0 on success), so the adapters stay pass-throughs and the rules run over doubles.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvel::installer {

// The value of one kind of platform handle; 0 = none. Each kind is a type of its own, so
// that a key cannot go where a device set is asked for. The null forms make it the pointer
// type of the owning handles (common.h).
template <class Kind>
class PlatformHandle {
 public:
  constexpr PlatformHandle() = default;
  constexpr PlatformHandle(std::nullptr_t) {}
  constexpr explicit PlatformHandle(std::uintptr_t value) : value_(value) {}
  constexpr std::uintptr_t value() const { return value_; }
  constexpr explicit operator bool() const { return value_ != 0; }
  friend constexpr auto operator<=>(const PlatformHandle&, const PlatformHandle&) = default;

 private:
  std::uintptr_t value_ = 0;
};

using RecordHandle = PlatformHandle<struct RecordKind>;        // MSIHANDLE of a record
using KeyHandle = PlatformHandle<struct KeyKind>;              // HKEY
using DeviceSetHandle = PlatformHandle<struct DeviceSetKind>;  // HDEVINFO
using MachineHandle = PlatformHandle<struct MachineKind>;      // HMACHINE
using ServiceHandle = PlatformHandle<struct ServiceKind>;      // SC_HANDLE: manager or service
using SnapshotHandle = PlatformHandle<struct SnapshotKind>;    // HANDLE of a process snapshot
using ProcessHandle = PlatformHandle<struct ProcessKind>;      // HANDLE of a process
using ModuleHandle = PlatformHandle<struct ModuleKind>;        // HMODULE
using FileHandle = PlatformHandle<struct FileKind>;            // HANDLE of an open file

// Text is UTF-16 everywhere in this library.
using Text = std::u16string;
using TextView = std::u16string_view;

// Windows error codes used by the rules.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
inline constexpr std::uint32_t kErrorSharingViolation = 32;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorInvalidServiceControl = 1052;
inline constexpr std::uint32_t kErrorServiceNotActive = 1062;
inline constexpr std::uint32_t kErrorServiceMarkedForDelete = 1072;
inline constexpr std::uint32_t kErrorInstallFailure = 1603;
inline constexpr std::uint32_t kErrorGenFailure = 31;

// Configuration-manager results.
inline constexpr std::uint32_t kCrSuccess = 0;
inline constexpr std::uint32_t kCrNoSuchDevnode = 0x0D;
inline constexpr std::uint32_t kCrBufferSmall = 0x1A;
inline constexpr std::uint32_t kCrFailure = 0x13;

// Installer messages.
inline constexpr std::uint32_t kInstallMessageError = 0x01000000;
inline constexpr std::uint32_t kInstallMessageUser = 0x03000000;
inline constexpr std::uint32_t kInstallMessageInfo = 0x04000000;

// Registry.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
enum class RegView { kDefault, k32, k64 };
enum class RegAccess { kRead, kReadWrite };

// SetupAPI.
inline constexpr std::uint32_t kDigcfPresent = 0x02;
inline constexpr std::uint32_t kDigcfAllClasses = 0x04;
inline constexpr std::uint32_t kSpdrpHardwareId = 0x01;
inline constexpr std::uint32_t kSpdrpCompatibleIds = 0x02;
inline constexpr std::uint32_t kSpdrpService = 0x04;
inline constexpr std::uint32_t kDifRemove = 0x05;
inline constexpr std::uint32_t kDifRegisterDevice = 0x19;
inline constexpr std::uint32_t kDiNeedRestart = 0x80;
inline constexpr std::uint32_t kDiNeedReboot = 0x100;
inline constexpr std::uint32_t kDicdGenerateId = 0x01;
inline constexpr std::uint32_t kDiRemoveDeviceGlobal = 0x01;
inline constexpr std::uint32_t kSuoiForceDelete = 0x01;
inline constexpr std::uint32_t kSpostPath = 1;
inline constexpr std::uint32_t kSpCopyForceNewerSourceAbsolute = 0x2040;
inline constexpr std::uint32_t kInstallFlagForce = 1;

// Services.
inline constexpr std::uint32_t kServiceChangeConfig = 0x0002;
inline constexpr std::uint32_t kServiceStop = 0x0020;
inline constexpr std::uint32_t kStandardRightsRequired = 0x000F0000;

// Files.
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr std::uint32_t kFileAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kFileAttributeDirectory = 0x10;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint32_t kFileAttributeReparsePoint = 0x400;

// Processor architectures of GetNativeSystemInfo.
inline constexpr std::uint16_t kProcessorArchitectureIa64 = 6;
inline constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;

// Fixed buffers of the platform, in UTF-16 units.
inline constexpr std::size_t kMaxPath = 260;

class InstallerSession {
 public:
  virtual ~InstallerSession() = default;
  // MsiGetPropertyW: *length is the buffer size in units on entry and the value's
  // length without terminator on return; ERROR_MORE_DATA when it does not fit.
  virtual std::uint32_t GetProperty(TextView name, char16_t* buffer, std::uint32_t* length) = 0;
  virtual std::uint32_t SetProperty(TextView name, TextView value) = 0;
  virtual std::uint32_t DoAction(TextView action) = 0;
  virtual RecordHandle CreateRecord(std::uint32_t fields) = 0;
  virtual std::uint32_t RecordSetInteger(RecordHandle record, std::uint32_t field, int value) = 0;
  virtual std::uint32_t RecordSetString(RecordHandle record, std::uint32_t field,
                                        TextView value) = 0;
  virtual int ProcessMessage(std::uint32_t kind, RecordHandle record) = 0;
  virtual std::uint32_t CloseHandle(RecordHandle record) = 0;
};

// HKEY_LOCAL_MACHINE only.
class Registry {
 public:
  virtual ~Registry() = default;
  virtual std::uint32_t CreateKey(TextView path, RegView view, RegAccess access,
                                  KeyHandle* key) = 0;
  virtual std::uint32_t OpenKey(TextView path, RegView view, RegAccess access, KeyHandle* key) = 0;
  // RegQueryValueExW: data may be null to ask for the size in bytes.
  virtual std::uint32_t QueryValue(KeyHandle key, TextView name, std::uint32_t* type,
                                   std::uint8_t* data, std::uint32_t* size) = 0;
  virtual std::uint32_t SetValue(KeyHandle key, TextView name, std::uint32_t type,
                                 const std::uint8_t* data, std::uint32_t size) = 0;
  virtual std::uint32_t DeleteValue(KeyHandle key, TextView name) = 0;
  // RegEnumValueW: *nameLength in units (with terminator room) in, without terminator out.
  virtual std::uint32_t EnumValue(KeyHandle key, std::uint32_t index, char16_t* name,
                                  std::uint32_t* nameLength, std::uint32_t* type,
                                  std::uint8_t* data, std::uint32_t* size) = 0;
  virtual std::uint32_t QueryInfoKey(KeyHandle key, std::uint32_t* subKeys,
                                     std::uint32_t* maxSubKeyLength) = 0;
  // RegEnumKeyW: nameSize in units including the terminator.
  virtual std::uint32_t EnumKey(KeyHandle key, std::uint32_t index, char16_t* name,
                                std::uint32_t nameSize) = 0;
  virtual std::uint32_t CloseKey(KeyHandle key) = 0;
};

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

// SP_DEVINFO_DATA without its size field.
struct DeviceInfo {
  Guid classGuid;
  std::uint32_t devInst = 0;
  std::uintptr_t reserved = 0;
};

// SetupAPI, the configuration manager and the driver update. Sets are 0 when they cannot be
// made (the adapter maps INVALID_HANDLE_VALUE to 0).
class Devices {
 public:
  virtual ~Devices() = default;
  // SetupDiGetClassDevsW(NULL, enumerator, NULL, flags).
  virtual DeviceSetHandle GetClassDevs(TextView enumerator, std::uint32_t flags) = 0;
  // SetupDiGetClassDevsExW(NULL, NULL, NULL, flags, NULL, NULL, NULL).
  virtual DeviceSetHandle GetClassDevsEx(std::uint32_t flags) = 0;
  virtual DeviceSetHandle CreateDeviceInfoList(const Guid& classGuid) = 0;
  virtual std::uint32_t DestroyDeviceInfoList(DeviceSetHandle set) = 0;
  virtual std::uint32_t EnumDeviceInfo(DeviceSetHandle set, std::uint32_t index,
                                       DeviceInfo* device) = 0;
  virtual std::uint32_t GetDeviceRegistryProperty(DeviceSetHandle set, const DeviceInfo& device,
                                                  std::uint32_t property, std::uint32_t* type,
                                                  std::uint8_t* buffer, std::uint32_t size,
                                                  std::uint32_t* required) = 0;
  virtual std::uint32_t SetDeviceRegistryProperty(DeviceSetHandle set, const DeviceInfo& device,
                                                  std::uint32_t property,
                                                  const std::uint8_t* buffer,
                                                  std::uint32_t size) = 0;
  // SetupDiOpenDevRegKey(DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ): a key of Registry.
  virtual KeyHandle OpenDriverKey(DeviceSetHandle set, const DeviceInfo& device) = 0;
  virtual std::uint32_t CallClassInstaller(std::uint32_t function, DeviceSetHandle set,
                                           const DeviceInfo& device) = 0;
  // SetupDiSetClassInstallParamsW with SP_REMOVEDEVICE_PARAMS for DIF_REMOVE.
  virtual std::uint32_t SetRemoveParams(DeviceSetHandle set, const DeviceInfo& device,
                                        std::uint32_t scope, std::uint32_t hwProfile) = 0;
  // SetupDiGetDeviceInstallParamsW: the Flags field.
  virtual std::uint32_t GetDeviceInstallFlags(DeviceSetHandle set, const DeviceInfo& device,
                                              std::uint32_t* flags) = 0;
  // SetupDiGetDeviceInfoListDetailW: the remote machine handle of the set.
  virtual std::uint32_t GetDeviceInfoListDetail(DeviceSetHandle set, MachineHandle* machine) = 0;
  // CM_Get_Device_ID_ExW: a CR_ code.
  virtual std::uint32_t GetDeviceInstanceId(const DeviceInfo& device, MachineHandle machine,
                                            char16_t* buffer, std::uint32_t size) = 0;
  virtual std::uint32_t CreateDeviceInfo(DeviceSetHandle set, TextView name, const Guid& classGuid,
                                         std::uint32_t flags, DeviceInfo* device) = 0;
  virtual std::uint32_t GetInfClass(TextView inf, Guid* classGuid, char16_t* className,
                                    std::uint32_t size, std::uint32_t* required) = 0;
  // Configuration manager, CR_ codes. The enumerator name is read in bytes.
  virtual std::uint32_t LocateRootNode(std::uint32_t* node) = 0;
  virtual std::uint32_t GetEnumeratorName(std::uint32_t node, std::uint8_t* buffer,
                                          std::uint32_t* size) = 0;
  virtual std::uint32_t Reenumerate(std::uint32_t node, std::uint32_t flags) = 0;
  virtual std::uint32_t GetChild(std::uint32_t* child, std::uint32_t node) = 0;
  virtual std::uint32_t GetSibling(std::uint32_t* sibling, std::uint32_t node) = 0;
  virtual std::uint32_t GetParent(std::uint32_t* parent, std::uint32_t node) = 0;
  virtual std::uint32_t GetNodeStatus(std::uint32_t node, std::uint32_t* status,
                                      std::uint32_t* problem) = 0;
  // The driver store.
  virtual std::uint32_t CopyOemInf(TextView inf, TextView sourcePath, std::uint32_t mediaType,
                                   std::uint32_t copyStyle, char16_t* destination,
                                   std::uint32_t size, std::uint32_t* required) = 0;
  virtual std::uint32_t UninstallOemInf(TextView infFileName, std::uint32_t flags) = 0;
  // UpdateDriverForPlugAndPlayDevicesW, linked.
  virtual std::uint32_t UpdateDriver(TextView hardwareId, TextView inf, std::uint32_t flags,
                                     bool* reboot) = 0;
  // The same function looked up at run time in "newdev.dll".
  virtual ModuleHandle LoadLibrary(TextView name) = 0;
  virtual std::uintptr_t GetProcAddress(ModuleHandle module, const char* name) = 0;
  virtual std::uint32_t FreeLibrary(ModuleHandle module) = 0;
  virtual std::uint32_t UpdateDriverThrough(std::uintptr_t proc, TextView hardwareId, TextView inf,
                                            std::uint32_t flags, bool* reboot) = 0;
};

class Services {
 public:
  virtual ~Services() = default;
  virtual ServiceHandle OpenManager() = 0;  // all access
  virtual ServiceHandle OpenService(ServiceHandle manager, TextView name, std::uint32_t access) = 0;
  // ChangeServiceConfigW with every field SERVICE_NO_CHANGE or null.
  virtual std::uint32_t ChangeConfigNoChange(ServiceHandle service) = 0;
  virtual std::uint32_t ControlStop(ServiceHandle service) = 0;
  virtual std::uint32_t DeleteService(ServiceHandle service) = 0;
  virtual std::uint32_t CloseServiceHandle(ServiceHandle handle) = 0;
};

// Which file a handle holds, whatever name it was opened by (a short name, another
// link): the volume's serial number and the file's index on that volume.
struct FileIdentity {
  std::uint32_t volumeSerial = 0;
  std::uint64_t fileIndex = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

class Files {
 public:
  virtual ~Files() = default;
  // GetSystemDirectoryW: the length copied, or the size needed when it does not fit; 0 on failure.
  virtual std::uint32_t GetSystemDirectory(char16_t* buffer, std::uint32_t size) = 0;
  // GetSystemWow64DirectoryW (the 32-bit system folder), answered as GetSystemDirectory.
  virtual std::uint32_t GetSystemWow64Directory(char16_t* buffer, std::uint32_t size) = 0;
  // SHGetFolderPathW of CSIDL_PROGRAM_FILESX86 into a 260-unit buffer: 0 or an error code.
  virtual std::uint32_t GetProgramFilesX86(char16_t* buffer) = 0;
  // GetFullPathNameW: the length copied, or the size needed; 0 on failure.
  virtual std::uint32_t GetFullPathName(TextView path, char16_t* buffer, std::uint32_t size) = 0;
  // GetShortPathNameW, answered as GetFullPathName.
  virtual std::uint32_t GetShortPathName(TextView path, char16_t* buffer, std::uint32_t size) = 0;
  virtual std::uint32_t GetFileAttributes(TextView path) = 0;
  // CreateFileW for DELETE and the attributes, OPEN_EXISTING, sharing everything, with
  // FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS: a link is opened itself, never
  // what it points to, and a folder opens too, so that the caller can see what it has.
  virtual std::uint32_t OpenNoFollow(TextView path, FileHandle* file) = 0;
  // GetFileInformationByHandle: dwFileAttributes.
  virtual std::uint32_t GetAttributes(FileHandle file, std::uint32_t* attributes) = 0;
  // CreateFileW for FILE_READ_ATTRIBUTES only, OPEN_EXISTING, sharing everything, with
  // FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS: what the name itself holds,
  // a running program too, without the right to change it.
  virtual std::uint32_t OpenToIdentify(TextView path, FileHandle* file) = 0;
  // GetFileInformationByHandle: dwVolumeSerialNumber and nFileIndexHigh, nFileIndexLow.
  virtual std::uint32_t GetIdentity(FileHandle file, FileIdentity* identity) = 0;
  // SetFileInformationByHandle with FILE_BASIC_INFO: the attributes only, no times.
  virtual std::uint32_t SetAttributes(FileHandle file, std::uint32_t attributes) = 0;
  // SetFileInformationByHandle with FILE_DISPOSITION_INFO: deleted when the handle closes.
  virtual std::uint32_t DeleteOnClose(FileHandle file) = 0;
  virtual std::uint32_t CloseHandle(FileHandle file) = 0;
  virtual std::uint32_t MoveFileDelayUntilReboot(TextView path) = 0;
  // 0 when the file has no version resource.
  virtual std::uint32_t GetFileVersionInfoSize(TextView path) = 0;
  virtual std::uint32_t GetFileVersionInfo(TextView path, std::uint32_t size,
                                           std::uint8_t* block) = 0;
  // VerQueryValueW of the root block: the fixed-file-info version halves.
  virtual bool QueryFixedVersion(const std::uint8_t* block, std::uint32_t* versionMs,
                                 std::uint32_t* versionLs) = 0;
  // SetupInstallFileExW.
  virtual std::uint32_t InstallFile(TextView source, TextView target, std::uint32_t copyStyle,
                                    bool* inUse) = 0;
};

struct ProcessEntry {
  std::uint32_t processId = 0;
  char16_t exeFile[kMaxPath] = {};
};

class Processes {
 public:
  virtual ~Processes() = default;
  virtual SnapshotHandle CreateSnapshot() = 0;
  virtual std::uint32_t First(SnapshotHandle snapshot, ProcessEntry* entry) = 0;
  virtual std::uint32_t Next(SnapshotHandle snapshot, ProcessEntry* entry) = 0;
  // OpenProcess with PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION.
  virtual ProcessHandle OpenForTerminate(std::uint32_t processId) = 0;
  // QueryFullProcessImageNameW (Win32 form) of the opened process: *size is the buffer size
  // in units on entry and the path's length without terminator on return.
  virtual std::uint32_t QueryImageName(ProcessHandle process, char16_t* buffer,
                                       std::uint32_t* size) = 0;
  virtual std::uint32_t Terminate(ProcessHandle process, std::uint32_t exitCode) = 0;
  // CloseHandle, for either kind.
  virtual std::uint32_t CloseHandle(SnapshotHandle snapshot) = 0;
  virtual std::uint32_t CloseHandle(ProcessHandle process) = 0;
};

enum class VersionField { kServicePackMajor, kBuildNumber };

class System {
 public:
  virtual ~System() = default;
  // VerifyVersionInfoW with VER_GREATER_EQUAL on major, minor and the third field.
  virtual bool VerifyVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t third,
                             VersionField thirdField) = 0;
  // GetNativeSystemInfo: wProcessorArchitecture.
  virtual std::uint16_t NativeProcessorArchitecture() = 0;
  // CharUpperBuffW: locale-aware, in place.
  virtual void UpperCase(Text& text) = 0;
  virtual bool IsUserInAdministratorsGroup() = 0;
};

// What one action call may touch; each export builds it over the real calls.
struct Platform {
  InstallerSession& session;
  Registry& registry;
  Devices& devices;
  Services& services;
  Files& files;
  Processes& processes;
  System& system;
};

}  // namespace orvel::installer
