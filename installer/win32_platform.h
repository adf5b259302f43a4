// The installer platform over the real Windows calls, one call deep. A Win32Platform is
// made on the stack of each exported action around the installer handle it was given.
#pragma once

#include <windows.h>

#include <msi.h>

#include "installer/platform.h"

namespace orvel::installer {

class Win32Session final : public InstallerSession {
 public:
  explicit Win32Session(MSIHANDLE install) : install_(install) {}
  std::uint32_t GetProperty(TextView name, char16_t* buffer, std::uint32_t* length) override;
  std::uint32_t SetProperty(TextView name, TextView value) override;
  std::uint32_t DoAction(TextView action) override;
  RecordHandle CreateRecord(std::uint32_t fields) override;
  std::uint32_t RecordSetInteger(RecordHandle record, std::uint32_t field, int value) override;
  std::uint32_t RecordSetString(RecordHandle record, std::uint32_t field, TextView value) override;
  int ProcessMessage(std::uint32_t kind, RecordHandle record) override;
  std::uint32_t CloseHandle(RecordHandle record) override;

 private:
  MSIHANDLE install_;
};

class Win32Registry final : public Registry {
 public:
  std::uint32_t CreateKey(TextView path, RegView view, RegAccess access, KeyHandle* key) override;
  std::uint32_t OpenKey(TextView path, RegView view, RegAccess access, KeyHandle* key) override;
  std::uint32_t QueryValue(KeyHandle key, TextView name, std::uint32_t* type, std::uint8_t* data,
                           std::uint32_t* size) override;
  std::uint32_t SetValue(KeyHandle key, TextView name, std::uint32_t type, const std::uint8_t* data,
                         std::uint32_t size) override;
  std::uint32_t DeleteValue(KeyHandle key, TextView name) override;
  std::uint32_t EnumValue(KeyHandle key, std::uint32_t index, char16_t* name,
                          std::uint32_t* nameLength, std::uint32_t* type, std::uint8_t* data,
                          std::uint32_t* size) override;
  std::uint32_t QueryInfoKey(KeyHandle key, std::uint32_t* subKeys,
                             std::uint32_t* maxSubKeyLength) override;
  std::uint32_t EnumKey(KeyHandle key, std::uint32_t index, char16_t* name,
                        std::uint32_t nameSize) override;
  std::uint32_t CloseKey(KeyHandle key) override;
};

class Win32Devices final : public Devices {
 public:
  DeviceSetHandle GetClassDevs(TextView enumerator, std::uint32_t flags) override;
  DeviceSetHandle GetClassDevsEx(std::uint32_t flags) override;
  DeviceSetHandle CreateDeviceInfoList(const Guid& classGuid) override;
  std::uint32_t DestroyDeviceInfoList(DeviceSetHandle set) override;
  std::uint32_t EnumDeviceInfo(DeviceSetHandle set, std::uint32_t index,
                               DeviceInfo* device) override;
  std::uint32_t GetDeviceRegistryProperty(DeviceSetHandle set, const DeviceInfo& device,
                                          std::uint32_t property, std::uint32_t* type,
                                          std::uint8_t* buffer, std::uint32_t size,
                                          std::uint32_t* required) override;
  std::uint32_t SetDeviceRegistryProperty(DeviceSetHandle set, const DeviceInfo& device,
                                          std::uint32_t property, const std::uint8_t* buffer,
                                          std::uint32_t size) override;
  KeyHandle OpenDriverKey(DeviceSetHandle set, const DeviceInfo& device) override;
  std::uint32_t CallClassInstaller(std::uint32_t function, DeviceSetHandle set,
                                   const DeviceInfo& device) override;
  std::uint32_t SetRemoveParams(DeviceSetHandle set, const DeviceInfo& device, std::uint32_t scope,
                                std::uint32_t hwProfile) override;
  std::uint32_t GetDeviceInstallFlags(DeviceSetHandle set, const DeviceInfo& device,
                                      std::uint32_t* flags) override;
  std::uint32_t GetDeviceInfoListDetail(DeviceSetHandle set, MachineHandle* machine) override;
  std::uint32_t GetDeviceInstanceId(const DeviceInfo& device, MachineHandle machine,
                                    char16_t* buffer, std::uint32_t size) override;
  std::uint32_t CreateDeviceInfo(DeviceSetHandle set, TextView name, const Guid& classGuid,
                                 std::uint32_t flags, DeviceInfo* device) override;
  std::uint32_t GetInfClass(TextView inf, Guid* classGuid, char16_t* className, std::uint32_t size,
                            std::uint32_t* required) override;
  std::uint32_t LocateRootNode(std::uint32_t* node) override;
  std::uint32_t GetEnumeratorName(std::uint32_t node, std::uint8_t* buffer,
                                  std::uint32_t* size) override;
  std::uint32_t Reenumerate(std::uint32_t node, std::uint32_t flags) override;
  std::uint32_t GetChild(std::uint32_t* child, std::uint32_t node) override;
  std::uint32_t GetSibling(std::uint32_t* sibling, std::uint32_t node) override;
  std::uint32_t GetParent(std::uint32_t* parent, std::uint32_t node) override;
  std::uint32_t GetNodeStatus(std::uint32_t node, std::uint32_t* status,
                              std::uint32_t* problem) override;
  std::uint32_t CopyOemInf(TextView inf, TextView sourcePath, std::uint32_t mediaType,
                           std::uint32_t copyStyle, char16_t* destination, std::uint32_t size,
                           std::uint32_t* required) override;
  std::uint32_t UninstallOemInf(TextView infFileName, std::uint32_t flags) override;
  std::uint32_t UpdateDriver(TextView hardwareId, TextView inf, std::uint32_t flags,
                             bool* reboot) override;
  ModuleHandle LoadLibrary(TextView name) override;
  std::uintptr_t GetProcAddress(ModuleHandle module, const char* name) override;
  std::uint32_t FreeLibrary(ModuleHandle module) override;
  std::uint32_t UpdateDriverThrough(std::uintptr_t proc, TextView hardwareId, TextView inf,
                                    std::uint32_t flags, bool* reboot) override;
};

class Win32Services final : public Services {
 public:
  ServiceHandle OpenManager() override;
  ServiceHandle OpenService(ServiceHandle manager, TextView name, std::uint32_t access) override;
  std::uint32_t ChangeConfigNoChange(ServiceHandle service) override;
  std::uint32_t ControlStop(ServiceHandle service) override;
  std::uint32_t DeleteService(ServiceHandle service) override;
  std::uint32_t CloseServiceHandle(ServiceHandle handle) override;
};

class Win32Files final : public Files {
 public:
  std::uint32_t GetSystemDirectory(char16_t* buffer, std::uint32_t size) override;
  std::uint32_t GetSystemWow64Directory(char16_t* buffer, std::uint32_t size) override;
  std::uint32_t GetProgramFilesX86(char16_t* buffer) override;
  std::uint32_t GetFullPathName(TextView path, char16_t* buffer, std::uint32_t size) override;
  std::uint32_t GetShortPathName(TextView path, char16_t* buffer, std::uint32_t size) override;
  std::uint32_t GetFileAttributes(TextView path) override;
  std::uint32_t OpenNoFollow(TextView path, FileHandle* file) override;
  std::uint32_t GetAttributes(FileHandle file, std::uint32_t* attributes) override;
  std::uint32_t OpenToIdentify(TextView path, FileHandle* file) override;
  std::uint32_t GetIdentity(FileHandle file, FileIdentity* identity) override;
  std::uint32_t SetAttributes(FileHandle file, std::uint32_t attributes) override;
  std::uint32_t DeleteOnClose(FileHandle file) override;
  std::uint32_t CloseHandle(FileHandle file) override;
  std::uint32_t MoveFileDelayUntilReboot(TextView path) override;
  std::uint32_t GetFileVersionInfoSize(TextView path) override;
  std::uint32_t GetFileVersionInfo(TextView path, std::uint32_t size, std::uint8_t* block) override;
  bool QueryFixedVersion(const std::uint8_t* block, std::uint32_t* versionMs,
                         std::uint32_t* versionLs) override;
  std::uint32_t InstallFile(TextView source, TextView target, std::uint32_t copyStyle,
                            bool* inUse) override;
};

class Win32Processes final : public Processes {
 public:
  SnapshotHandle CreateSnapshot() override;
  std::uint32_t First(SnapshotHandle snapshot, ProcessEntry* entry) override;
  std::uint32_t Next(SnapshotHandle snapshot, ProcessEntry* entry) override;
  ProcessHandle OpenForTerminate(std::uint32_t processId) override;
  std::uint32_t QueryImageName(ProcessHandle process, char16_t* buffer,
                               std::uint32_t* size) override;
  std::uint32_t Terminate(ProcessHandle process, std::uint32_t exitCode) override;
  std::uint32_t CloseHandle(SnapshotHandle snapshot) override;
  std::uint32_t CloseHandle(ProcessHandle process) override;
};

class Win32System final : public System {
 public:
  bool VerifyVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t third,
                     VersionField thirdField) override;
  std::uint16_t NativeProcessorArchitecture() override;
  void UpperCase(Text& text) override;
  bool IsUserInAdministratorsGroup() override;
};

class Win32Platform {
 public:
  explicit Win32Platform(MSIHANDLE install) : session_(install) {}
  Platform& platform() { return platform_; }

 private:
  Win32Session session_;
  Win32Registry registry_;
  Win32Devices devices_;
  Win32Services services_;
  Win32Files files_;
  Win32Processes processes_;
  Win32System system_;
  Platform platform_{session_, registry_, devices_, services_, files_, processes_, system_};
};

}  // namespace orvel::installer
