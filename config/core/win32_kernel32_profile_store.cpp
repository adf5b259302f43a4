#include "config/core/win32_kernel32_profile_store.h"

#include <windows.h>

namespace orvel {

std::string Kernel32ProfileStore::GetString(const std::string& section, const std::string& key,
                                            const std::string& defaultValue) {
  char buffer[kValueBufferSize];
  const DWORD length =
      GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer,
                               static_cast<DWORD>(sizeof buffer), path_.c_str());
  return std::string(buffer, length < sizeof buffer ? length : sizeof buffer - 1);
}

std::int32_t Kernel32ProfileStore::GetInt(const std::string& section, const std::string& key,
                                          std::int32_t defaultValue) {
  return static_cast<std::int32_t>(
      GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path_.c_str()));
}

bool Kernel32ProfileStore::WriteString(const std::string& section, const std::string& key,
                                       const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path_.c_str()) !=
         FALSE;
}

}  // namespace orvel
