#include <windows.h>

#include <memory>

#include "firewall/admin_group.h"

namespace orvel {
namespace {

// The portable rules carry copies of these.
static_assert(kSidRevision == SID_REVISION && kBuiltinDomainRid == SECURITY_BUILTIN_DOMAIN_RID &&
              kAdministratorsRid == DOMAIN_ALIAS_RID_ADMINS);
constexpr std::uint64_t AuthorityValue(const SID_IDENTIFIER_AUTHORITY& authority) {
  std::uint64_t value = 0;
  for (BYTE part : authority.Value) {
    value = (value << 8) | part;
  }
  return value;
}
static_assert(kNtAuthority == AuthorityValue(SID_IDENTIFIER_AUTHORITY{SECURITY_NT_AUTHORITY}));

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

SecurityId ToSecurityId(PSID sid) {
  SecurityId result;
  result.revision = static_cast<const SID*>(sid)->Revision;
  result.authority = AuthorityValue(*GetSidIdentifierAuthority(sid));
  const UCHAR count = *GetSidSubAuthorityCount(sid);
  for (UCHAR i = 0; i < count; ++i) {
    result.subAuthorities.push_back(*GetSidSubAuthority(sid, i));
  }
  return result;
}

}  // namespace

std::optional<std::vector<TokenGroup>> Win32ProcessToken::ReadGroups() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &raw)) {
    return std::nullopt;
  }
  UniqueHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size);
  if (size == 0) {
    return std::nullopt;
  }
  // Pointer-aligned storage: TOKEN_GROUPS holds pointers.
  std::vector<ULONG_PTR> buffer((size + sizeof(ULONG_PTR) - 1) / sizeof(ULONG_PTR));
  DWORD read = 0;
  if (!GetTokenInformation(token.get(), TokenGroups, buffer.data(),
                           static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)), &read)) {
    return std::nullopt;
  }
  const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  std::vector<TokenGroup> result;
  result.reserve(groups->GroupCount);
  for (DWORD i = 0; i < groups->GroupCount; ++i) {
    const SID_AND_ATTRIBUTES& entry = groups->Groups[i];
    if (entry.Sid == nullptr || !IsValidSid(entry.Sid)) {
      continue;
    }
    result.push_back(TokenGroup{ToSecurityId(entry.Sid), entry.Attributes});
  }
  return result;
}

std::optional<bool> Win32ProcessToken::IsElevated() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    return std::nullopt;
  }
  UniqueHandle token(raw);
  TOKEN_ELEVATION elevation{};
  DWORD read = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &read)) {
    return std::nullopt;
  }
  return elevation.TokenIsElevated != 0;
}

bool IsUserInAdministratorsGroup() {
  Win32ProcessToken token;
  return IsUserInAdministratorsGroup(token);
}

}  // namespace orvel
