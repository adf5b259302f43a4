// Orvelcfg's firewall step as the installer's in-script actions take it. They run as
// LocalSystem in the service's session, where no consent can be asked for: the manager
// is used in-process, which the rules allow a token that is elevated already, and the
// elevation moniker is never bound.
#pragma once

#include "config/core/configure_app.h"

namespace orvel::installer {

class Win32SystemFirewallUpdater final : public FirewallUpdater {
 public:
  bool RegisterFirewallException() override;
  bool DisableFirewallException() override;
};

}  // namespace orvel::installer
