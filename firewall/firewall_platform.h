#pragma once

// The Windows facilities that the firewall exception rules call: the system's version,
// folders, files and version resources one call each, and the firewall's local policy
// and its profiles at the level of what is done with the server's entry (is it enabled,
// add it, switch it off). The Windows adapter keeps the COM objects, strings and
// apartment to itself.

#include <cstdint>
#include <memory>
#include <string>

namespace orvel {

using HResult = std::int32_t;
using WideChar = char16_t;  // UTF-16 code unit, as OLECHAR on Windows
using WideString = std::u16string;

constexpr HResult kSOk = 0;
constexpr HResult kMissingArgument = -1;
constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000E);
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057);
constexpr HResult kEInsufficientBuffer = static_cast<HResult>(0x8007007A);
// What INetFwAuthorizedApplications::Item answers for a path it does not hold:
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
constexpr HResult kItemNotFound = static_cast<HResult>(0x80070002);

constexpr bool Failed(HResult result) { return result < 0; }

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];

  bool operator==(const Guid&) const = default;
};

// CLSID_NetFwMgr, for the elevation moniker's text.
constexpr Guid kClsidNetFwMgr{
    0x304CE942, 0x6E39, 0x40D8, {0x94, 0x3A, 0xB9, 0x13, 0xC4, 0x0C, 0x9C, 0xD4}};

struct OsVersionInfo {
  std::uint32_t platformId = 0;  // 2 is NT
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
};

constexpr std::uint32_t kVerPlatformWin32Nt = 2;

// NET_FW_PROFILE_TYPE: the domain profile, and the standard one, which the firewall of
// Vista and later applies to private and public networks alike.
enum class FirewallProfileType : std::int32_t { kDomain = 0, kStandard = 1 };

// How a firewall call that takes the server's path is made: as usual, or with WOW64
// file-system redirection off around it, for a 32-bit process whose path names the
// native system folder: a check the call makes in this process then looks where the
// path points, not in the 32-bit folder.
enum class Redirection { kAsUsual, kOff };

// What Item and Enabled answered for one path.
struct EntryLookup {
  HResult item = kSOk;   // Item's answer; kItemNotFound when the list holds no such entry
  bool enabled = false;  // Enabled of the entry Item found, when it was read
};

// One profile of the firewall's local policy. The Windows adapter holds the profile
// object and a hold on the COM apartment it was reached in, and lets go of the one,
// then the other, when this goes. A successful call that hands back no object counts
// as E_POINTER.
class FirewallProfile {
 public:
  virtual ~FirewallProfile() = default;
  // Item for the path in the profile's authorized applications, then Enabled of what
  // it found. Answers the failure to reach the list or to make the path's string
  // (E_OUTOFMEMORY), else that of reading Enabled; Item's own answer is in
  // lookup->item, and when it failed nothing is read and the answer is kSOk.
  virtual HResult FindEntry(const WideString& path, Redirection redirection,
                            EntryLookup* lookup) = 0;
  // A new authorized application with the path, then the name, added to the list;
  // its other properties keep their defaults. The first failing step's code; an
  // empty name gives E_OUTOFMEMORY, as a failed allocation does.
  virtual HResult AddEntry(const WideString& path, Redirection redirection,
                           const WideString& name) = 0;
  // Enabled switched off on the entry Item finds for the path; the entry stays. Item's
  // answer goes into *item, and a failed Item ends the call with it, changing nothing.
  virtual HResult DisableEntry(const WideString& path, Redirection redirection, HResult* item) = 0;
};

// The firewall's local policy, as the manager hands it out; held like a profile.
class FirewallPolicy {
 public:
  virtual ~FirewallPolicy() = default;
  // INetFwPolicy::GetProfileByType; a successful call that hands back no profile
  // answers success and leaves *profile empty.
  virtual HResult GetProfileByType(FirewallProfileType type,
                                   std::unique_ptr<FirewallProfile>* profile) = 0;
};

// The calls that tell where the server program lies. Orvelcfg and the installer's
// actions both find it through these, so that they name the same file.
class ServerFolders {
 public:
  virtual ~ServerFolders() = default;
  // IsWow64Process for the current process: false when the call fails.
  virtual bool IsWow64Process(bool* wow64) = 0;
  // SHGetFolderPathW(no window, CSIDL_SYSTEM, no token, current path).
  virtual HResult GetSystemFolderPath(WideString* path) = 0;
  // GetSystemWindowsDirectoryW and GetSystemWow64DirectoryW: false when the call fails
  // or the folder does not fit a path buffer.
  virtual bool GetSystemWindowsDirectory(WideString* path) = 0;
  virtual bool GetSystemWow64Directory(WideString* path) = 0;
  // GetFileAttributesW names a file, not a folder.
  virtual bool FileExists(const WideString& path) = 0;
};

class FirewallPlatform : public ServerFolders {
 public:
  // GetVersionExA with an OSVERSIONINFOA.
  virtual bool GetVersionExA(OsVersionInfo* info) = 0;

  virtual std::uint32_t GetFileVersionInfoSizeW(const WideChar* path) = 0;
  virtual bool GetFileVersionInfoW(const WideChar* path, std::uint32_t size, void* block) = 0;
  // VerQueryValueA / VerQueryValueW: *value points into the block, *length is in bytes
  // for binary values and in characters for strings.
  virtual bool VerQueryValueA(const void* block, const char* subBlock, const void** value,
                              std::uint32_t* length) = 0;
  virtual bool VerQueryValueW(const void* block, const WideChar* subBlock, const void** value,
                              std::uint32_t* length) = 0;

  // Joins or starts a single-threaded apartment (CoInitializeEx with
  // COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE), reaches the firewall manager,
  // then its local policy. The first failing step's code; a step that succeeds without
  // its object counts as E_POINTER. On failure the apartment is already left.
  // The manager created in-process (CoCreateInstance, CLSCTX_INPROC_SERVER).
  virtual HResult OpenPolicyInProcess(std::unique_ptr<FirewallPolicy>* policy) = 0;
  // The manager bound through the moniker from a local server (CoGetObject with
  // BIND_OPTS3, CLSCTX_LOCAL_SERVER, no owner window).
  virtual HResult OpenPolicyElevated(const WideString& moniker,
                                     std::unique_ptr<FirewallPolicy>* policy) = 0;
};

}  // namespace orvel
