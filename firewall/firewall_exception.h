#pragma once

// The Windows Firewall exception for the driver's server program: an enabled
// authorized application of the current profile while devices are configured,
// switched off (never deleted) when none are.

#include <cstddef>
#include <string_view>

#include "firewall/admin_group.h"
#include "firewall/firewall_platform.h"

namespace orvel {

// What the configuration program's save flow calls. Windows builds only
// (win32_firewall.cpp). Nothing is shown; false on any failure.
bool RegisterFirewallException();
bool DisableFirewallException();

// Buffer sizes in code units, terminator included.
constexpr std::size_t kServerPathCapacity = 260;
constexpr std::size_t kProductNameCapacity = 260;
constexpr std::size_t kVersionQueryCapacity = 256;
constexpr std::size_t kMonikerCapacity = 300;
constexpr std::size_t kGuidStringCapacity = 50;

inline constexpr std::u16string_view kServerProgramName = u"Quorin Network Driver.exe";

bool RegisterFirewallException(FirewallPlatform& platform, ProcessToken& token);
bool DisableFirewallException(FirewallPlatform& platform, ProcessToken& token);

bool IsFirewallCapableWindows(FirewallPlatform& platform);
bool IsWindowsVistaOrLater(FirewallPlatform& platform);
bool GetServerProgramPath(FirewallPlatform& platform, WideString* path);
bool GetServerProductName(FirewallPlatform& platform, const WideString& path, WideString* name);
// The current profile: through the elevation moniker on Vista and later, else from a
// manager created in-process.
HResult GetCurrentFirewallProfile(FirewallPlatform& platform,
                                  std::unique_ptr<FirewallProfile>* profile);
HResult CreateElevatedFirewallManager(FirewallPlatform& platform,
                                      std::unique_ptr<FirewallProfile>* profile);
HResult IsApplicationEnabled(FirewallProfile* profile, const WideChar* path, bool* enabled);
HResult AddAuthorizedApplication(FirewallProfile* profile, const WideChar* path,
                                 const WideChar* name);
HResult DisableAuthorizedApplication(FirewallProfile* profile, const WideChar* path);

// Bounded string building as the fixed buffers of the platform allow: capacity counts
// the terminator. A zero capacity gives kEInvalidArg; text that does not fit is cut to
// capacity - 1 units and gives kEInsufficientBuffer.
HResult AppendBounded(WideString* out, std::size_t capacity, std::u16string_view text);
// Registry form of a class identifier: braces, upper-case hexadecimal digits.
WideString GuidToRegistryString(const Guid& guid);
// "\StringFileInfo\%08x\%s" for the first translation entry.
WideString VersionStringQuery(std::uint16_t language, std::uint16_t codePage,
                              std::u16string_view name);

}  // namespace orvel
