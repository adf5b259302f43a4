#pragma once

// The firewall exception's platform over the real Windows calls and the hnetcfg
// firewall objects. Windows builds only.

#include "firewall/firewall_platform.h"

namespace orvel {

class Win32FirewallPlatform : public FirewallPlatform {
 public:
  bool GetVersionExA(OsVersionInfo* info) override;
  bool IsWow64Process(bool* wow64) override;
  HResult GetSystemFolderPath(WideString* path) override;
  bool GetSystemWindowsDirectory(WideString* path) override;
  bool GetSystemWow64Directory(WideString* path) override;
  bool FileExists(const WideString& path) override;
  std::uint32_t GetFileVersionInfoSizeW(const WideChar* path) override;
  bool GetFileVersionInfoW(const WideChar* path, std::uint32_t size, void* block) override;
  bool VerQueryValueA(const void* block, const char* subBlock, const void** value,
                      std::uint32_t* length) override;
  bool VerQueryValueW(const void* block, const WideChar* subBlock, const void** value,
                      std::uint32_t* length) override;
  HResult OpenPolicyInProcess(std::unique_ptr<FirewallPolicy>* policy) override;
  HResult OpenPolicyElevated(const WideString& moniker,
                             std::unique_ptr<FirewallPolicy>* policy) override;
};

}  // namespace orvel
