// Built without UNICODE, as the firewall library is: <windows.h> would otherwise rename
// the platform's methods that share a name with a Windows function.
#include "installer/win32_system_firewall.h"

#include <windows.h>

#include "firewall/firewall_exception.h"
#include "firewall/win32_firewall_platform.h"

namespace orvel::installer {
namespace {

class InProcessOnly final : public Win32FirewallPlatform {
 public:
  HResult OpenPolicyElevated(const WideString&, std::unique_ptr<FirewallPolicy>*) override {
    return static_cast<HResult>(E_NOTIMPL);
  }
};

}  // namespace

bool Win32SystemFirewallUpdater::RegisterFirewallException() {
  InProcessOnly platform;
  Win32ProcessToken token;
  return orvel::RegisterFirewallException(platform, token);
}

bool Win32SystemFirewallUpdater::DisableFirewallException() {
  InProcessOnly platform;
  Win32ProcessToken token;
  return orvel::DisableFirewallException(platform, token);
}

}  // namespace orvel::installer
