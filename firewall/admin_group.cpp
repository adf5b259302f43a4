#include "firewall/admin_group.h"

#include <algorithm>

namespace orvel {

SecurityId AdministratorsSid() {
  return SecurityId{kSidRevision, kNtAuthority, {kBuiltinDomainRid, kAdministratorsRid}};
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
