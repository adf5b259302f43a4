// Who owns a file or folder and what its access list allows, read through a handle
// that the caller opened without following a link.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <memory>
#include <optional>

namespace orvel {

struct LocalMemory {
  void operator()(void* memory) const { LocalFree(memory); }
};
using OwnedDescriptor = std::unique_ptr<void, LocalMemory>;

// The owner and the list point into `descriptor`, which keeps them alive.
struct HandleSecurity {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  OwnedDescriptor descriptor;
};

// GetSecurityInfo(owner and DACL); nothing when it cannot be read.
inline std::optional<HandleSecurity> ReadHandleSecurity(HANDLE object) {
  HandleSecurity security;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &security.owner,
                      nullptr, &security.dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  security.descriptor.reset(descriptor);
  return security;
}

// SYSTEM or Administrators: what only an elevated program makes, never a standard
// user, who may plant files but not give them that owner.
inline bool IsSystemOrAdministrators(PSID sid) {
  return sid != nullptr && IsValidSid(sid) &&
         (IsWellKnownSid(sid, WinLocalSystemSid) ||
          IsWellKnownSid(sid, WinBuiltinAdministratorsSid));
}

}  // namespace orvel
