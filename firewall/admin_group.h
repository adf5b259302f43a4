#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orvel {

// True when the process token's groups contain the local Administrators group
// (S-1-5-32-544). Attributes are not examined: under User Account Control a filtered
// token carries the group for deny only, and such a user still counts as a member.
// Windows builds only (win32_admin_group.cpp).
bool IsUserInAdministratorsGroup();

// A security identifier in portable form, compared as EqualSid does.
struct SecurityId {
  std::uint8_t revision = 1;
  std::uint64_t authority = 0;  // the six-byte identifier authority, big-endian value
  std::vector<std::uint32_t> subAuthorities;

  bool operator==(const SecurityId&) const = default;
};

struct TokenGroup {
  SecurityId sid;
  std::uint32_t attributes = 0;
};

// The current process's access token, as far as the group test and the firewall need it.
class ProcessToken {
 public:
  virtual ~ProcessToken() = default;
  // The token's groups in their order, or nothing when the token cannot be opened,
  // reports a size of 0 or cannot be read.
  virtual std::optional<std::vector<TokenGroup>> ReadGroups() = 0;
  // TokenElevation: whether the token is a full administrator's (elevated, or never
  // filtered), or nothing when the token cannot be opened or read.
  virtual std::optional<bool> IsElevated() = 0;
};

// S-1-5-32-544: NT authority, built-in domain, Administrators.
constexpr std::uint8_t kSidRevision = 1;
constexpr std::uint64_t kNtAuthority = 5;
constexpr std::uint32_t kBuiltinDomainRid = 32;
constexpr std::uint32_t kAdministratorsRid = 544;
SecurityId AdministratorsSid();

bool IsUserInAdministratorsGroup(ProcessToken& token);

// The current process's token through the Windows API (win32_admin_group.cpp).
class Win32ProcessToken final : public ProcessToken {
 public:
  std::optional<std::vector<TokenGroup>> ReadGroups() override;
  std::optional<bool> IsElevated() override;
};

}  // namespace orvel
