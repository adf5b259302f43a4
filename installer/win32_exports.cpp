// The exported custom actions. Each builds the real platform around the installer handle
// it is given and never lets an exception reach the installer.
#include <windows.h>

#include <msi.h>

#include "config/core/win32_ansi_codec.h"
#include "config/core/win32_file_access.h"
#include "config/core/win32_settings_folder.h"
#include "installer/driver_package.h"
#include "installer/midi_slot.h"
#include "installer/root_device.h"
#include "installer/setup_file_settings.h"
#include "installer/utilities.h"
#include "installer/win32_platform.h"
#include "installer/win32_setup_file_access.h"
#include "installer/win32_system_firewall.h"

namespace {

using orvel::installer::Platform;

// onException: the code an action promises on every path (0 for those that never fail).
template <class Action>
UINT Run(MSIHANDLE install, Action action, UINT onException) noexcept {
  try {
    orvel::installer::Win32Platform platform(install);
    return action(platform.platform());
  } catch (...) {
    return onException;
  }
}

// The actions that read a setup file and work in the settings folder through Orvelcfg's
// own store, file access and hold.
template <class Action>
UINT RunWithFiles(MSIHANDLE install, Action action, UINT onException) noexcept {
  try {
    orvel::installer::Win32Platform platform(install);
    orvel::installer::Win32SetupFileAccess setupFile;
    orvel::Win32FileAccess settings(orvel::Win32FileAccess::Links::kRefuse);
    orvel::AnsiCodePageCodec codec;
    orvel::installer::Win32SystemFirewallUpdater firewall;
    orvel::Win32FolderSecurity folders;
    orvel::installer::SetupFileAccess access{
        platform.platform(), setupFile, settings, codec, firewall, folders};
    return action(access);
  } catch (...) {
    return onException;
  }
}

constexpr UINT kFailure = ERROR_INSTALL_FAILURE;
constexpr UINT kSuccess = ERROR_SUCCESS;

}  // namespace

extern "C" {

UINT __stdcall InstallKernelDriver(MSIHANDLE install) {
  return Run(install, orvel::installer::InstallKernelDriver, kFailure);
}
UINT __stdcall Uninstall(MSIHANDLE install) {
  return Run(install, orvel::installer::Uninstall, kSuccess);
}
UINT __stdcall CleanupInstall(MSIHANDLE install) {
  return Run(install, orvel::installer::CleanupInstall, kSuccess);
}
UINT __stdcall SetDeviceInfo(MSIHANDLE install) {
  return Run(install, orvel::installer::SetDeviceInfo, kFailure);
}
UINT __stdcall DelDeviceInfo(MSIHANDLE install) {
  return Run(install, orvel::installer::DelDeviceInfo, kFailure);
}
UINT __stdcall RegSetMIDIDeviceNum(MSIHANDLE install) {
  return Run(install, orvel::installer::RegSetMIDIDeviceNum, kFailure);
}
UINT __stdcall RegDelMIDIDeviceNum(MSIHANDLE install) {
  return Run(install, orvel::installer::RegDelMIDIDeviceNum, kSuccess);
}
UINT __stdcall setSystemComponent(MSIHANDLE install) {
  return Run(install, orvel::installer::setSystemComponent, kSuccess);
}
UINT __stdcall ProcessKill(MSIHANDLE install) {
  return Run(install, orvel::installer::ProcessKill, kFailure);
}
UINT __stdcall GetOSVersion(MSIHANDLE install) {
  return Run(install, orvel::installer::GetOSVersion, kSuccess);
}
UINT __stdcall IsAdmin(MSIHANDLE install) {
  return Run(install, orvel::installer::IsAdmin, kFailure);
}
UINT __stdcall delSystem32DllFile(MSIHANDLE install) {
  return Run(install, orvel::installer::delSystem32DllFile, kSuccess);
}

UINT __stdcall ClearSettingsFolderLinks(MSIHANDLE install) {
  return RunWithFiles(install, orvel::installer::ClearSettingsFolderLinks, kFailure);
}
UINT __stdcall CheckSetupFile(MSIHANDLE install) {
  return RunWithFiles(install, orvel::installer::CheckSetupFile, kFailure);
}
UINT __stdcall WriteSetupFileSettings(MSIHANDLE install) {
  return RunWithFiles(install, orvel::installer::WriteSetupFileSettings, kFailure);
}
UINT __stdcall RollbackSetupFileSettings(MSIHANDLE install) {
  return RunWithFiles(install, orvel::installer::RollbackSetupFileSettings, kSuccess);
}
UINT __stdcall CommitSetupFileSettings(MSIHANDLE install) {
  return RunWithFiles(install, orvel::installer::CommitSetupFileSettings, kSuccess);
}

}  // extern "C"
