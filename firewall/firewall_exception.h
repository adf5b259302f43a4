#pragma once

// The Windows Firewall exception for the driver's server program: an enabled
// authorized application of the domain and the standard profile while devices are
// configured, switched off (never deleted) when none are. The rules need nothing of
// the configuration program: any elevated or SYSTEM process can call them.

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

// The profiles that carry the exception, in the order they are updated. The standard
// profile covers private and public networks, so a machine that moves between
// networks finds the server open on each.
inline constexpr FirewallProfileType kExceptionProfiles[] = {FirewallProfileType::kDomain,
                                                             FirewallProfileType::kStandard};

// Both operations update every profile of kExceptionProfiles, go on past a profile that
// fails, and answer true only when each was updated.
bool RegisterFirewallException(FirewallPlatform& platform, ProcessToken& token);
bool DisableFirewallException(FirewallPlatform& platform, ProcessToken& token);

bool IsFirewallCapableWindows(FirewallPlatform& platform);
bool IsWindowsVistaOrLater(FirewallPlatform& platform);

// The server program as the firewall sees it run, and where this process reads it.
// They differ only for a 32-bit process on 64-bit Windows with the server in the
// native system folder, which such a process reaches only through "Sysnative", or
// with file-system redirection off.
struct ServerProgramPath {
  WideString path;                                  // what the exception names
  WideString versionPath;                           // whose version resource gives the display name
  Redirection redirection = Redirection::kAsUsual;  // for the firewall calls given path
};
// The native system folder when the program is there. Else, for a 32-bit process, the
// 32-bit system folder; for a 64-bit one that folder when the program is there, and the
// native folder when it is in neither. False when a folder that decides is unknown or a
// path would not fit 260 units.
bool GetServerProgramPath(ServerFolders& folders, ServerProgramPath* server);
bool GetServerProductName(FirewallPlatform& platform, const WideString& path, WideString* name);
// The local policy: on Vista and later through the elevation moniker, and from a
// manager created in-process when the moniker fails but the token is elevated already;
// before Vista from a manager created in-process.
HResult GetFirewallPolicy(FirewallPlatform& platform, ProcessToken& token,
                          std::unique_ptr<FirewallPolicy>* policy);
HResult CreateElevatedFirewallManager(FirewallPlatform& platform,
                                      std::unique_ptr<FirewallPolicy>* policy);
HResult IsApplicationEnabled(FirewallProfile* profile, const WideChar* path, bool* enabled,
                             Redirection redirection = Redirection::kAsUsual);
HResult AddAuthorizedApplication(FirewallProfile* profile, const WideChar* path,
                                 const WideChar* name,
                                 Redirection redirection = Redirection::kAsUsual);
HResult DisableAuthorizedApplication(FirewallProfile* profile, const WideChar* path,
                                     Redirection redirection = Redirection::kAsUsual);

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
