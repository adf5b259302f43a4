// The device list given to an install: the public property SETUPFILE names a setup file
// as Orvelcfg exports it. The file is checked before anything changes, and orveld.ini
// then gets what Orvelcfg's "Save and Close" would write after importing it, through
// Orvelcfg's own store and its one-step replacement; a rollback puts the old file back.
// Every action that touches the settings folder holds it first, through the same hold
// as Orvelcfg's save.
#pragma once

#include <cstdint>
#include <optional>

#include "config/core/configure_app.h"
#include "config/core/file_access.h"
#include "config/core/settings_folder.h"
#include "config/core/text_codec.h"
#include "installer/platform.h"

namespace orvel::installer {

inline constexpr TextView kSetupFileProperty = u"SETUPFILE";
inline constexpr TextView kWriteSetupFileAction = u"WriteSetupFileSettings";
inline constexpr TextView kRollbackSetupFileAction = u"RollbackSetupFileSettings";
inline constexpr TextView kCommitSetupFileAction = u"CommitSetupFileSettings";
inline constexpr TextView kSettingsFolderProperty = u"SettingsFolder";
inline constexpr TextView kSettingsFile = u"orveld.ini";
// Next to orveld.ini while an install that writes it runs: the old file, or an empty
// mark that there was none.
inline constexpr TextView kSettingsBackup = u"orveld.ini.before-setup";
inline constexpr TextView kSettingsAbsentMark = u"orveld.ini.none-before-setup";
inline constexpr std::uint32_t kMessageBadSetupFile = 25010;
inline constexpr std::uint32_t kMessageSettingsNotWritten = 25011;
inline constexpr std::uint32_t kMessageSetupFileNeedsAdministrator = 25012;
// Set by the installer, with MSIUSEREALADMINDETECTION, only for an administrator or the
// system (the account of managed installs).
inline constexpr TextView kAdminUserProperty = u"AdminUser";
// Longest SETUPFILE value taken, in units: the longest extended-length path.
inline constexpr std::size_t kMaxSetupFilePath = 32767;

// What the actions reach beyond the installer's own calls: the setup file (its path
// given as UTF-8, opened with the wide functions), orveld.ini and its backup (paths in
// the settings' own 8-bit code page, as Orvelcfg uses them, never through a link), that
// code page, Orvelcfg's firewall step and the settings folder's hold.
struct SetupFileAccess {
  Platform& platform;
  FileAccess& setupFile;
  FileAccess& settings;
  const TextCodec& codec;
  FirewallUpdater& firewall;
  FolderGuardPlatform& folders;
};

// Immediate, before the install changes anything: reads and checks the file that
// SETUPFILE names, with the setup-file rules of Orvelcfg's import. A missing, unreadable
// or invalid file posts Error 25010 with its path and fails (1603); so does any file
// given by a user who is no administrator (Error 25012), since the actions that write it
// run as the system. A good one is passed, as read, to the three in-script actions
// through their "CustomActionData".
std::uint32_t CheckSetupFile(SetupFileAccess& access);
// Deferred, before the package makes the settings folder ("CustomActionData": its
// path): holds the folder as Orvelcfg's save does, taking back a parent and replacing a
// settings folder that a standard user could change, and makes what is missing. 1603
// and Error 25011 naming the folder when it cannot be made safe.
std::uint32_t ClearSettingsFolderLinks(SetupFileAccess& access);
// Deferred, after the settings folder is made: keeps the old orveld.ini (or marks that
// there was none), then writes the list. 1603 and Error 25011 when it cannot. Once it is
// written, the server's firewall exception follows the list as Orvelcfg's save makes it
// follow: registered for a list with units, switched off for an empty one.
std::uint32_t WriteSetupFileSettings(SetupFileAccess& access);
// Rollback: puts the kept file back, or removes the one written where there was none.
std::uint32_t RollbackSetupFileSettings(SetupFileAccess& access);
// Commit: the kept file is no longer needed.
std::uint32_t CommitSetupFileSettings(SetupFileAccess& access);

// The setup file that SETUPFILE names, as a full path: a path with a drive or a UNC root
// as it is; a name without one is taken beside the package (originalDatabase, the
// package's own path as the install was started), and one that starts with a backslash
// on the package's drive or share. Nothing when it cannot be placed or is too long.
std::optional<Text> SetupFilePath(TextView value, TextView originalDatabase);

// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf8Of(TextView text);

}  // namespace orvel::installer
