#pragma once

#include "config/core/configure_app.h"
#if ORVEL_HAVE_FIREWALL
#include "firewall/firewall_exception.h"
#endif

namespace orvel {

// The save flow's firewall step over the real exception functions.
class Win32FirewallUpdater : public FirewallUpdater {
 public:
#if ORVEL_HAVE_FIREWALL
  bool RegisterFirewallException() override { return orvel::RegisterFirewallException(); }
  bool DisableFirewallException() override { return orvel::DisableFirewallException(); }
#else
  // Until the firewall library is part of the build.
  bool RegisterFirewallException() override { return false; }
  bool DisableFirewallException() override { return false; }
#endif
};

}  // namespace orvel
