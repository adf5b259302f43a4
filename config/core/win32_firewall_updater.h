#pragma once

#include "config/core/configure_app.h"
#include "firewall/firewall_exception.h"

namespace orvel {

// The save flow's firewall step over the real exception functions.
class Win32FirewallUpdater : public FirewallUpdater {
 public:
  bool RegisterFirewallException() override { return orvel::RegisterFirewallException(); }
  bool DisableFirewallException() override { return orvel::DisableFirewallException(); }
};

}  // namespace orvel
