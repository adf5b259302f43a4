#pragma once
// The save's firewall step, counted: "register" or "disable" for each call.

#include <string>
#include <vector>

#include "config/core/configure_app.h"

namespace orvel::testing {

class FakeFirewall final : public FirewallUpdater {
 public:
  bool RegisterFirewallException() override {
    calls.push_back("register");
    return true;
  }
  bool DisableFirewallException() override {
    calls.push_back("disable");
    return true;
  }
  std::vector<std::string> calls;
};

}  // namespace orvel::testing
