#include "installer/win32_platform.h"

#include <cfgmgr32.h>
#include <msiquery.h>
#include <newdev.h>
#include <setupapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winver.h>

#include <cstring>
#include <string>

#include "firewall/admin_group.h"

namespace orvel::installer {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

// A terminated copy for the W functions.
std::wstring W(TextView text) { return std::wstring(text.begin(), text.end()); }
wchar_t* Units(char16_t* buffer) { return reinterpret_cast<wchar_t*>(buffer); }

std::uint32_t LastErrorOr(bool ok) { return ok ? kErrorSuccess : ::GetLastError(); }

HKEY AsKey(Handle key) { return reinterpret_cast<HKEY>(key); }
HDEVINFO AsSet(Handle set) { return reinterpret_cast<HDEVINFO>(set); }
SC_HANDLE AsService(Handle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
HANDLE AsHandle(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

Handle FromSet(HDEVINFO set) {
  return set == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<Handle>(set);
}

GUID ToGuid(const Guid& g) {
  GUID out;
  out.Data1 = g.data1;
  out.Data2 = g.data2;
  out.Data3 = g.data3;
  std::memcpy(out.Data4, g.data4, sizeof out.Data4);
  return out;
}

Guid FromGuid(const GUID& g) {
  Guid out;
  out.data1 = g.Data1;
  out.data2 = g.Data2;
  out.data3 = g.Data3;
  std::memcpy(out.data4, g.Data4, sizeof out.data4);
  return out;
}

SP_DEVINFO_DATA ToDevInfo(const DeviceInfo& device) {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  data.ClassGuid = ToGuid(device.classGuid);
  data.DevInst = device.devInst;
  data.Reserved = device.reserved;
  return data;
}

DeviceInfo FromDevInfo(const SP_DEVINFO_DATA& data) {
  DeviceInfo device;
  device.classGuid = FromGuid(data.ClassGuid);
  device.devInst = data.DevInst;
  device.reserved = data.Reserved;
  return device;
}

REGSAM Sam(RegView view, RegAccess access) {
  REGSAM sam = access == RegAccess::kRead ? KEY_READ : KEY_READ | KEY_WRITE;
  if (view == RegView::k32) sam |= KEY_WOW64_32KEY;
  if (view == RegView::k64) sam |= KEY_WOW64_64KEY;
  return sam;
}

using UpdateDriverFunction = BOOL(WINAPI*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

}  // namespace

// Installer session.

std::uint32_t Win32Session::GetProperty(TextView name, char16_t* buffer, std::uint32_t* length) {
  DWORD size = *length;
  const UINT status = ::MsiGetPropertyW(install_, W(name).c_str(), Units(buffer), &size);
  *length = size;
  return status;
}

std::uint32_t Win32Session::SetProperty(TextView name, TextView value) {
  return ::MsiSetPropertyW(install_, W(name).c_str(), W(value).c_str());
}

std::uint32_t Win32Session::DoAction(TextView action) {
  return ::MsiDoActionW(install_, W(action).c_str());
}

Handle Win32Session::CreateRecord(std::uint32_t fields) { return ::MsiCreateRecord(fields); }

std::uint32_t Win32Session::RecordSetInteger(Handle record, std::uint32_t field, int value) {
  return ::MsiRecordSetInteger(static_cast<MSIHANDLE>(record), field, value);
}

std::uint32_t Win32Session::RecordSetString(Handle record, std::uint32_t field, TextView value) {
  return ::MsiRecordSetStringW(static_cast<MSIHANDLE>(record), field, W(value).c_str());
}

int Win32Session::ProcessMessage(std::uint32_t kind, Handle record) {
  return ::MsiProcessMessage(install_, static_cast<INSTALLMESSAGE>(kind),
                             static_cast<MSIHANDLE>(record));
}

std::uint32_t Win32Session::CloseHandle(Handle handle) {
  return ::MsiCloseHandle(static_cast<MSIHANDLE>(handle));
}

// Registry, HKEY_LOCAL_MACHINE.

std::uint32_t Win32Registry::CreateKey(TextView path, RegView view, RegAccess access, Handle* key) {
  HKEY created = nullptr;
  const LONG status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(path).c_str(), 0, nullptr, 0,
                                        Sam(view, access), nullptr, &created, nullptr);
  if (status == ERROR_SUCCESS) *key = reinterpret_cast<Handle>(created);
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::OpenKey(TextView path, RegView view, RegAccess access, Handle* key) {
  HKEY opened = nullptr;
  const LONG status =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(path).c_str(), 0, Sam(view, access), &opened);
  if (status == ERROR_SUCCESS) *key = reinterpret_cast<Handle>(opened);
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::QueryValue(Handle key, TextView name, std::uint32_t* type,
                                        std::uint8_t* data, std::uint32_t* size) {
  DWORD valueType = 0;
  DWORD valueSize = size ? *size : 0;
  const LONG status = ::RegQueryValueExW(AsKey(key), W(name).c_str(), nullptr, &valueType, data,
                                         size ? &valueSize : nullptr);
  if (type) *type = valueType;
  if (size) *size = valueSize;
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::SetValue(Handle key, TextView name, std::uint32_t type,
                                      const std::uint8_t* data, std::uint32_t size) {
  return static_cast<std::uint32_t>(
      ::RegSetValueExW(AsKey(key), W(name).c_str(), 0, type, data, size));
}

std::uint32_t Win32Registry::DeleteValue(Handle key, TextView name) {
  return static_cast<std::uint32_t>(::RegDeleteValueW(AsKey(key), W(name).c_str()));
}

std::uint32_t Win32Registry::EnumValue(Handle key, std::uint32_t index, char16_t* name,
                                       std::uint32_t* nameLength, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* size) {
  DWORD length = *nameLength;
  DWORD valueType = 0;
  DWORD valueSize = size ? *size : 0;
  const LONG status = ::RegEnumValueW(AsKey(key), index, Units(name), &length, nullptr, &valueType,
                                      data, size ? &valueSize : nullptr);
  *nameLength = length;
  if (type) *type = valueType;
  if (size) *size = valueSize;
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::QueryInfoKey(Handle key, std::uint32_t* subKeys,
                                          std::uint32_t* maxSubKeyLength) {
  DWORD count = 0;
  DWORD longest = 0;
  const LONG status = ::RegQueryInfoKeyW(AsKey(key), nullptr, nullptr, nullptr, &count, &longest,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  *subKeys = count;
  *maxSubKeyLength = longest;
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::EnumKey(Handle key, std::uint32_t index, char16_t* name,
                                     std::uint32_t nameSize) {
  return static_cast<std::uint32_t>(::RegEnumKeyW(AsKey(key), index, Units(name), nameSize));
}

std::uint32_t Win32Registry::CloseKey(Handle key) {
  return static_cast<std::uint32_t>(::RegCloseKey(AsKey(key)));
}

// SetupAPI and the configuration manager.

Handle Win32Devices::GetClassDevs(TextView enumerator, std::uint32_t flags) {
  return FromSet(::SetupDiGetClassDevsW(nullptr, W(enumerator).c_str(), nullptr, flags));
}

Handle Win32Devices::GetClassDevsEx(std::uint32_t flags) {
  return FromSet(
      ::SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, flags, nullptr, nullptr, nullptr));
}

Handle Win32Devices::CreateDeviceInfoList(const Guid& classGuid) {
  const GUID guid = ToGuid(classGuid);
  return FromSet(::SetupDiCreateDeviceInfoList(&guid, nullptr));
}

std::uint32_t Win32Devices::DestroyDeviceInfoList(Handle set) {
  return LastErrorOr(::SetupDiDestroyDeviceInfoList(AsSet(set)));
}

std::uint32_t Win32Devices::EnumDeviceInfo(Handle set, std::uint32_t index, DeviceInfo* device) {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  if (!::SetupDiEnumDeviceInfo(AsSet(set), index, &data)) return ::GetLastError();
  *device = FromDevInfo(data);
  return kErrorSuccess;
}

std::uint32_t Win32Devices::GetDeviceRegistryProperty(Handle set, const DeviceInfo& device,
                                                      std::uint32_t property, std::uint32_t* type,
                                                      std::uint8_t* buffer, std::uint32_t size,
                                                      std::uint32_t* required) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  DWORD valueType = 0;
  DWORD needed = 0;
  const BOOL ok = ::SetupDiGetDeviceRegistryPropertyW(AsSet(set), &data, property, &valueType,
                                                      buffer, size, &needed);
  const std::uint32_t status = LastErrorOr(ok);
  if (type) *type = valueType;
  if (required) *required = needed;
  return status;
}

std::uint32_t Win32Devices::SetDeviceRegistryProperty(Handle set, const DeviceInfo& device,
                                                      std::uint32_t property,
                                                      const std::uint8_t* buffer,
                                                      std::uint32_t size) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  return LastErrorOr(
      ::SetupDiSetDeviceRegistryPropertyW(AsSet(set), &data, property, buffer, size));
}

Handle Win32Devices::OpenDriverKey(Handle set, const DeviceInfo& device) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  const HKEY key =
      ::SetupDiOpenDevRegKey(AsSet(set), &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  return key == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<Handle>(key);
}

std::uint32_t Win32Devices::CallClassInstaller(std::uint32_t function, Handle set,
                                               const DeviceInfo& device) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  return LastErrorOr(::SetupDiCallClassInstaller(function, AsSet(set), &data));
}

std::uint32_t Win32Devices::SetRemoveParams(Handle set, const DeviceInfo& device,
                                            std::uint32_t scope, std::uint32_t hwProfile) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  SP_REMOVEDEVICE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = scope;
  params.HwProfile = hwProfile;
  return LastErrorOr(::SetupDiSetClassInstallParamsW(AsSet(set), &data, &params.ClassInstallHeader,
                                                     sizeof params));
}

std::uint32_t Win32Devices::GetDeviceInstallFlags(Handle set, const DeviceInfo& device,
                                                  std::uint32_t* flags) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  if (!::SetupDiGetDeviceInstallParamsW(AsSet(set), &data, &params)) return ::GetLastError();
  *flags = params.Flags;
  return kErrorSuccess;
}

std::uint32_t Win32Devices::GetDeviceInfoListDetail(Handle set, Handle* machine) {
  SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
  detail.cbSize = sizeof detail;
  if (!::SetupDiGetDeviceInfoListDetailW(AsSet(set), &detail)) return ::GetLastError();
  *machine = reinterpret_cast<Handle>(detail.RemoteMachineHandle);
  return kErrorSuccess;
}

std::uint32_t Win32Devices::GetDeviceInstanceId(const DeviceInfo& device, Handle machine,
                                                char16_t* buffer, std::uint32_t size) {
  return ::CM_Get_Device_ID_ExW(device.devInst, Units(buffer), size, 0,
                                reinterpret_cast<HMACHINE>(machine));
}

std::uint32_t Win32Devices::CreateDeviceInfo(Handle set, TextView name, const Guid& classGuid,
                                             std::uint32_t flags, DeviceInfo* device) {
  const GUID guid = ToGuid(classGuid);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  if (!::SetupDiCreateDeviceInfoW(AsSet(set), W(name).c_str(), &guid, nullptr, nullptr, flags,
                                  &data)) {
    return ::GetLastError();
  }
  *device = FromDevInfo(data);
  return kErrorSuccess;
}

std::uint32_t Win32Devices::GetInfClass(TextView inf, Guid* classGuid, char16_t* className,
                                        std::uint32_t size, std::uint32_t* required) {
  GUID guid{};
  DWORD needed = 0;
  if (!::SetupDiGetINFClassW(W(inf).c_str(), &guid, Units(className), size, &needed)) {
    return ::GetLastError();
  }
  *classGuid = FromGuid(guid);
  if (required) *required = needed;
  return kErrorSuccess;
}

std::uint32_t Win32Devices::LocateRootNode(std::uint32_t* node) {
  DEVINST root = 0;
  const CONFIGRET status = ::CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL);
  *node = root;
  return status;
}

std::uint32_t Win32Devices::GetEnumeratorName(std::uint32_t node, std::uint8_t* buffer,
                                              std::uint32_t* size) {
  ULONG length = *size;
  const CONFIGRET status = ::CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_ENUMERATOR_NAME,
                                                               nullptr, buffer, &length, 0);
  *size = length;
  return status;
}

std::uint32_t Win32Devices::Reenumerate(std::uint32_t node, std::uint32_t flags) {
  return ::CM_Reenumerate_DevNode(node, flags);
}

std::uint32_t Win32Devices::GetChild(std::uint32_t* child, std::uint32_t node) {
  DEVINST out = 0;
  const CONFIGRET status = ::CM_Get_Child(&out, node, 0);
  *child = out;
  return status;
}

std::uint32_t Win32Devices::GetSibling(std::uint32_t* sibling, std::uint32_t node) {
  DEVINST out = 0;
  const CONFIGRET status = ::CM_Get_Sibling(&out, node, 0);
  *sibling = out;
  return status;
}

std::uint32_t Win32Devices::GetParent(std::uint32_t* parent, std::uint32_t node) {
  DEVINST out = 0;
  const CONFIGRET status = ::CM_Get_Parent(&out, node, 0);
  *parent = out;
  return status;
}

std::uint32_t Win32Devices::GetNodeStatus(std::uint32_t node, std::uint32_t* status,
                                          std::uint32_t* problem) {
  ULONG nodeStatus = 0;
  ULONG nodeProblem = 0;
  const CONFIGRET result = ::CM_Get_DevNode_Status(&nodeStatus, &nodeProblem, node, 0);
  *status = nodeStatus;
  *problem = nodeProblem;
  return result;
}

std::uint32_t Win32Devices::CopyOemInf(TextView inf, TextView sourcePath, std::uint32_t mediaType,
                                       std::uint32_t copyStyle, char16_t* destination,
                                       std::uint32_t size, std::uint32_t* required) {
  DWORD needed = 0;
  const BOOL ok = ::SetupCopyOEMInfW(W(inf).c_str(), W(sourcePath).c_str(), mediaType, copyStyle,
                                     Units(destination), size, &needed, nullptr);
  const std::uint32_t status = LastErrorOr(ok);
  if (required) *required = needed;
  return status;
}

std::uint32_t Win32Devices::UninstallOemInf(TextView infFileName, std::uint32_t flags) {
  return LastErrorOr(::SetupUninstallOEMInfW(W(infFileName).c_str(), flags, nullptr));
}

std::uint32_t Win32Devices::UpdateDriver(TextView hardwareId, TextView inf, std::uint32_t flags,
                                         bool* reboot) {
  BOOL restart = FALSE;
  const BOOL ok = ::UpdateDriverForPlugAndPlayDevicesW(nullptr, W(hardwareId).c_str(),
                                                       W(inf).c_str(), flags, &restart);
  const std::uint32_t status = LastErrorOr(ok);
  *reboot = restart != FALSE;
  return status;
}

Handle Win32Devices::LoadLibrary(TextView name) {
  return reinterpret_cast<Handle>(::LoadLibraryW(W(name).c_str()));
}

std::uintptr_t Win32Devices::GetProcAddress(Handle module, const char* name) {
  return reinterpret_cast<std::uintptr_t>(
      ::GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

std::uint32_t Win32Devices::FreeLibrary(Handle module) {
  return LastErrorOr(::FreeLibrary(reinterpret_cast<HMODULE>(module)));
}

std::uint32_t Win32Devices::UpdateDriverThrough(std::uintptr_t proc, TextView hardwareId,
                                                TextView inf, std::uint32_t flags, bool* reboot) {
  const auto update = reinterpret_cast<UpdateDriverFunction>(proc);
  BOOL restart = FALSE;
  const BOOL ok = update(nullptr, W(hardwareId).c_str(), W(inf).c_str(), flags, &restart);
  const std::uint32_t status = LastErrorOr(ok);
  *reboot = restart != FALSE;
  return status;
}

// Service control manager.

Handle Win32Services::OpenManager() {
  return reinterpret_cast<Handle>(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

Handle Win32Services::OpenService(Handle manager, TextView name, std::uint32_t access) {
  return reinterpret_cast<Handle>(::OpenServiceW(AsService(manager), W(name).c_str(), access));
}

std::uint32_t Win32Services::ChangeConfigNoChange(Handle service) {
  return LastErrorOr(::ChangeServiceConfigW(AsService(service), SERVICE_NO_CHANGE,
                                            SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr));
}

std::uint32_t Win32Services::ControlStop(Handle service) {
  SERVICE_STATUS status{};
  return LastErrorOr(::ControlService(AsService(service), SERVICE_CONTROL_STOP, &status));
}

std::uint32_t Win32Services::DeleteService(Handle service) {
  return LastErrorOr(::DeleteService(AsService(service)));
}

std::uint32_t Win32Services::CloseServiceHandle(Handle handle) {
  return LastErrorOr(::CloseServiceHandle(AsService(handle)));
}

// Files and versions.

std::uint32_t Win32Files::GetSystemDirectory(char16_t* buffer, std::uint32_t size) {
  return ::GetSystemDirectoryW(Units(buffer), size);
}

std::uint32_t Win32Files::GetProgramFilesX86(char16_t* buffer) {
  const HRESULT result = ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr,
                                            SHGFP_TYPE_CURRENT, Units(buffer));
  return SUCCEEDED(result) ? ERROR_SUCCESS : static_cast<std::uint32_t>(result);
}

std::uint32_t Win32Files::GetFullPathName(TextView path, char16_t* buffer, std::uint32_t size) {
  return ::GetFullPathNameW(W(path).c_str(), size, Units(buffer), nullptr);
}

std::uint32_t Win32Files::GetFileAttributes(TextView path) {
  return ::GetFileAttributesW(W(path).c_str());
}

std::uint32_t Win32Files::SetFileAttributes(TextView path, std::uint32_t attributes) {
  return LastErrorOr(::SetFileAttributesW(W(path).c_str(), attributes));
}

std::uint32_t Win32Files::DeleteFile(TextView path) {
  return LastErrorOr(::DeleteFileW(W(path).c_str()));
}

std::uint32_t Win32Files::MoveFileDelayUntilReboot(TextView path) {
  return LastErrorOr(::MoveFileExW(W(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
}

std::uint32_t Win32Files::GetFileVersionInfoSize(TextView path) {
  DWORD ignored = 0;
  return ::GetFileVersionInfoSizeW(W(path).c_str(), &ignored);
}

std::uint32_t Win32Files::GetFileVersionInfo(TextView path, std::uint32_t size,
                                             std::uint8_t* block) {
  return LastErrorOr(::GetFileVersionInfoW(W(path).c_str(), 0, size, block));
}

bool Win32Files::QueryFixedVersion(const std::uint8_t* block, std::uint32_t* versionMs,
                                   std::uint32_t* versionLs) {
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block, L"\\", &value, &length) || value == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, value, sizeof info);
  *versionMs = info.dwFileVersionMS;
  *versionLs = info.dwFileVersionLS;
  return true;
}

std::uint32_t Win32Files::InstallFile(TextView source, TextView target, std::uint32_t copyStyle,
                                      bool* inUse) {
  BOOL wasInUse = FALSE;
  const BOOL ok = ::SetupInstallFileExW(nullptr, nullptr, W(source).c_str(), nullptr,
                                        W(target).c_str(), copyStyle, nullptr, nullptr, &wasInUse);
  const std::uint32_t status = LastErrorOr(ok);
  *inUse = wasInUse != FALSE;
  return status;
}

// Processes.

Handle Win32Processes::CreateSnapshot() {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  return snapshot == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<Handle>(snapshot);
}

namespace {
std::uint32_t CopyEntry(BOOL ok, const PROCESSENTRY32W& raw, ProcessEntry* entry) {
  if (!ok) return ::GetLastError();
  *entry = ProcessEntry{};
  entry->processId = raw.th32ProcessID;
  static_assert(sizeof raw.szExeFile == sizeof entry->exeFile);
  std::memcpy(entry->exeFile, raw.szExeFile, sizeof entry->exeFile);
  entry->exeFile[kMaxPath - 1] = u'\0';
  return kErrorSuccess;
}
}  // namespace

std::uint32_t Win32Processes::First(Handle snapshot, ProcessEntry* entry) {
  PROCESSENTRY32W raw{};
  raw.dwSize = sizeof raw;
  return CopyEntry(::Process32FirstW(AsHandle(snapshot), &raw), raw, entry);
}

std::uint32_t Win32Processes::Next(Handle snapshot, ProcessEntry* entry) {
  PROCESSENTRY32W raw{};
  raw.dwSize = sizeof raw;
  return CopyEntry(::Process32NextW(AsHandle(snapshot), &raw), raw, entry);
}

Handle Win32Processes::OpenForTerminate(std::uint32_t processId) {
  return reinterpret_cast<Handle>(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
}

std::uint32_t Win32Processes::Terminate(Handle process, std::uint32_t exitCode) {
  return LastErrorOr(::TerminateProcess(AsHandle(process), exitCode));
}

std::uint32_t Win32Processes::CloseHandle(Handle handle) {
  return LastErrorOr(::CloseHandle(AsHandle(handle)));
}

// System.

bool Win32System::VerifyVersion(std::uint32_t major, std::uint32_t minor, std::uint32_t third,
                                VersionField thirdField) {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = major;
  info.dwMinorVersion = minor;
  DWORD thirdMask = VER_SERVICEPACKMAJOR;
  if (thirdField == VersionField::kBuildNumber) {
    info.dwBuildNumber = third;
    thirdMask = VER_BUILDNUMBER;
  } else {
    info.wServicePackMajor = static_cast<WORD>(third);
  }
  DWORDLONG mask = 0;
  mask = ::VerSetConditionMask(mask, VER_MAJORVERSION, VER_GREATER_EQUAL);
  mask = ::VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  mask = ::VerSetConditionMask(mask, thirdMask, VER_GREATER_EQUAL);
  return ::VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | thirdMask, mask) !=
         FALSE;
}

std::uint16_t Win32System::NativeProcessorArchitecture() {
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  return info.wProcessorArchitecture;
}

void Win32System::UpperCase(Text& text) {
  if (!text.empty()) ::CharUpperBuffW(Units(text.data()), static_cast<DWORD>(text.size()));
}

bool Win32System::IsUserInAdministratorsGroup() { return orvel::IsUserInAdministratorsGroup(); }

}  // namespace orvel::installer
