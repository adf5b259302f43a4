#pragma once

// The firewall exception's platform over the real Windows calls and the hnetcfg
// firewall objects. Windows builds only.

#include "firewall/firewall_platform.h"

namespace orvel {

class Win32FirewallPlatform : public FirewallPlatform {
 public:
  bool GetVersionExA(OsVersionInfo* info) override;
  HResult GetSystemFolderPath(WideString* path) override;
  std::uint32_t GetFileVersionInfoSizeW(const WideChar* path) override;
  bool GetFileVersionInfoW(const WideChar* path, std::uint32_t size, void* block) override;
  bool VerQueryValueA(const void* block, const char* subBlock, const void** value,
                      std::uint32_t* length) override;
  bool VerQueryValueW(const void* block, const WideChar* subBlock, const void** value,
                      std::uint32_t* length) override;
  HResult OpenProfileInProcess(std::unique_ptr<FirewallProfile>* profile) override;
  HResult OpenProfileElevated(const WideString& moniker,
                              std::unique_ptr<FirewallProfile>* profile) override;
};

}  // namespace orvel
