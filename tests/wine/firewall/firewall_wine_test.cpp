// The firewall exception over the real Windows calls. Wine's firewall objects answer
// but keep nothing, and its elevation moniker does not parse, so these tests check
// the calls that run and their results; what the list holds afterwards belongs to the
// native tests over the double.

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <initializer_list>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firewall/admin_group.h"
#include "firewall/firewall_exception.h"
#include "firewall/win32_firewall_platform.h"

namespace orvel {
namespace {

std::string Hex(HResult result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

std::string Narrow(const WideChar* text) {
  std::string out;
  for (; *text != 0; ++text) out.push_back(*text < 128 ? static_cast<char>(*text) : '?');
  return out;
}

// Joins the parts of one log line with spaces (built by appending: GCC 12 for i686
// warns falsely about operator+ on a literal and a string).
std::string Line(std::initializer_list<std::string> parts) {
  std::string line;
  for (const std::string& part : parts) {
    if (!line.empty()) line += ' ';
    line += part;
  }
  return line;
}

WideString SystemDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
  return WideString(reinterpret_cast<const WideChar*>(buffer), length);
}

bool SameText(const WideString& a, const WideString& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// The real platform, logging each call with its result; it can also pretend to be
// another Windows version and read the version resource of another file, so that the
// in-process branch and the firewall objects run too.
class RecordingPlatform final : public Win32FirewallPlatform {
 public:
  std::vector<std::string> log;
  std::optional<OsVersionInfo> pretendVersion;
  std::optional<WideString> versionFile;
  int liveStrings = 0;

  bool GetVersionExA(OsVersionInfo* info) override {
    bool ok = true;
    if (pretendVersion) {
      *info = *pretendVersion;
    } else {
      ok = Win32FirewallPlatform::GetVersionExA(info);
    }
    log.push_back(Line({"GetVersionExA", std::to_string(ok)}));
    return ok;
  }
  HResult GetSystemFolderPath(WideString* path) override {
    const HResult result = Win32FirewallPlatform::GetSystemFolderPath(path);
    log.push_back(Line({"GetSystemFolderPath", Hex(result)}));
    return result;
  }
  std::uint32_t GetFileVersionInfoSizeW(const WideChar* path) override {
    const std::uint32_t size = Win32FirewallPlatform::GetFileVersionInfoSizeW(Redirect(path));
    log.push_back(Line({"GetFileVersionInfoSizeW", size != 0 ? "some" : "0"}));
    return size;
  }
  bool GetFileVersionInfoW(const WideChar* path, std::uint32_t size, void* block) override {
    const bool ok = Win32FirewallPlatform::GetFileVersionInfoW(Redirect(path), size, block);
    log.push_back(Line({"GetFileVersionInfoW", std::to_string(ok)}));
    return ok;
  }
  bool VerQueryValueA(const void* block, const char* subBlock, const void** value,
                      std::uint32_t* length) override {
    const bool ok = Win32FirewallPlatform::VerQueryValueA(block, subBlock, value, length);
    log.push_back(Line({"VerQueryValueA", subBlock, std::to_string(ok)}));
    if (ok && *length >= 4) {
      std::uint16_t entry[2];
      std::memcpy(entry, *value, sizeof entry);
      firstTranslation = VersionStringQuery(entry[0], entry[1], u"ProductName");
    }
    return ok;
  }
  bool VerQueryValueW(const void* block, const WideChar* subBlock, const void** value,
                      std::uint32_t* length) override {
    const bool ok = Win32FirewallPlatform::VerQueryValueW(block, subBlock, value, length);
    log.push_back(Line({"VerQueryValueW", Narrow(subBlock), std::to_string(ok)}));
    return ok;
  }
  HResult CoInitializeEx(std::uint32_t flags) override {
    const HResult result = Win32FirewallPlatform::CoInitializeEx(flags);
    log.push_back(Line({"CoInitializeEx", std::to_string(flags), Hex(result)}));
    return result;
  }
  void CoUninitialize() override {
    Win32FirewallPlatform::CoUninitialize();
    log.push_back("CoUninitialize");
  }
  HResult CoCreateInstance(const Guid& clsid, std::uint32_t context, const Guid& iid,
                           void** object) override {
    const HResult result = Win32FirewallPlatform::CoCreateInstance(clsid, context, iid, object);
    log.push_back(Line({"CoCreateInstance", Narrow(GuidToRegistryString(clsid).c_str()),
                        std::to_string(context), Hex(result)}));
    return result;
  }
  HResult CoGetObject(const WideChar* name, const ElevationBindOptions& options, const Guid& iid,
                      void** object) override {
    const HResult result = Win32FirewallPlatform::CoGetObject(name, options, iid, object);
    log.push_back(
        Line({"CoGetObject", Narrow(name), std::to_string(options.classContext), Hex(result)}));
    return result;
  }
  Bstr SysAllocString(const WideChar* text) override {
    Bstr result = Win32FirewallPlatform::SysAllocString(text);
    if (result != nullptr) ++liveStrings;
    return result;
  }
  void SysFreeString(Bstr text) override {
    if (text != nullptr) --liveStrings;
    Win32FirewallPlatform::SysFreeString(text);
  }

  WideString firstTranslation;

 private:
  const WideChar* Redirect(const WideChar* path) {
    return versionFile ? versionFile->c_str() : path;
  }
};

const std::string kMoniker = "Elevation:Administrator!new:{304CE942-6E39-40D8-943A-B913C40C9CD4}";
const std::string kManager = "{304CE942-6E39-40D8-943A-B913C40C9CD4}";
const std::string kApplication = "{EC9846B3-2762-4A6B-A214-6ACB603462D2}";

bool CheckAdministratorsIndependently() {
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                0, 0, 0, 0, &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  const BOOL ok = CheckTokenMembership(nullptr, administrators, &member);
  FreeSid(administrators);
  return ok && member;
}

TEST(WineFirewall, AdministratorsGroupAnswers) {
  EXPECT_TRUE(IsUserInAdministratorsGroup());
  EXPECT_EQ(IsUserInAdministratorsGroup(), CheckAdministratorsIndependently());
  Win32ProcessToken token;
  const auto groups = token.ReadGroups();
  ASSERT_TRUE(groups.has_value());
  EXPECT_FALSE(groups->empty());
}

TEST(WineFirewall, VersionAndPaths) {
  RecordingPlatform platform;
  OsVersionInfo info;
  ASSERT_TRUE(platform.GetVersionExA(&info));
  EXPECT_EQ(info.platformId, kVerPlatformWin32Nt);
  EXPECT_GE(info.majorVersion, 6u);  // the default prefix says Windows 7
  EXPECT_TRUE(IsFirewallCapableWindows(platform));
  EXPECT_TRUE(IsWindowsVistaOrLater(platform));

  WideString path;
  ASSERT_TRUE(GetServerProgramPath(platform, &path));
  EXPECT_TRUE(SameText(path, SystemDirectory() + u"\\Quorin Network Driver.exe"))
      << Narrow(path.c_str());
}

TEST(WineFirewall, ProductNameOfARealFile) {
  RecordingPlatform platform;
  WideString name;
  EXPECT_TRUE(GetServerProductName(platform, SystemDirectory() + u"\\kernel32.dll", &name));
  EXPECT_FALSE(name.empty());
  ASSERT_FALSE(platform.firstTranslation.empty());
  EXPECT_EQ(platform.log.back(),
            Line({"VerQueryValueW", Narrow(platform.firstTranslation.c_str()), "1"}));

  RecordingPlatform missing;
  EXPECT_FALSE(GetServerProductName(missing, SystemDirectory() + u"\\no such program.exe", &name));
  EXPECT_TRUE(name.empty());
  EXPECT_EQ(missing.log, std::vector<std::string>{"GetFileVersionInfoSizeW 0"});
}

TEST(WineFirewall, ServerProgramIsNotInstalledSoRegisterStopsBeforeCom) {
  EXPECT_FALSE(RegisterFirewallException());
  RecordingPlatform platform;
  Win32ProcessToken token;
  EXPECT_FALSE(RegisterFirewallException(platform, token));
  const std::vector<std::string> expected = {"GetVersionExA 1", "GetSystemFolderPath 0x00000000",
                                             "GetFileVersionInfoSizeW 0"};
  EXPECT_EQ(platform.log, expected);
}

TEST(WineFirewall, ElevationMonikerIsRefused) {
  EXPECT_FALSE(DisableFirewallException());
  RecordingPlatform platform;
  Win32ProcessToken token;
  EXPECT_FALSE(DisableFirewallException(platform, token));
  const std::vector<std::string> expected = {
      "GetVersionExA 1",
      "GetSystemFolderPath 0x00000000",
      "CoInitializeEx 6 0x00000000",
      "GetVersionExA 1",
      Line({"CoGetObject", kMoniker, "4", "0x800401EA"}),
      "CoUninitialize",
  };
  EXPECT_EQ(platform.log, expected);
  EXPECT_EQ(platform.liveStrings, 0);
}

TEST(WineFirewall, InProcessManagerRunsTheWholeChain) {
  for (bool registering : {true, false}) {
    RecordingPlatform platform;
    platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 1};
    platform.versionFile = SystemDirectory() + u"\\kernel32.dll";
    Win32ProcessToken token;
    const bool result = registering ? RegisterFirewallException(platform, token)
                                    : DisableFirewallException(platform, token);
    EXPECT_TRUE(result) << registering;
    EXPECT_EQ(platform.liveStrings, 0);
    std::vector<std::string> com;
    for (const std::string& line : platform.log) {
      if (line.rfind("Co", 0) == 0) com.push_back(line);
    }
    std::vector<std::string> expected = {"CoInitializeEx 6 0x00000000",
                                         Line({"CoCreateInstance", kManager, "1", "0x00000000"})};
    // Wine's Item finds every path and reports it disabled, so register adds anew.
    if (registering)
      expected.push_back(Line({"CoCreateInstance", kApplication, "1", "0x00000000"}));
    expected.push_back("CoUninitialize");
    EXPECT_EQ(com, expected) << registering;
  }
}

TEST(WineFirewall, ApartmentOfAnotherModeLeavesTheFirewallAlone) {
  std::vector<std::string> log;
  bool result = true;
  std::thread worker([&] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    RecordingPlatform platform;
    platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 1};
    platform.versionFile = SystemDirectory() + u"\\kernel32.dll";
    Win32ProcessToken token;
    result = RegisterFirewallException(platform, token);
    log = platform.log;
    ::CoUninitialize();
  });
  worker.join();
  EXPECT_FALSE(result);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "CoInitializeEx 6 0x80010106");
}

TEST(WineFirewall, ApartmentOfTheSameModeIsJoined) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  RecordingPlatform platform;
  platform.pretendVersion = OsVersionInfo{kVerPlatformWin32Nt, 5, 2};
  Win32ProcessToken token;
  EXPECT_TRUE(DisableFirewallException(platform, token));
  EXPECT_NE(std::find(platform.log.begin(), platform.log.end(), "CoInitializeEx 6 0x00000001"),
            platform.log.end());
  // Our own apartment outlives the call.
  EXPECT_EQ(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
  ::CoUninitialize();
  ::CoUninitialize();
}

}  // namespace
}  // namespace orvel
