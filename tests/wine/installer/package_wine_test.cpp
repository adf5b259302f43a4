// Installs and removes the real package with Wine's msiexec and checks the machine.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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
  FolderKept systemX86_{SystemX86Folder()};
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
  // The configuration program where the applet starts it from, the applet with the
  // 64-bit Control Panel's own.
  const std::wstring program = SystemX86Folder() + L"\\Orvelcfg.exe";
  const std::wstring applet = SystemFolder() + L"\\Orvelcpl.cpl";
  EXPECT_TRUE(FileExists(program));
  EXPECT_TRUE(FileExists(applet));
  EXPECT_FALSE(FileExists(SystemFolder() + L"\\Orvelcfg.exe"));
  EXPECT_FALSE(FileExists(SystemX86Folder() + L"\\Orvelcpl.cpl"));

  ASSERT_EQ(RunMsiexec(L"/x " + msi_ + L" /qn"), 0u);
  EXPECT_FALSE(FileExists(program));
  EXPECT_FALSE(FileExists(applet));
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

// The driver-store copies of INF files (oemNN.inf) of this prefix.
std::vector<std::wstring> OemInfs() {
  wchar_t windows[MAX_PATH] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW((std::wstring(windows) + L"\\inf\\oem*.inf").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// A verbose log holds the text in whichever width the installer writes it.
bool LogMentions(const std::wstring& logPath, const std::string& text) {
  std::ifstream file(logPath.c_str(), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string wide;
  for (char c : text) wide += std::string{c, '\0'};
  return bytes.find(text) != std::string::npos || bytes.find(wide) != std::string::npos;
}

TEST_F(PackageTest, NewerInstalledDriverRefusesWith25008AndStagesNothing) {
  const std::wstring installed = DriverFilePath(L"vorvel_w10_64.sys");
  ASSERT_FALSE(FileExists(installed)) << "a driver file from elsewhere is in the way";
  ASSERT_TRUE(CopyFileW(HostPath(ORVEL_NEWER_DRIVER).c_str(), installed.c_str(), TRUE));
  ASSERT_EQ(FileVersion(installed), 0x0001000000000007ull);
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring log = std::wstring(temp) + L"orvel-refusal-install.log";
  DeleteFileW(log.c_str());
  const std::vector<std::wstring> storeBefore = OemInfs();

  // The refusal is a message, not a failure: the install itself goes on.
  EXPECT_EQ(RunMsiexec(L"/i " + msi_ + L" /qn /l*v " + Quoted(log)), 0u);
  EXPECT_TRUE(LogMentions(log, "25008") ||
              LogMentions(log, "A newer version of the Quorin Network Driver is already installed"))
      << "no 25008 in the install log";
  EXPECT_EQ(FileVersion(installed), 0x0001000000000007ull);
  EXPECT_FALSE(FileExists(DriverFilePath(L"vorvel_w8_1_64.sys")));
  EXPECT_EQ(OemInfs(), storeBefore);
  for (const std::wstring& name : ValueNames(kInstallerKey, KEY_WOW64_64KEY)) {
    EXPECT_NE(name.rfind(L"OemInfFileName", 0), 0u) << "recorded: " << name;
  }

  EXPECT_EQ(RunMsiexec(L"/x " + msi_ + L" /qn"), 0u);
  EXPECT_EQ(ReadSz(kDrivers32, L"midi", KEY_WOW64_64KEY), std::nullopt);
  SetFileAttributesW(installed.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(installed.c_str());
  DeleteFileW(log.c_str());
}

}  // namespace
}  // namespace orvel::test
