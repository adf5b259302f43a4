// What the built package really holds, read through msi.dll: its custom actions, the
// order it runs them in, and its Error table. The source is not trusted for this: wixl
// has been seen to place and type actions otherwise than written.
#include <windows.h>
// after windows.h
#include <msi.h>
#include <msidefs.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "config/core/settings_folder.h"
#include "tests/wine/installer/machine.h"

namespace orvel::test {
namespace {

using machine::HostPath;

struct Handle {
  MSIHANDLE value = 0;
  Handle() = default;
  explicit Handle(MSIHANDLE h) : value(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (value) MsiCloseHandle(value);
  }
};

std::wstring Field(MSIHANDLE record, UINT field) {
  wchar_t text[1024] = {};
  DWORD length = 1024;
  if (MsiRecordGetStringW(record, field, text, &length) != ERROR_SUCCESS) return L"<failed>";
  return text;
}

// Every row of a query, as the text of each field (integers as their decimal text).
std::vector<std::vector<std::wstring>> Rows(MSIHANDLE database, const wchar_t* query) {
  std::vector<std::vector<std::wstring>> rows;
  Handle view;
  if (MsiDatabaseOpenViewW(database, query, &view.value) != ERROR_SUCCESS ||
      MsiViewExecute(view.value, 0) != ERROR_SUCCESS) {
    return rows;
  }
  for (;;) {
    Handle record;
    if (MsiViewFetch(view.value, &record.value) != ERROR_SUCCESS) break;
    std::vector<std::wstring> row;
    const UINT fields = MsiRecordGetFieldCount(record.value);
    for (UINT f = 1; f <= fields; ++f) row.push_back(Field(record.value, f));
    rows.push_back(std::move(row));
  }
  return rows;
}

struct CustomAction {
  int type = -1;
  std::wstring source, target;
};

struct Step {
  int sequence = -1;
  std::wstring condition;
};

class PackageTables : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(
        MsiOpenDatabaseW(HostPath(ORVEL_MSI_PATH).c_str(), MSIDBOPEN_READONLY, &database_.value),
        static_cast<UINT>(ERROR_SUCCESS));
    for (const auto& row : Rows(
             database_.value, L"SELECT `Action`, `Type`, `Source`, `Target` FROM `CustomAction`")) {
      ASSERT_EQ(row.size(), 4u);
      actions_[row[0]] = {std::stoi(row[1]), row[2], row[3]};
    }
    for (const auto& row : Rows(database_.value,
                                L"SELECT `Action`, `Condition`, `Sequence` FROM "
                                L"`InstallExecuteSequence`")) {
      ASSERT_EQ(row.size(), 3u);
      sequence_[row[0]] = {std::stoi(row[2]), row[1]};
    }
    ASSERT_FALSE(actions_.empty());
    ASSERT_FALSE(sequence_.empty());
  }
  int At(const wchar_t* action) const {
    const auto found = sequence_.find(action);
    return found == sequence_.end() ? -1 : found->second.sequence;
  }

  Handle database_;
  std::map<std::wstring, CustomAction> actions_;
  std::map<std::wstring, Step> sequence_;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

constexpr int kBaseTypeMask = 0x3F;
constexpr int kDllFromBinary = msidbCustomActionTypeDll | msidbCustomActionTypeBinaryData;
constexpr int kDeferredElevated =
    msidbCustomActionTypeInScript | msidbCustomActionTypeNoImpersonate;
constexpr int kSchedulingMask =
    kDeferredElevated | msidbCustomActionTypeRollback | msidbCustomActionTypeCommit;

TEST_F(PackageTables, EveryActionCallsItsExportWithTheRightSchedulingAndReturnCheck) {
  struct Expected {
    const wchar_t* action;
    bool deferred;  // deferred and not impersonated; otherwise immediate
    bool checked;   // a failure of the action fails the install
  };
  const Expected expected[] = {
      {L"IsAdmin", false, true},
      {L"GetOSVersion", false, true},
      {L"ProcessKill", true, false},
      {L"InstallKernelDriver", true, true},
      {L"SetDeviceInfo", true, false},
      {L"RegSetMIDIDeviceNum", true, true},
      {L"setSystemComponent", true, false},
      {L"DelDeviceInfo", true, false},
      {L"Uninstall", true, false},
      {L"RegDelMIDIDeviceNum", true, false},
      {L"delSystem32DllFile", true, false},
      {L"ClearSettingsFolderLinks", true, true},
      {L"CheckSetupFile", false, true},
      {L"WriteSetupFileSettings", true, true},
      {L"CleanupInstall", false, false},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(Narrow(e.action));
    const auto found = actions_.find(e.action);
    ASSERT_NE(found, actions_.end());
    const CustomAction& a = found->second;
    EXPECT_EQ(a.type & kBaseTypeMask, kDllFromBinary);
    EXPECT_EQ(a.source, L"CustomActions");
    EXPECT_EQ(a.target, e.action);  // the export of the same name
    if (e.deferred) {
      EXPECT_EQ(a.type & kSchedulingMask, kDeferredElevated) << a.type;
    } else {
      // The no-impersonate bit means nothing outside the script (wixl sets it anyway).
      EXPECT_EQ(a.type & (kSchedulingMask & ~msidbCustomActionTypeNoImpersonate), 0) << a.type;
    }
    EXPECT_EQ((a.type & msidbCustomActionTypeContinue) == 0, e.checked) << a.type;
    EXPECT_GT(At(e.action), 0) << "not in the execute sequence";
  }
  // The library in the Binary table under the name the actions use.
  EXPECT_EQ(
      Rows(database_.value, L"SELECT `Name` FROM `Binary` WHERE `Name` = 'CustomActions'").size(),
      1u);
}

TEST_F(PackageTables, AFailedFirstInstallRollsBackSlotNodeAndDriverInThatOrder) {
  struct Expected {
    const wchar_t* action;
    const wchar_t* export_;
    const wchar_t* before;  // the step whose changes it takes back
  };
  const Expected expected[] = {
      {L"RollbackDriver", L"Uninstall", L"SetDeviceInfo"},
      {L"RollbackRootNode", L"DelDeviceInfo", L"SetDeviceInfo"},
      {L"RollbackMidiSlot", L"RegDelMIDIDeviceNum", L"RegSetMIDIDeviceNum"},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(Narrow(e.action));
    const auto found = actions_.find(e.action);
    ASSERT_NE(found, actions_.end());
    // wixl writes rollback actions as immediate ones; the build must have set the bits.
    EXPECT_EQ(found->second.type & kSchedulingMask,
              kDeferredElevated | msidbCustomActionTypeRollback)
        << found->second.type;
    EXPECT_EQ(found->second.type & kBaseTypeMask, kDllFromBinary);
    EXPECT_NE(found->second.type & msidbCustomActionTypeContinue, 0);
    EXPECT_EQ(found->second.target, e.export_);
    EXPECT_LT(At(e.action), At(e.before));
    EXPECT_GT(At(e.action), At(L"InstallInitialize"));
    EXPECT_EQ(sequence_[e.action].condition, L"NOT Installed");
  }
  // Rollback runs in reverse: the node goes before the driver package it uses.
  EXPECT_LT(At(L"RollbackDriver"), At(L"RollbackRootNode"));
}

TEST_F(PackageTables, InstallKernelDriverGetsTheInfPathFromAPropertySetJustBefore) {
  const auto found = actions_.find(L"SetInstallKernelDriver");
  ASSERT_NE(found, actions_.end());
  // Type 51: a property set from formatted text, here the deferred action's data.
  EXPECT_EQ(found->second.type & kBaseTypeMask,
            msidbCustomActionTypeTextData | msidbCustomActionTypeProperty);
  EXPECT_EQ(found->second.source, L"InstallKernelDriver");
  EXPECT_EQ(found->second.target, L"[DriverFolder]Orveldrv.inf");
  ASSERT_GT(At(L"SetInstallKernelDriver"), 0);
  EXPECT_LT(At(L"SetInstallKernelDriver"), At(L"InstallKernelDriver"));
  EXPECT_EQ(sequence_[L"SetInstallKernelDriver"].condition,
            sequence_[L"InstallKernelDriver"].condition);
}

TEST_F(PackageTables, TheOrderChecksFirstChangesInsideTheScriptAndSchedulesTheRebootLast) {
  const int initialize = At(L"InstallInitialize");
  const int finalize = At(L"InstallFinalize");
  const int installFiles = At(L"InstallFiles");
  const int removeFiles = At(L"RemoveFiles");
  ASSERT_GT(initialize, 0);
  ASSERT_GT(finalize, initialize);
  ASSERT_GT(installFiles, 0);
  ASSERT_GT(removeFiles, 0);

  // Refusals and the build property come before anything is changed.
  EXPECT_LT(At(L"IsAdmin"), initialize);
  EXPECT_LT(At(L"GetOSVersion"), initialize);
  // The script's actions run inside it.
  for (const wchar_t* action : {L"ProcessKill", L"InstallKernelDriver", L"SetDeviceInfo",
                                L"RegSetMIDIDeviceNum", L"setSystemComponent", L"DelDeviceInfo",
                                L"Uninstall", L"RegDelMIDIDeviceNum", L"delSystem32DllFile"}) {
    SCOPED_TRACE(Narrow(action));
    EXPECT_GT(At(action), initialize);
    EXPECT_LT(At(action), finalize);
  }
  // The server lets go of the driver before any file is replaced or removed.
  EXPECT_LT(At(L"ProcessKill"), removeFiles);
  EXPECT_LT(At(L"ProcessKill"), installFiles);
  // Removal: devices first, then the driver package, all while the files are still there.
  EXPECT_LT(At(L"DelDeviceInfo"), At(L"Uninstall"));
  EXPECT_LT(At(L"Uninstall"), removeFiles);
  EXPECT_LT(At(L"RegDelMIDIDeviceNum"), removeFiles);
  // Installation: the INF and driver files are in place before they are staged. The root
  // node comes first, since it clears the restart request that the driver package may
  // then make.
  EXPECT_GT(At(L"SetDeviceInfo"), installFiles);
  EXPECT_LT(At(L"SetDeviceInfo"), At(L"InstallKernelDriver"));
  EXPECT_GT(At(L"RegSetMIDIDeviceNum"), installFiles);
  // The entries it hides exist only once the product has registered itself.
  EXPECT_GT(At(L"setSystemComponent"), At(L"RegisterProduct"));
  // The reboot request is read after the script has run.
  EXPECT_GT(At(L"CleanupInstall"), finalize);

  for (const wchar_t* action :
       {L"DelDeviceInfo", L"Uninstall", L"RegDelMIDIDeviceNum", L"delSystem32DllFile"}) {
    EXPECT_EQ(sequence_[action].condition, L"REMOVE=\"ALL\"") << Narrow(action);
  }
  for (const wchar_t* action : {L"SetInstallKernelDriver", L"InstallKernelDriver", L"SetDeviceInfo",
                                L"RegSetMIDIDeviceNum", L"setSystemComponent"}) {
    EXPECT_EQ(sequence_[action].condition, L"NOT REMOVE=\"ALL\"") << Narrow(action);
  }
}

TEST_F(PackageTables, ProgramsGoToTheirSystemFolders) {
  std::map<std::wstring, std::wstring> folderOf;  // file name -> directory id
  for (const auto& row : Rows(database_.value,
                              L"SELECT `File`.`FileName`, `Component`.`Directory_` FROM "
                              L"`File`, `Component` WHERE "
                              L"`File`.`Component_` = `Component`.`Component`")) {
    folderOf[row[0]] = row[1];
  }
  EXPECT_EQ(folderOf[L"Orvelcfg.exe"], L"SystemFolder");
  EXPECT_EQ(folderOf[L"Orvelcpl.cpl"], L"System64Folder");
  // A private folder property, so that no command line moves the INF away from where the
  // root-node action looks for it.
  EXPECT_EQ(folderOf[L"Orveldrv.inf"], L"DriverFolder");
  // The vendor folder, which no component owns, is removed with the driver package.
  EXPECT_EQ(Rows(database_.value,
                 L"SELECT `FileKey` FROM `RemoveFile` WHERE `DirProperty` = 'VantorFolder' AND "
                 L"`Component_` = 'DriverPackage' AND `InstallMode` = 2")
                .size(),
            1u);
}

TEST_F(PackageTables, TheSettingsFolderIsMadeLockedDownAndKeptByThePackage) {
  // VANTOR\ORVELDRIVER under the common application data folder, made by CreateFolders.
  std::map<std::wstring, std::pair<std::wstring, std::wstring>> directories;  // parent, name
  for (const auto& row : Rows(database_.value,
                              L"SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM "
                              L"`Directory`")) {
    directories[row[0]] = {row[1], row[2]};
  }
  ASSERT_TRUE(directories.count(L"SettingsFolder"));
  const auto& [vendor, name] = directories[L"SettingsFolder"];
  EXPECT_EQ(name, L"ORVELDRIVER");
  EXPECT_EQ(directories[vendor].second, L"VANTOR");
  EXPECT_EQ(directories[vendor].first, L"CommonAppDataFolder");
  // Made for a component that is permanent: removing the product keeps the folder and the
  // settings in it. (The install test shows that a feature installs it.)
  const auto made = Rows(database_.value,
                         L"SELECT `Component`.`Attributes`, `Component`.`Condition` FROM "
                         L"`CreateFolder`, `Component` WHERE `CreateFolder`.`Component_` = "
                         L"`Component`.`Component` AND `CreateFolder`.`Directory_` = "
                         L"'SettingsFolder'");
  ASSERT_EQ(made.size(), 1u);
  EXPECT_NE(std::stoi(made[0][0]) & msidbComponentAttributesPermanent, 0);
  EXPECT_EQ(made[0][1], L"");

  // Locked down whatever the parent allows: owner Administrators (whoever made a folder
  // that was there before), SYSTEM and Administrators full control, Users read and
  // execute, protected from inheritance; one row, with no condition.
  const auto lock = Rows(database_.value,
                         L"SELECT `LockObject`, `Table`, `SDDLText`, `Condition` FROM "
                         L"`MsiLockPermissionsEx`");
  const std::vector<std::vector<std::wstring>> expected = {
      {L"SettingsFolder", L"CreateFolder",
       L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", L""}};
  EXPECT_EQ(lock, expected);
  EXPECT_EQ(lock[0][2], std::wstring(kSettingsFolderSddl,
                                     kSettingsFolderSddl + sizeof kSettingsFolderSddl - 1));
  // Windows Installer 5 fails a package that has both tables.
  MSICONDITION legacy = MsiDatabaseIsTablePersistentW(database_.value, L"LockPermissions");
  EXPECT_NE(legacy, MSICONDITION_TRUE);
  // ... and reads the new one only from a package that asks for version 5.
  Handle summary;
  ASSERT_EQ(MsiGetSummaryInformationW(database_.value, nullptr, 0, &summary.value),
            static_cast<UINT>(ERROR_SUCCESS));
  INT schema = 0;
  UINT type = 0;
  ASSERT_EQ(MsiSummaryInfoGetPropertyW(summary.value, PID_PAGECOUNT, &type, &schema, nullptr,
                                       nullptr, nullptr),
            static_cast<UINT>(ERROR_SUCCESS));
  EXPECT_GE(schema, 500);
  // Made inside the script, before any file goes in, so that a later action can write the
  // settings into it.
  EXPECT_GT(At(L"CreateFolders"), At(L"InstallInitialize"));
  EXPECT_LT(At(L"CreateFolders"), At(L"InstallFiles"));
  EXPECT_EQ(sequence_[L"CreateFolders"].condition, L"");
  // The folder is held and made safe first (a link at its or its parent's name, a user's
  // folder), told the folder's path by a property set just before.
  const auto setter = actions_.find(L"SetClearSettingsFolderLinks");
  ASSERT_NE(setter, actions_.end());
  EXPECT_EQ(setter->second.type & kBaseTypeMask,
            msidbCustomActionTypeTextData | msidbCustomActionTypeProperty);
  EXPECT_EQ(setter->second.source, L"ClearSettingsFolderLinks");
  EXPECT_EQ(setter->second.target, L"[SettingsFolder]");
  EXPECT_GT(At(L"ClearSettingsFolderLinks"), At(L"InstallInitialize"));
  EXPECT_LT(At(L"SetClearSettingsFolderLinks"), At(L"ClearSettingsFolderLinks"));
  EXPECT_LT(At(L"ClearSettingsFolderLinks"), At(L"CreateFolders"));
  for (const wchar_t* action : {L"SetClearSettingsFolderLinks", L"ClearSettingsFolderLinks"}) {
    EXPECT_EQ(sequence_[action].condition, L"NOT REMOVE=\"ALL\"") << Narrow(action);
  }
}

TEST_F(PackageTables, ASetupFileIsCheckedBeforeAnyChangeAndWrittenIntoTheMadeFolder) {
  // Install, repair and upgrade take the property; a removal never does. The check
  // refuses a user who is no administrator; the in-script actions run only for one, as
  // the installer tells one with real detection.
  const auto detection = Rows(database_.value,
                              L"SELECT `Value` FROM `Property` WHERE `Property` = "
                              L"'MSIUSEREALADMINDETECTION'");
  ASSERT_EQ(detection.size(), 1u);
  EXPECT_EQ(detection[0][0], L"1");
  for (const wchar_t* action : {L"CheckSetupFile", L"RollbackSetupFileSettings",
                                L"WriteSetupFileSettings", L"CommitSetupFileSettings"}) {
    SCOPED_TRACE(Narrow(action));
    ASSERT_GT(At(action), 0);
    EXPECT_EQ(sequence_[action].condition,
              std::wstring(action) == L"CheckSetupFile"
                  ? L"SETUPFILE AND NOT REMOVE~=\"ALL\""
                  : L"SETUPFILE AND AdminUser AND NOT REMOVE~=\"ALL\"");
    EXPECT_EQ(actions_[action].target, action);
    EXPECT_EQ(actions_[action].type & kBaseTypeMask, kDllFromBinary);
  }
  // Checked after the folders are resolved, before the script changes anything.
  EXPECT_GT(At(L"CheckSetupFile"), At(L"CostFinalize"));
  EXPECT_LT(At(L"CheckSetupFile"), At(L"InstallValidate"));
  // Written once the folder is made, with its rollback scheduled before it and the kept
  // file dropped only when the whole install has succeeded.
  EXPECT_GT(At(L"RollbackSetupFileSettings"), At(L"CreateFolders"));
  EXPECT_LT(At(L"RollbackSetupFileSettings"), At(L"WriteSetupFileSettings"));
  EXPECT_LT(At(L"WriteSetupFileSettings"), At(L"InstallFinalize"));
  EXPECT_LT(At(L"CommitSetupFileSettings"), At(L"InstallFinalize"));
  // wixl writes rollback and commit actions as immediate ones; the build sets the bits.
  EXPECT_EQ(actions_[L"RollbackSetupFileSettings"].type & kSchedulingMask,
            kDeferredElevated | msidbCustomActionTypeRollback);
  EXPECT_EQ(actions_[L"CommitSetupFileSettings"].type & kSchedulingMask,
            kDeferredElevated | msidbCustomActionTypeCommit);
  EXPECT_NE(actions_[L"RollbackSetupFileSettings"].type & msidbCustomActionTypeContinue, 0);
  EXPECT_NE(actions_[L"CommitSetupFileSettings"].type & msidbCustomActionTypeContinue, 0);
  // A managed install passes both public properties to the install's server side.
  const auto secure = Rows(database_.value,
                           L"SELECT `Value` FROM `Property` WHERE `Property` = "
                           L"'SecureCustomProperties'");
  ASSERT_EQ(secure.size(), 1u);
  std::vector<std::wstring> names;
  for (std::wstring rest = secure[0][0] + L";"; !rest.empty();) {
    names.push_back(rest.substr(0, rest.find(L';')));
    rest.erase(0, rest.find(L';') + 1);
  }
  for (const wchar_t* name : {L"SETUPFILE", L"LAUNCHEDBYINTEGRATOR"}) {
    EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << Narrow(name);
  }
}

TEST_F(PackageTables, ANewerVersionReplacesThisOneAndAnOlderOneIsRefused) {
  // Upgrade rows of one upgrade code: versions up to this one (inclusive, so a rebuild of
  // the same version also replaces it) are removed; a newer one only detected.
  const auto upgrade = Rows(database_.value,
                            L"SELECT `VersionMin`, `VersionMax`, `Attributes`, `ActionProperty` "
                            L"FROM `Upgrade`");
  const auto version =
      Rows(database_.value, L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductVersion'");
  ASSERT_EQ(version.size(), 1u);
  const std::vector<std::vector<std::wstring>> expected = {
      {L"", version[0][0], L"513", L"WIX_UPGRADE_DETECTED"},
      {version[0][0], L"", L"2", L"WIX_DOWNGRADE_DETECTED"}};
  EXPECT_EQ(upgrade.size(), 2u);
  for (const auto& row : expected) {
    EXPECT_NE(std::find(upgrade.begin(), upgrade.end(), row), upgrade.end()) << Narrow(row[3]);
  }
  // The older product goes before this one changes anything.
  EXPECT_GT(At(L"RemoveExistingProducts"), At(L"InstallValidate"));
  EXPECT_LT(At(L"RemoveExistingProducts"), At(L"InstallInitialize"));
  EXPECT_LT(At(L"FindRelatedProducts"), At(L"LaunchConditions"));
  const auto refusal = Rows(database_.value,
                            L"SELECT `Description` FROM `LaunchCondition` WHERE `Condition` = "
                            L"'NOT WIX_DOWNGRADE_DETECTED'");
  ASSERT_EQ(refusal.size(), 1u);
  EXPECT_EQ(refusal[0][0].rfind(L"A newer version of [ProductName] is already installed.", 0), 0u);
  // REINSTALL given to a build that is not installed would install nothing while the
  // upgrade removed the installed one: refused before RemoveExistingProducts.
  const auto notInstalled = Rows(database_.value,
                                 L"SELECT `Description` FROM `LaunchCondition` WHERE "
                                 L"`Condition` = 'Installed OR NOT REINSTALL'");
  ASSERT_EQ(notInstalled.size(), 1u);
  EXPECT_NE(notInstalled[0][0].find(L"msiexec /fvomus"), std::wstring::npos);
  EXPECT_LT(At(L"LaunchConditions"), At(L"RemoveExistingProducts"));
}

TEST_F(PackageTables, ErrorTableHoldsTheLibrarysMessages) {
  std::map<int, std::wstring> messages;
  for (const auto& row : Rows(database_.value, L"SELECT `Error`, `Message` FROM `Error`")) {
    messages[std::stoi(row[0])] = row[1];
  }
  for (int number : {25003, 25004, 25005, 25008, 25010, 25011, 25012}) {
    ASSERT_TRUE(messages.count(number)) << number;
    EXPECT_GT(messages[number].size(), 20u) << number;
  }
  // The two about the setup file name the file (field 2 of the record).
  EXPECT_NE(messages[25010].find(L"[2]"), std::wstring::npos);
  EXPECT_NE(messages[25011].find(L"[2]"), std::wstring::npos);
}

}  // namespace
}  // namespace orvel::test
