// Replacing the settings file over the real file system: what the old file had stays,
// a brief hold is waited out, and no replacement file is ever left behind.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "config/core/win32_file_access.h"
#include "config/core/win32_settings_folder.h"
#include "tests/wine/support/process_util.h"
#include "tests/wine/support/todo_wine.h"

namespace orvel {
namespace {

using test::TempFolder;

std::string Read(const std::string& path) {
  std::string bytes;
  Win32FileAccess files;
  return files.ReadWholeFile(path, bytes) == FileReadStatus::kOk ? bytes : "<unreadable>";
}

void Write(const std::string& path, const std::string& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

// The file's access list in SDDL form, or "" when the platform shows none.
std::string Dacl(const std::string& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "";
  }
  char* text = nullptr;
  std::string result;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    result = text;
    LocalFree(text);
  }
  LocalFree(descriptor);
  return result;
}

bool SetDacl(const std::string& path, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  const BOOL ok = SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, descriptor);
  LocalFree(descriptor);
  return ok != FALSE;
}

// Made by an elevated program, never by a standard user. Wine shows every file as
// the user's.
bool OwnedBySystemOrAdministrators(const std::string& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool trusted = owner != nullptr && (IsWellKnownSid(owner, WinLocalSystemSid) ||
                                            IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
  LocalFree(descriptor);
  return trusted;
}

// The list a file made in the folder gets from it.
std::string FreshDacl(const TempFolder& folder) {
  const std::string fresh = folder.File("fresh.tmp");
  Write(fresh, "");
  const std::string dacl = Dacl(fresh);
  DeleteFileA(fresh.c_str());
  return dacl;
}

TEST(FileAccessOnWindows, ReplacementKeepsWhatTheOldFileHad) {
  struct Case {
    const char* what;
    DWORD attributes;
    const char* dacl;  // nullptr: as the folder gives it
  };
  const Case cases[] = {
      {"plain", FILE_ATTRIBUTE_ARCHIVE, nullptr},
      {"hidden", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE, nullptr},
      {"hidden system", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, nullptr},
      // An integrator's own list: administrators and the system may change the file,
      // users may only read it.
      {"own access list", FILE_ATTRIBUTE_ARCHIVE, "D:P(A;;FA;;;BA)(A;;FA;;;SY)(A;;FR;;;BU)"},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    const std::string path = folder.File("orveld.ini");
    Write(path, "[A]\r\nk=1\r\n");
    bool ownListShown = false;
    if (c.dacl) {
      ASSERT_TRUE(SetDacl(path, c.dacl)) << c.what;
      // Wine accepts the list but shows one made from the Unix mode bits, so only
      // Windows can show ours surviving the replacement.
      ownListShown = Dacl(path).find("(A;;FR;;;BU)") != std::string::npos;
      TODO_WINE_EXPECT_TRUE(ownListShown);
    }
    // Only the system's or the administrators' list is carried; a list on a file a
    // user made is theirs to choose, and the new file takes the folder's instead.
    const bool carried = OwnedBySystemOrAdministrators(path);
    if (c.dacl) TODO_WINE_EXPECT_TRUE(carried);
    const std::string daclBefore = carried ? Dacl(path) : FreshDacl(folder);
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), c.attributes)) << c.what;
    // Wine shows every file as ARCHIVE whatever was set, so compare with what it shows.
    const DWORD attributesBefore = GetFileAttributesA(path.c_str());
    EXPECT_EQ(attributesBefore & ~FILE_ATTRIBUTE_ARCHIVE, c.attributes & ~FILE_ATTRIBUTE_ARCHIVE);
    Win32FileAccess files;
    ASSERT_TRUE(files.ReplaceWholeFile(path, "[A]\r\nk=2\r\n")) << c.what;
    EXPECT_EQ(Read(path), "[A]\r\nk=2\r\n") << c.what;
    EXPECT_EQ(GetFileAttributesA(path.c_str()), attributesBefore) << c.what;
    EXPECT_EQ(Dacl(path), daclBefore) << c.what << ": " << daclBefore;
    if (ownListShown && carried) {
      EXPECT_NE(Dacl(path).find("(A;;FR;;;BU)"), std::string::npos) << c.what;
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"orveld.ini"}) << c.what;
  }
}

TEST(FileAccessOnWindows, HoldersAndLeftoversOfOtherSaves) {
  struct Case {
    const char* what;
    DWORD holdMs;  // another process's handle without delete sharing; 0: none
    bool replaced;
  };
  const Case cases[] = {
      {"not held", 0, true},
      {"held for a moment", 300, true},
      {"held throughout", 5000, false},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    const std::string path = folder.File("orveld.ini");
    Write(path, "old");
    // Left by a save that was killed, and a file of somebody else's.
    Write(folder.File("orveld.ini.saving"), "half");
    Write(folder.File("orvnotes.tmp"), "keep");
    SetFileAttributesA(folder.File("orveld.ini.saving").c_str(), FILE_ATTRIBUTE_HIDDEN);
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (c.holdMs != 0) {
      holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
      ASSERT_NE(holder, INVALID_HANDLE_VALUE) << c.what;
    }
    std::thread release([&] {
      if (holder == INVALID_HANDLE_VALUE) return;
      Sleep(c.holdMs);
      CloseHandle(holder);
    });
    // Only a leftover that an elevated save made is cleared; one a user may have put
    // there stays.
    const bool ours = OwnedBySystemOrAdministrators(folder.File("orveld.ini.saving"));
    TODO_WINE_EXPECT_TRUE(ours);
    Win32FileAccess files;
    const bool replaced = files.ReplaceWholeFile(path, "new");
    release.join();
    EXPECT_EQ(replaced, c.replaced) << c.what;
    EXPECT_EQ(Read(path), c.replaced ? "new" : "old") << c.what;
    std::vector<std::string> left = {"orveld.ini", "orvnotes.tmp"};
    if (!ours) left.insert(left.begin() + 1, "orveld.ini.saving");
    EXPECT_EQ(folder.Names(), left) << c.what;
  }
}

std::uint64_t counted = 0;
std::uint64_t Counting() { return ++counted; }

// Whatever a user plants under the names a replacement may try, in a folder they may
// write to, neither stops it nor is touched by it: a folder, a file, a link to a file
// elsewhere (which must not receive the bytes).
TEST(FileAccessOnWindows, NothingPlantedUnderItsNamesStopsAReplacement) {
  enum class Planted { kFolder, kFile, kLink };
  const struct {
    const char* what;
    Planted planted;
  } cases[] = {{"folders", Planted::kFolder}, {"files", Planted::kFile}, {"links", Planted::kLink}};
  for (const auto& c : cases) {
    TempFolder folder;
    TempFolder elsewhere;
    const std::string path = folder.File("orveld.ini");
    const std::string victim = elsewhere.File("victim.txt");
    Write(path, "old");
    Write(victim, "victim");
    // Every name but the last the replacement may try, and the one older versions used.
    std::vector<std::string> names = {path + ".saving"};
    for (std::uint64_t n = 1; n < Win32FileAccess::kTemporaryAttempts; ++n) {
      names.push_back(Win32FileAccess::TemporaryName(path, n));
    }
    bool planted = true;
    for (const std::string& name : names) {
      switch (c.planted) {
        case Planted::kFolder:
          planted = CreateDirectoryA(name.c_str(), nullptr) && planted;
          break;
        case Planted::kFile:
          Write(name, "planted");
          break;
        case Planted::kLink:
          planted = CreateSymbolicLinkA(name.c_str(), victim.c_str(), 0) && planted;
          break;
      }
    }
    // Windows makes symbolic links for an administrator (Wine for anyone).
    ASSERT_TRUE(planted) << c.what;
    // A plain file that an elevated save could have left is cleared as a leftover.
    const bool leftover = c.planted == Planted::kFile && OwnedBySystemOrAdministrators(names[1]);

    counted = 0;
    Win32FileAccess files(&Counting);
    ASSERT_TRUE(files.ReplaceWholeFile(path, "new")) << c.what;
    EXPECT_EQ(Read(path), "new") << c.what;
    EXPECT_EQ(Read(victim), "victim") << c.what;
    for (const std::string& name : names) {
      const DWORD attributes = GetFileAttributesA(name.c_str());
      if (c.planted == Planted::kFolder) {
        EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << name;
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY) << name;
        RemoveDirectoryA(name.c_str());
      } else if (c.planted == Planted::kFile) {
        if (!leftover) {
          EXPECT_EQ(Read(name), "planted") << name;
        }
        DeleteFileA(name.c_str());
      } else {
        EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << name;
        DeleteFileA(name.c_str());
      }
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"orveld.ini"}) << c.what;
  }
}

// The settings folder's security as the program reads and sets it.
TEST(FileAccessOnWindows, SettingsFolderSecurity) {
  using Hold = FolderGuardPlatform::HoldStatus;
  using Move = FolderGuardPlatform::MoveResult;
  TempFolder folder;
  Win32FolderSecurity security;
  const std::string self = security.ProcessUserSid();
  EXPECT_EQ(self.rfind("S-1-", 0), 0u) << self;
  const std::string made = folder.File("ORVELDRIVER");
  EXPECT_EQ(security.MakeDirectory(made, FolderLevel::kSettings),
            FolderGuardPlatform::CreateResult::kCreated);
  EXPECT_EQ(security.MakeDirectory(made, FolderLevel::kSettings),
            FolderGuardPlatform::CreateResult::kAlreadyExists);
  // Made locked: only the system and administrators may change it or what it holds.
  const std::string madeDacl = Dacl(made);
  TODO_WINE_EXPECT_TRUE(madeDacl.rfind("D:P", 0) == 0 &&
                        madeDacl.find("(A;OICI;0x1200a9;;;BU)") != std::string::npos);
  TODO_WINE_EXPECT_TRUE(OwnedBySystemOrAdministrators(made));

  // What this program made is safe as it shows: owned by the administrators on Windows,
  // by the account that runs it on Wine.
  const auto held = security.HoldFolder(made);
  ASSERT_EQ(held.status, Hold::kHeld);
  EXPECT_FALSE(held.facts.link);
  EXPECT_EQ(UnsafeBecause(held.facts, FolderLevel::kSettings, self), "");
  // Held without delete sharing: nobody renames it away meanwhile.
  const std::string moved = folder.File("moved");
  EXPECT_FALSE(MoveFileA(made.c_str(), moved.c_str()));
  // But this program moves it aside through its handle, never over what is there.
  ASSERT_TRUE(CreateDirectoryA(moved.c_str(), nullptr));
  EXPECT_EQ(security.MoveAside(made, moved), Move::kNameTaken);
  const std::string aside = MovedAsideName(made, security.TimeStamp(), 1);
  EXPECT_EQ(security.MoveAside(made, aside), Move::kMoved);
  EXPECT_EQ(GetFileAttributesA(made.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesA(aside.c_str()), INVALID_FILE_ATTRIBUTES);
  security.ReleaseFolders();

  // A folder everyone may change is unsafe as either level, and a parent taken back is
  // safe again: on that folder alone, whatever the folders inside it have.
  ASSERT_TRUE(SetDacl(moved, "D:(A;OICI;FA;;;WD)"));
  const std::string inside = moved + "\\Other";
  ASSERT_TRUE(CreateDirectoryA(inside.c_str(), nullptr));
  ASSERT_TRUE(SetDacl(inside, "D:P(A;OICI;FA;;;WD)"));
  const auto open = security.HoldFolder(moved);
  ASSERT_EQ(open.status, Hold::kHeld);
  EXPECT_NE(UnsafeBecause(open.facts, FolderLevel::kParent, self), "");
  EXPECT_TRUE(security.TakeBackFolder(moved));
  security.ReleaseFolders();
  EXPECT_EQ(UnsafeBecause(security.HoldFolder(moved).facts, FolderLevel::kParent, self), "");
  EXPECT_NE(Dacl(inside).find(";;;WD)"), std::string::npos) << Dacl(inside);
  security.ReleaseFolders();

  // A file where the folder should be is no folder to write through.
  const std::string file = folder.File("file");
  Write(file, "x");
  const auto fileHeld = security.HoldFolder(file);
  ASSERT_EQ(fileHeld.status, Hold::kHeld);
  EXPECT_TRUE(fileHeld.facts.link);
  EXPECT_EQ(security.HoldFolder(folder.File("missing")).status, Hold::kMissing);

  // A link to a folder elsewhere is seen as one, not followed.
  TempFolder elsewhere;
  const std::string link = folder.File("link");
  const bool linked = CreateSymbolicLinkA(link.c_str(), elsewhere.Path().c_str(),
                                          SYMBOLIC_LINK_FLAG_DIRECTORY) != FALSE;
  ASSERT_TRUE(linked);
  // Windows opens the link itself and shows it as one; Wine opens nothing, which
  // the hold refuses as well.
  const auto linkHeld = security.HoldFolder(link);
  TODO_WINE_EXPECT_TRUE(linkHeld.status == Hold::kHeld);
  EXPECT_TRUE(linkHeld.status != Hold::kHeld || linkHeld.facts.link);
  security.ReleaseFolders();
  RemoveDirectoryA(link.c_str());
  RemoveDirectoryA(inside.c_str());
  RemoveDirectoryA(moved.c_str());
  RemoveDirectoryA(aside.c_str());
  DeleteFileA(file.c_str());
}

// The settings folder's own files: nothing through a link, nothing with a second name.
TEST(FileAccessOnWindows, SettingsFilesAreNeverLinks) {
  TempFolder folder;
  TempFolder elsewhere;
  const std::string secret = elsewhere.File("secret.txt");
  Write(secret, "secret");
  const std::string plain = folder.File("orveld.ini");
  Write(plain, "[A]\r\n");
  const std::string symbolic = folder.File("symbolic.ini");
  const std::string hard = folder.File("hard.ini");
  ASSERT_TRUE(CreateSymbolicLinkA(symbolic.c_str(), secret.c_str(), 0));
  ASSERT_TRUE(CreateHardLinkA(hard.c_str(), secret.c_str(), nullptr));
  Win32FileAccess settings(Win32FileAccess::Links::kRefuse);
  std::string bytes;
  EXPECT_EQ(settings.ReadWholeFile(plain, bytes), FileReadStatus::kOk);
  EXPECT_EQ(bytes, "[A]\r\n");
  // Windows opens the link itself and refuses it; Wine opens nothing at all.
  EXPECT_NE(settings.ReadWholeFile(symbolic, bytes), FileReadStatus::kOk);
  EXPECT_EQ(settings.ReadWholeFile(hard, bytes), FileReadStatus::kError);
  // A file a person chose may be a link (Wine's links to files lead nowhere).
  TODO_WINE_EXPECT_TRUE(Win32FileAccess().ReadWholeFile(symbolic, bytes) == FileReadStatus::kOk &&
                        bytes == "secret");

  // Removed: a file; kept: a link (and what it leads to) and a folder.
  EXPECT_TRUE(settings.RemoveFile(plain));
  EXPECT_TRUE(settings.RemoveFile(plain));  // nothing there is nothing left
  const std::string sub = folder.File("sub");
  ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
  EXPECT_FALSE(settings.RemoveFile(sub));
  settings.RemoveFile(symbolic);
  EXPECT_EQ(Read(secret), "secret");
  EXPECT_EQ(GetFileAttributesA(plain.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(GetFileAttributesA(sub.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(Read(hard), "secret");
  // A replacement never writes through a link at the name.
  settings.ReplaceWholeFile(symbolic, "new");
  EXPECT_EQ(Read(secret), "secret");
  DeleteFileA(symbolic.c_str());
  DeleteFileA(hard.c_str());
  RemoveDirectoryA(sub.c_str());
}

}  // namespace
}  // namespace orvel
