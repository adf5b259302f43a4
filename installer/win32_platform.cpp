#include "installer/win32_platform.h"

#include <cfgmgr32.h>
#include <msiquery.h>
#include <newdev.h>
#include <setupapi.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winver.h>

#include <bit>
#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "firewall/admin_group.h"

namespace orvel::installer {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows text is UTF-16");

// The values the portable rules repeat from the Windows headers.
static_assert(kErrorSuccess == ERROR_SUCCESS && kErrorFileNotFound == ERROR_FILE_NOT_FOUND &&
              kErrorPathNotFound == ERROR_PATH_NOT_FOUND &&
              kErrorAccessDenied == ERROR_ACCESS_DENIED &&
              kErrorNoMoreFiles == ERROR_NO_MORE_FILES &&
              kErrorSharingViolation == ERROR_SHARING_VIOLATION &&
              kErrorInvalidParameter == ERROR_INVALID_PARAMETER &&
              kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER &&
              kErrorMoreData == ERROR_MORE_DATA && kErrorNoMoreItems == ERROR_NO_MORE_ITEMS &&
              kErrorInvalidServiceControl == ERROR_INVALID_SERVICE_CONTROL &&
              kErrorServiceNotActive == ERROR_SERVICE_NOT_ACTIVE &&
              kErrorServiceMarkedForDelete == ERROR_SERVICE_MARKED_FOR_DELETE &&
              kErrorInstallFailure == ERROR_INSTALL_FAILURE &&
              kErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(kCrSuccess == CR_SUCCESS && kCrNoSuchDevnode == CR_NO_SUCH_DEVNODE &&
              kCrBufferSmall == CR_BUFFER_SMALL && kCrFailure == CR_FAILURE);
static_assert(kInstallMessageError == INSTALLMESSAGE_ERROR &&
              kInstallMessageUser == INSTALLMESSAGE_USER &&
              kInstallMessageInfo == INSTALLMESSAGE_INFO);
static_assert(kRegSz == REG_SZ && kRegBinary == REG_BINARY && kRegDword == REG_DWORD &&
              kRegMultiSz == REG_MULTI_SZ);
static_assert(kDigcfPresent == DIGCF_PRESENT && kDigcfAllClasses == DIGCF_ALLCLASSES &&
              kSpdrpHardwareId == SPDRP_HARDWAREID && kSpdrpCompatibleIds == SPDRP_COMPATIBLEIDS &&
              kSpdrpService == SPDRP_SERVICE && kDifRemove == DIF_REMOVE &&
              kDifRegisterDevice == DIF_REGISTERDEVICE && kDiNeedRestart == DI_NEEDRESTART &&
              kDiNeedReboot == DI_NEEDREBOOT && kDicdGenerateId == DICD_GENERATE_ID &&
              kDiRemoveDeviceGlobal == DI_REMOVEDEVICE_GLOBAL &&
              kSuoiForceDelete == SUOI_FORCEDELETE && kSpostPath == SPOST_PATH &&
              kSpCopyForceNewerSourceAbsolute == (SP_COPY_FORCE_NEWER | SP_COPY_SOURCE_ABSOLUTE) &&
              kInstallFlagForce == INSTALLFLAG_FORCE);
static_assert(kServiceChangeConfig == SERVICE_CHANGE_CONFIG && kServiceStop == SERVICE_STOP &&
              kStandardRightsRequired == STANDARD_RIGHTS_REQUIRED);
static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES &&
              kFileAttributeReadOnly == FILE_ATTRIBUTE_READONLY &&
              kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY &&
              kFileAttributeNormal == FILE_ATTRIBUTE_NORMAL &&
              kFileAttributeReparsePoint == FILE_ATTRIBUTE_REPARSE_POINT && kMaxPath == MAX_PATH);
static_assert(kProcessorArchitectureAmd64 == PROCESSOR_ARCHITECTURE_AMD64 &&
              kProcessorArchitectureIa64 == PROCESSOR_ARCHITECTURE_IA64);

// A terminated copy for the W functions.
std::wstring W(TextView text) { return std::wstring(text.begin(), text.end()); }
wchar_t* Units(char16_t* buffer) { return reinterpret_cast<wchar_t*>(buffer); }

std::uint32_t LastErrorOr(bool ok) { return ok ? kErrorSuccess : ::GetLastError(); }

// A handle's native value: a pointer for most kinds, an integer for MSIHANDLE.
template <class Native, class Kind>
Native ToNative(PlatformHandle<Kind> handle) {
  if constexpr (std::is_pointer_v<Native>) {
    return reinterpret_cast<Native>(handle.value());
  } else {
    return static_cast<Native>(handle.value());
  }
}

template <class HandleKind, class Native>
HandleKind FromNative(Native native) {
  if constexpr (std::is_pointer_v<Native>) {
    return HandleKind(reinterpret_cast<std::uintptr_t>(native));
  } else {
    return HandleKind(static_cast<std::uintptr_t>(native));
  }
}

// The calls that make sets, snapshots and driver keys fail with INVALID_HANDLE_VALUE.
template <class HandleKind, class Native>
HandleKind FromNativeOrInvalid(Native native) {
  return native == INVALID_HANDLE_VALUE ? HandleKind() : FromNative<HandleKind>(native);
}

// The portable GUID has the native layout, so a copy converts it either way.
static_assert(sizeof(Guid) == sizeof(GUID) && offsetof(Guid, data4) == offsetof(GUID, Data4));
GUID ToGuid(const Guid& guid) { return std::bit_cast<GUID>(guid); }
Guid FromGuid(const GUID& guid) { return std::bit_cast<Guid>(guid); }

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

RecordHandle Win32Session::CreateRecord(std::uint32_t fields) {
  return FromNative<RecordHandle>(::MsiCreateRecord(fields));
}

std::uint32_t Win32Session::RecordSetInteger(RecordHandle record, std::uint32_t field, int value) {
  return ::MsiRecordSetInteger(ToNative<MSIHANDLE>(record), field, value);
}

std::uint32_t Win32Session::RecordSetString(RecordHandle record, std::uint32_t field,
                                            TextView value) {
  return ::MsiRecordSetStringW(ToNative<MSIHANDLE>(record), field, W(value).c_str());
}

int Win32Session::ProcessMessage(std::uint32_t kind, RecordHandle record) {
  return ::MsiProcessMessage(install_, static_cast<INSTALLMESSAGE>(kind),
                             ToNative<MSIHANDLE>(record));
}

std::uint32_t Win32Session::CloseHandle(RecordHandle record) {
  return ::MsiCloseHandle(ToNative<MSIHANDLE>(record));
}

// Registry, HKEY_LOCAL_MACHINE.

std::uint32_t Win32Registry::CreateKey(TextView path, RegView view, RegAccess access,
                                       KeyHandle* key) {
  HKEY created = nullptr;
  const LONG status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(path).c_str(), 0, nullptr, 0,
                                        Sam(view, access), nullptr, &created, nullptr);
  if (status == ERROR_SUCCESS) *key = FromNative<KeyHandle>(created);
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::OpenKey(TextView path, RegView view, RegAccess access,
                                     KeyHandle* key) {
  HKEY opened = nullptr;
  const LONG status =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, W(path).c_str(), 0, Sam(view, access), &opened);
  if (status == ERROR_SUCCESS) *key = FromNative<KeyHandle>(opened);
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::QueryValue(KeyHandle key, TextView name, std::uint32_t* type,
                                        std::uint8_t* data, std::uint32_t* size) {
  DWORD valueType = 0;
  DWORD valueSize = size ? *size : 0;
  const LONG status = ::RegQueryValueExW(ToNative<HKEY>(key), W(name).c_str(), nullptr, &valueType,
                                         data, size ? &valueSize : nullptr);
  if (type) *type = valueType;
  if (size) *size = valueSize;
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::SetValue(KeyHandle key, TextView name, std::uint32_t type,
                                      const std::uint8_t* data, std::uint32_t size) {
  return static_cast<std::uint32_t>(
      ::RegSetValueExW(ToNative<HKEY>(key), W(name).c_str(), 0, type, data, size));
}

std::uint32_t Win32Registry::DeleteValue(KeyHandle key, TextView name) {
  return static_cast<std::uint32_t>(::RegDeleteValueW(ToNative<HKEY>(key), W(name).c_str()));
}

std::uint32_t Win32Registry::EnumValue(KeyHandle key, std::uint32_t index, char16_t* name,
                                       std::uint32_t* nameLength, std::uint32_t* type,
                                       std::uint8_t* data, std::uint32_t* size) {
  DWORD length = *nameLength;
  DWORD valueType = 0;
  DWORD valueSize = size ? *size : 0;
  const LONG status = ::RegEnumValueW(ToNative<HKEY>(key), index, Units(name), &length, nullptr,
                                      &valueType, data, size ? &valueSize : nullptr);
  *nameLength = length;
  if (type) *type = valueType;
  if (size) *size = valueSize;
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::QueryInfoKey(KeyHandle key, std::uint32_t* subKeys,
                                          std::uint32_t* maxSubKeyLength) {
  DWORD count = 0;
  DWORD longest = 0;
  const LONG status =
      ::RegQueryInfoKeyW(ToNative<HKEY>(key), nullptr, nullptr, nullptr, &count, &longest, nullptr,
                         nullptr, nullptr, nullptr, nullptr, nullptr);
  *subKeys = count;
  *maxSubKeyLength = longest;
  return static_cast<std::uint32_t>(status);
}

std::uint32_t Win32Registry::EnumKey(KeyHandle key, std::uint32_t index, char16_t* name,
                                     std::uint32_t nameSize) {
  return static_cast<std::uint32_t>(
      ::RegEnumKeyW(ToNative<HKEY>(key), index, Units(name), nameSize));
}

std::uint32_t Win32Registry::CloseKey(KeyHandle key) {
  return static_cast<std::uint32_t>(::RegCloseKey(ToNative<HKEY>(key)));
}

// SetupAPI and the configuration manager.

DeviceSetHandle Win32Devices::GetClassDevs(TextView enumerator, std::uint32_t flags) {
  return FromNativeOrInvalid<DeviceSetHandle>(
      ::SetupDiGetClassDevsW(nullptr, W(enumerator).c_str(), nullptr, flags));
}

DeviceSetHandle Win32Devices::GetClassDevsEx(std::uint32_t flags) {
  return FromNativeOrInvalid<DeviceSetHandle>(
      ::SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, flags, nullptr, nullptr, nullptr));
}

DeviceSetHandle Win32Devices::CreateDeviceInfoList(const Guid& classGuid) {
  const GUID guid = ToGuid(classGuid);
  return FromNativeOrInvalid<DeviceSetHandle>(::SetupDiCreateDeviceInfoList(&guid, nullptr));
}

std::uint32_t Win32Devices::DestroyDeviceInfoList(DeviceSetHandle set) {
  return LastErrorOr(::SetupDiDestroyDeviceInfoList(ToNative<HDEVINFO>(set)));
}

std::uint32_t Win32Devices::EnumDeviceInfo(DeviceSetHandle set, std::uint32_t index,
                                           DeviceInfo* device) {
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  if (!::SetupDiEnumDeviceInfo(ToNative<HDEVINFO>(set), index, &data)) return ::GetLastError();
  *device = FromDevInfo(data);
  return kErrorSuccess;
}

std::uint32_t Win32Devices::GetDeviceRegistryProperty(DeviceSetHandle set, const DeviceInfo& device,
                                                      std::uint32_t property, std::uint32_t* type,
                                                      std::uint8_t* buffer, std::uint32_t size,
                                                      std::uint32_t* required) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  DWORD valueType = 0;
  DWORD needed = 0;
  const BOOL ok = ::SetupDiGetDeviceRegistryPropertyW(ToNative<HDEVINFO>(set), &data, property,
                                                      &valueType, buffer, size, &needed);
  const std::uint32_t status = LastErrorOr(ok);
  if (type) *type = valueType;
  if (required) *required = needed;
  return status;
}

std::uint32_t Win32Devices::SetDeviceRegistryProperty(DeviceSetHandle set, const DeviceInfo& device,
                                                      std::uint32_t property,
                                                      const std::uint8_t* buffer,
                                                      std::uint32_t size) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  return LastErrorOr(
      ::SetupDiSetDeviceRegistryPropertyW(ToNative<HDEVINFO>(set), &data, property, buffer, size));
}

KeyHandle Win32Devices::OpenDriverKey(DeviceSetHandle set, const DeviceInfo& device) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  const HKEY key = ::SetupDiOpenDevRegKey(ToNative<HDEVINFO>(set), &data, DICS_FLAG_GLOBAL, 0,
                                          DIREG_DRV, KEY_READ);
  return FromNativeOrInvalid<KeyHandle>(key);
}

std::uint32_t Win32Devices::CallClassInstaller(std::uint32_t function, DeviceSetHandle set,
                                               const DeviceInfo& device) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  return LastErrorOr(::SetupDiCallClassInstaller(function, ToNative<HDEVINFO>(set), &data));
}

std::uint32_t Win32Devices::SetRemoveParams(DeviceSetHandle set, const DeviceInfo& device,
                                            std::uint32_t scope, std::uint32_t hwProfile) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  SP_REMOVEDEVICE_PARAMS params{};
  params.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
  params.ClassInstallHeader.InstallFunction = DIF_REMOVE;
  params.Scope = scope;
  params.HwProfile = hwProfile;
  return LastErrorOr(::SetupDiSetClassInstallParamsW(ToNative<HDEVINFO>(set), &data,
                                                     &params.ClassInstallHeader, sizeof params));
}

std::uint32_t Win32Devices::GetDeviceInstallFlags(DeviceSetHandle set, const DeviceInfo& device,
                                                  std::uint32_t* flags) {
  SP_DEVINFO_DATA data = ToDevInfo(device);
  SP_DEVINSTALL_PARAMS_W params{};
  params.cbSize = sizeof params;
  if (!::SetupDiGetDeviceInstallParamsW(ToNative<HDEVINFO>(set), &data, &params))
    return ::GetLastError();
  *flags = params.Flags;
  return kErrorSuccess;
}

std::uint32_t Win32Devices::GetDeviceInfoListDetail(DeviceSetHandle set, MachineHandle* machine) {
  SP_DEVINFO_LIST_DETAIL_DATA_W detail{};
  detail.cbSize = sizeof detail;
  if (!::SetupDiGetDeviceInfoListDetailW(ToNative<HDEVINFO>(set), &detail)) return ::GetLastError();
  *machine = FromNative<MachineHandle>(detail.RemoteMachineHandle);
  return kErrorSuccess;
}

std::uint32_t Win32Devices::GetDeviceInstanceId(const DeviceInfo& device, MachineHandle machine,
                                                char16_t* buffer, std::uint32_t size) {
  return ::CM_Get_Device_ID_ExW(device.devInst, Units(buffer), size, 0,
                                ToNative<HMACHINE>(machine));
}

std::uint32_t Win32Devices::CreateDeviceInfo(DeviceSetHandle set, TextView name,
                                             const Guid& classGuid, std::uint32_t flags,
                                             DeviceInfo* device) {
  const GUID guid = ToGuid(classGuid);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  if (!::SetupDiCreateDeviceInfoW(ToNative<HDEVINFO>(set), W(name).c_str(), &guid, nullptr, nullptr,
                                  flags, &data)) {
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

ModuleHandle Win32Devices::LoadLibrary(TextView name) {
  return FromNative<ModuleHandle>(::LoadLibraryW(W(name).c_str()));
}

std::uintptr_t Win32Devices::GetProcAddress(ModuleHandle module, const char* name) {
  return reinterpret_cast<std::uintptr_t>(::GetProcAddress(ToNative<HMODULE>(module), name));
}

std::uint32_t Win32Devices::FreeLibrary(ModuleHandle module) {
  return LastErrorOr(::FreeLibrary(ToNative<HMODULE>(module)));
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

ServiceHandle Win32Services::OpenManager() {
  return FromNative<ServiceHandle>(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

ServiceHandle Win32Services::OpenService(ServiceHandle manager, TextView name,
                                         std::uint32_t access) {
  return FromNative<ServiceHandle>(
      ::OpenServiceW(ToNative<SC_HANDLE>(manager), W(name).c_str(), access));
}

std::uint32_t Win32Services::ChangeConfigNoChange(ServiceHandle service) {
  return LastErrorOr(::ChangeServiceConfigW(ToNative<SC_HANDLE>(service), SERVICE_NO_CHANGE,
                                            SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, nullptr, nullptr,
                                            nullptr, nullptr, nullptr, nullptr, nullptr));
}

std::uint32_t Win32Services::ControlStop(ServiceHandle service) {
  SERVICE_STATUS status{};
  return LastErrorOr(::ControlService(ToNative<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status));
}

std::uint32_t Win32Services::DeleteService(ServiceHandle service) {
  return LastErrorOr(::DeleteService(ToNative<SC_HANDLE>(service)));
}

std::uint32_t Win32Services::CloseServiceHandle(ServiceHandle handle) {
  return LastErrorOr(::CloseServiceHandle(ToNative<SC_HANDLE>(handle)));
}

// Files and versions.

std::uint32_t Win32Files::GetSystemDirectory(char16_t* buffer, std::uint32_t size) {
  return ::GetSystemDirectoryW(Units(buffer), size);
}

std::uint32_t Win32Files::GetSystemWow64Directory(char16_t* buffer, std::uint32_t size) {
  return ::GetSystemWow64DirectoryW(Units(buffer), size);
}

std::uint32_t Win32Files::GetProgramFilesX86(char16_t* buffer) {
  const HRESULT result = ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr,
                                            SHGFP_TYPE_CURRENT, Units(buffer));
  return SUCCEEDED(result) ? ERROR_SUCCESS : static_cast<std::uint32_t>(result);
}

std::uint32_t Win32Files::GetFullPathName(TextView path, char16_t* buffer, std::uint32_t size) {
  return ::GetFullPathNameW(W(path).c_str(), size, Units(buffer), nullptr);
}

std::uint32_t Win32Files::GetShortPathName(TextView path, char16_t* buffer, std::uint32_t size) {
  return ::GetShortPathNameW(W(path).c_str(), Units(buffer), size);
}

std::uint32_t Win32Files::GetFileAttributes(TextView path) {
  return ::GetFileAttributesW(W(path).c_str());
}

std::uint32_t Win32Files::OpenNoFollow(TextView path, FileHandle* file) {
  const HANDLE handle =
      ::CreateFileW(W(path).c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  *file = FromNative<FileHandle>(handle);
  return kErrorSuccess;
}

std::uint32_t Win32Files::GetAttributes(FileHandle file, std::uint32_t* attributes) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(ToNative<HANDLE>(file), &info)) return ::GetLastError();
  *attributes = info.dwFileAttributes;
  return kErrorSuccess;
}

std::uint32_t Win32Files::OpenToIdentify(TextView path, FileHandle* file) {
  const HANDLE handle = ::CreateFileW(
      W(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return ::GetLastError();
  *file = FromNative<FileHandle>(handle);
  return kErrorSuccess;
}

std::uint32_t Win32Files::GetIdentity(FileHandle file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(ToNative<HANDLE>(file), &info)) return ::GetLastError();
  identity->volumeSerial = info.dwVolumeSerialNumber;
  identity->fileIndex = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return kErrorSuccess;
}

std::uint32_t Win32Files::SetAttributes(FileHandle file, std::uint32_t attributes) {
  FILE_BASIC_INFO info{};  // times of 0 stay as they are
  info.FileAttributes = attributes;
  return LastErrorOr(
      ::SetFileInformationByHandle(ToNative<HANDLE>(file), FileBasicInfo, &info, sizeof info));
}

std::uint32_t Win32Files::DeleteOnClose(FileHandle file) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  return LastErrorOr(::SetFileInformationByHandle(ToNative<HANDLE>(file), FileDispositionInfo,
                                                  &info, sizeof info));
}

std::uint32_t Win32Files::CloseHandle(FileHandle file) {
  return LastErrorOr(::CloseHandle(ToNative<HANDLE>(file)));
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

SnapshotHandle Win32Processes::CreateSnapshot() {
  return FromNativeOrInvalid<SnapshotHandle>(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
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

std::uint32_t Win32Processes::First(SnapshotHandle snapshot, ProcessEntry* entry) {
  PROCESSENTRY32W raw{};
  raw.dwSize = sizeof raw;
  return CopyEntry(::Process32FirstW(ToNative<HANDLE>(snapshot), &raw), raw, entry);
}

std::uint32_t Win32Processes::Next(SnapshotHandle snapshot, ProcessEntry* entry) {
  PROCESSENTRY32W raw{};
  raw.dwSize = sizeof raw;
  return CopyEntry(::Process32NextW(ToNative<HANDLE>(snapshot), &raw), raw, entry);
}

ProcessHandle Win32Processes::OpenForTerminate(std::uint32_t processId) {
  return FromNative<ProcessHandle>(
      ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
}

std::uint32_t Win32Processes::QueryImageName(ProcessHandle process, char16_t* buffer,
                                             std::uint32_t* size) {
  DWORD length = *size;
  const BOOL ok =
      ::QueryFullProcessImageNameW(ToNative<HANDLE>(process), 0, Units(buffer), &length);
  *size = length;
  return LastErrorOr(ok);
}

std::uint32_t Win32Processes::Terminate(ProcessHandle process, std::uint32_t exitCode) {
  return LastErrorOr(::TerminateProcess(ToNative<HANDLE>(process), exitCode));
}

std::uint32_t Win32Processes::CloseHandle(SnapshotHandle snapshot) {
  return LastErrorOr(::CloseHandle(ToNative<HANDLE>(snapshot)));
}

std::uint32_t Win32Processes::CloseHandle(ProcessHandle process) {
  return LastErrorOr(::CloseHandle(ToNative<HANDLE>(process)));
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
