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
  HResult CoInitializeEx(std::uint32_t flags) override;
  void CoUninitialize() override;
  HResult CoCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid,
                           void** object) override;
  HResult CoGetObject(const WideChar* name, const ElevationBindOptions& options, const Guid& iid,
                      void** object) override;
  Bstr SysAllocString(const WideChar* text) override;
  void SysFreeString(Bstr text) override;
  std::uint32_t SysStringLen(Bstr text) override;
};

}  // namespace orvel
