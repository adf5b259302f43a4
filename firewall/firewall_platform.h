#pragma once

// The Windows facilities that the firewall exception rules call, one method per
// platform call, so that the Windows adapter passes straight through and a test
// double can stand in for all of them.

#include <cstdint>

#include "firewall/firewall_objects.h"

namespace orvel {

struct OsVersionInfo {
  std::uint32_t platformId = 0;  // 2 is NT
  std::uint32_t majorVersion = 0;
  std::uint32_t minorVersion = 0;
};

constexpr std::uint32_t kVerPlatformWin32Nt = 2;

constexpr std::uint32_t kClsctxInprocServer = 1;
constexpr std::uint32_t kClsctxLocalServer = 4;
constexpr std::uint32_t kCoinitApartmentThreaded = 2;
constexpr std::uint32_t kCoinitDisableOle1Dde = 4;

// What the rules put into BIND_OPTS3; the adapter fills the rest with zeros and the
// size field with the structure's own size.
struct ElevationBindOptions {
  std::uint32_t classContext = 0;
  std::uintptr_t ownerWindow = 0;
};

class FirewallPlatform {
 public:
  virtual ~FirewallPlatform() = default;

  // GetVersionExA with an OSVERSIONINFOA.
  virtual bool GetVersionExA(OsVersionInfo* info) = 0;

  // SHGetFolderPathW(no window, CSIDL_SYSTEM, no token, current path).
  virtual HResult GetSystemFolderPath(WideString* path) = 0;

  virtual std::uint32_t GetFileVersionInfoSizeW(const WideChar* path) = 0;
  virtual bool GetFileVersionInfoW(const WideChar* path, std::uint32_t size, void* block) = 0;
  // VerQueryValueA / VerQueryValueW: *value points into the block, *length is in bytes
  // for binary values and in characters for strings.
  virtual bool VerQueryValueA(const void* block, const char* subBlock, const void** value,
                              std::uint32_t* length) = 0;
  virtual bool VerQueryValueW(const void* block, const WideChar* subBlock, const void** value,
                              std::uint32_t* length) = 0;

  virtual HResult CoInitializeEx(std::uint32_t flags) = 0;
  virtual void CoUninitialize() = 0;
  // On success *object holds the interface for iid, as a pointer to the matching
  // Fw* class (FwManager for kIidINetFwMgr, FwAuthorizedApplication for
  // kIidINetFwAuthorizedApplication).
  virtual HResult CoCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid,
                                   void** object) = 0;
  virtual HResult CoGetObject(const WideChar* name, const ElevationBindOptions& options,
                              const Guid& iid, void** object) = 0;

  // Null when the allocation fails.
  virtual Bstr SysAllocString(const WideChar* text) = 0;
  virtual void SysFreeString(Bstr text) = 0;
  virtual std::uint32_t SysStringLen(Bstr text) = 0;
};

}  // namespace orvel
