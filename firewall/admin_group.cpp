#include "firewall/admin_group.h"

#include <algorithm>

namespace orvel {

SecurityId AdministratorsSid() {
  constexpr std::uint64_t kNtAuthority = 5;
  constexpr std::uint32_t kBuiltinDomain = 32;
  constexpr std::uint32_t kAdministrators = 544;
  return SecurityId{1, kNtAuthority, {kBuiltinDomain, kAdministrators}};
}

bool IsUserInAdministratorsGroup(ProcessToken& token) {
  const std::optional<std::vector<TokenGroup>> groups = token.ReadGroups();
  if (!groups) {
    return false;
  }
  const SecurityId administrators = AdministratorsSid();
  return std::any_of(groups->begin(), groups->end(),
                     [&](const TokenGroup& group) { return group.sid == administrators; });
}

}  // namespace orvel
