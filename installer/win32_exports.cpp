// The exported custom actions. Each builds the real platform around the installer handle
// it is given and never lets an exception reach the installer.
#include <windows.h>

#include <msi.h>

#include "installer/driver_package.h"
#include "installer/midi_slot.h"
#include "installer/root_device.h"
#include "installer/utilities.h"
#include "installer/win32_platform.h"

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
  return Run(install, orvel::installer::ClearSettingsFolderLinks, kFailure);
}

}  // extern "C"
