// Orvelcfg: the configuration program of the Quorin Network Driver.
#include <windows.h>
// after windows.h
#include <objbase.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/autodetect/setup_file.h"
#include "config/core/configure_app.h"
#include "config/core/win32_app_platform.h"
#include "config/core/win32_firewall_updater.h"
#include "config/core/win32_server_channel.h"
#include "config/ui/win32_applet_dialog.h"
#include "config/ui/win32_control_annotation.h"
#include "firewall/admin_group.h"

namespace {

bool IsAdministrator() {
#ifdef ORVEL_TEST_NOT_ADMINISTRATOR
  // Test builds only: a user outside the Administrators group.
  return false;
#else
  return orvel::IsUserInAdministratorsGroup();
#endif
}

int Run(HINSTANCE instance) {
  orvel::Win32AppPlatform platform(instance);
  orvel::Win32ServerChannel server;
  orvel::ui::Win32ControlAnnotation annotation(instance);
  orvel::ui::CAppletDlg mainDialog(instance, server, &IsAdministrator, &annotation);
  orvel::Win32FirewallUpdater firewall;
  orvel::COrvelConfigureApp app(platform, server, mainDialog, firewall);

  // The C runtime splits the command line as every Windows program's does.
  std::vector<std::string> arguments;
  for (int i = 1; i < __argc && __argv != nullptr; ++i) arguments.emplace_back(__argv[i]);
  const orvel::Command command = orvel::ParseCommandLine(arguments);
  if (command.kind != orvel::Command::Kind::kDialog) {
    orvel::autodetect::DialogSetupFiles setupFiles;
    const int code = app.RunCommand(command, setupFiles, IsAdministrator());
    app.ExitInstance();
    return code;
  }
  app.InitInstance();
  return app.ExitInstance();
}

}  // namespace

// The dialogs' thread joins a single-threaded apartment for the controls' accessible
// names; the firewall's calls join the same apartment and leave it again themselves.
// Everything that holds a COM object is gone before the apartment is left.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const HRESULT apartment =
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const int code = Run(instance);
  if (SUCCEEDED(apartment)) CoUninitialize();
  return code;
}
