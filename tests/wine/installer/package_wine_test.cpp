// Installs and removes the real package with Wine's msiexec and checks the machine.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/wine/installer/machine.h"

namespace orvel::test {
namespace {

using namespace machine;

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

TEST(Library, ExportsTheTwelveActionsByName) {
  HMODULE library = LoadLibraryW(HostPath(ORVEL_DLL_PATH).c_str());
  ASSERT_NE(library, nullptr);
  for (const char* name :
       {"InstallKernelDriver", "Uninstall", "CleanupInstall", "SetDeviceInfo", "DelDeviceInfo",
        "RegSetMIDIDeviceNum", "RegDelMIDIDeviceNum", "setSystemComponent", "ProcessKill",
        "GetOSVersion", "IsAdmin", "delSystem32DllFile"}) {
    EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
  }
  FreeLibrary(library);
}

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fresh Wine prefix has the native Drivers32 key but not its 32-bit view; every
    // 64-bit Windows has both. The guard takes it away again if it was made here.
    HKEY wow = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDrivers32, 0, nullptr, 0,
                              KEY_READ | KEY_WOW64_32KEY, nullptr, &wow, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(wow);
  }

  const std::wstring msi_ = Quoted(HostPath(ORVEL_MSI_PATH));
  KeyGuard wowDrivers32_{kDrivers32, KEY_WOW64_32KEY};
};

TEST_F(PackageTest, InstallsAndRemovesCleanly) {
  const int nodesBefore = RootNodes();

  ASSERT_EQ(RunMsiexec(L"/i " + msi_ + L" /qn"), 0u);
  EXPECT_EQ(ReadSz(kDrivers32, L"midi", KEY_WOW64_64KEY), L"Orveldrv.dll");
  EXPECT_EQ(ReadSz(kDrivers32, L"midi", KEY_WOW64_32KEY), L"Orveldrv.dll");
  EXPECT_EQ(RootNodes(), nodesBefore + 1);
  EXPECT_TRUE(ReadSz(kInstallerKey, L"OemInfFileName0000", KEY_WOW64_64KEY).has_value());
  EXPECT_TRUE(FileExists(DriverFilePath(L"vorvel_w8_1_64.sys")));
  EXPECT_TRUE(FileExists(DriverFilePath(L"vorvel_w10_64.sys")));

  ASSERT_EQ(RunMsiexec(L"/x " + msi_ + L" /qn"), 0u);
  EXPECT_EQ(ReadSz(kDrivers32, L"midi", KEY_WOW64_64KEY), std::nullopt);
  EXPECT_EQ(ReadSz(kDrivers32, L"midi", KEY_WOW64_32KEY), std::nullopt);
  EXPECT_EQ(ReadSz(kInstallerKey, L"OemInfFileName0000", KEY_WOW64_64KEY), std::nullopt);
  EXPECT_FALSE(FileExists(DriverFilePath(L"vorvel_w8_1_64.sys")));
  EXPECT_FALSE(FileExists(DriverFilePath(L"vorvel_w10_64.sys")));
  // Wine's SetupDiSetClassInstallParamsW refuses DIF_REMOVE parameters, so DelDeviceInfo
  // skips the node there; the removal itself is covered over the doubles.
  const int nodesAfter = RootNodes();
  EXPECT_TRUE(nodesAfter == nodesBefore || nodesAfter == nodesBefore + 1) << nodesAfter;
  RecordProperty("root_nodes_left_by_wine", nodesAfter - nodesBefore);
}

}  // namespace
}  // namespace orvel::test
