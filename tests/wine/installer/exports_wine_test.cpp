// The library's exports called through GetProcAddress on a real installer handle: a
// session of the built package opened with MsiOpenPackageW, with its properties, its
// actions and its Error table, and the machine's real registry and files.
#include <windows.h>
// after windows.h
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/wine/installer/machine.h"
#include "tests/wine/support/process_util.h"
#include "tests/wine/support/substitute_server.h"

namespace orvel::test {
namespace {

using namespace machine;

using Action = UINT(__stdcall*)(MSIHANDLE);

// Every message the library sends through the installer: its kind and the Error-table
// number in field 1.
struct Message {
  UINT kind;
  int number;
  bool operator==(const Message&) const = default;
};
std::vector<Message> g_messages;

INT CALLBACK RecordMessage(void*, UINT type, MSIHANDLE record) {
  const UINT kind = type & 0xFF000000;
  if (kind == INSTALLMESSAGE_ERROR || kind == INSTALLMESSAGE_USER) {
    g_messages.push_back({kind, MsiRecordGetInteger(record, 1)});
  }
  // Answered for the user, so that the installer never waits for one.
  return IDOK;
}

void PrintTo(const Message& m, std::ostream* os) {
  *os << (m.kind == INSTALLMESSAGE_ERROR ? "error " : "user ") << m.number;
}

class Library {
 public:
  Library() : module_(LoadLibraryW(HostPath(ORVEL_DLL_PATH).c_str())) {}
  ~Library() {
    if (module_) FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  bool Loaded() const { return module_ != nullptr; }
  Action Get(const char* name) const {
    // Through void (*)(), the type-erased function pointer, to the export's real type.
    return reinterpret_cast<Action>(reinterpret_cast<void (*)()>(GetProcAddress(module_, name)));
  }
  UINT Call(const char* name, MSIHANDLE install) const {
    const Action action = Get(name);
    return action ? action(install) : 0xBAD;
  }

 private:
  HMODULE module_;
};

// A session of the built package; nothing is installed by opening it.
class Session {
 public:
  Session() {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiSetExternalUIRecord(RecordMessage, INSTALLLOGMODE_ERROR | INSTALLLOGMODE_USER, nullptr,
                           nullptr);
    status_ = MsiOpenPackageW(HostPath(ORVEL_MSI_PATH).c_str(), &handle_);
  }
  ~Session() {
    if (handle_) MsiCloseHandle(handle_);
    MsiSetExternalUIRecord(nullptr, 0, nullptr, nullptr);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  UINT Status() const { return status_; }
  MSIHANDLE Handle() const { return handle_; }
  bool Set(const wchar_t* name, const wchar_t* value) {
    return MsiSetPropertyW(handle_, name, value) == ERROR_SUCCESS;
  }
  std::wstring Get(const wchar_t* name) const {
    wchar_t value[512] = {};
    DWORD length = 512;
    if (MsiGetPropertyW(handle_, name, value, &length) != ERROR_SUCCESS) return L"<failed>";
    return value;
  }

 private:
  MSIHANDLE handle_ = 0;
  UINT status_ = ERROR_INVALID_HANDLE;
};

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library_.Loaded()) << GetLastError();
    g_messages.clear();
  }
  // Opens a fresh session; each case gets its own, so that no mode or property of an
  // earlier case carries over.
  std::unique_ptr<Session> Open() {
    auto session = std::make_unique<Session>();
    EXPECT_EQ(session->Status(), static_cast<UINT>(ERROR_SUCCESS));
    return session;
  }
  bool RebootRequested() const {
    return ReadDword(kInstallerKey, L"RebootRequest", KEY_WOW64_64KEY) == std::optional<DWORD>(0) &&
           ReadDword(kIntegratedInstallerKey, L"RebootRequest", KEY_WOW64_32KEY) ==
               std::optional<DWORD>(0);
  }

  Library library_;
  KeyGuard installerKey_{kInstallerKey, KEY_WOW64_64KEY};
  KeyGuard integratedKey_{kIntegratedInstallerKey, KEY_WOW64_32KEY};
};

TEST_F(ExportsTest, GetOSVersionSetsTheBuildPropertyFromTheSystemsVersion) {
  // The system's own answer, to compare with: RtlGetVersion is not shimmed.
  RTL_OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  using Query = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
  const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  ASSERT_NE(query, nullptr);
  ASSERT_EQ(query(&version), 0);
  const bool recent = version.dwMajorVersion > 10 ||
                      (version.dwMajorVersion == 10 &&
                       (version.dwMinorVersion > 0 || version.dwBuildNumber >= 19041));

  auto session = Open();
  ASSERT_TRUE(session->Set(L"IS20H1ORGREATER", L"unset"));
  EXPECT_EQ(library_.Call("GetOSVersion", session->Handle()), 0u);
  EXPECT_EQ(session->Get(L"IS20H1ORGREATER"), recent ? L"YES" : L"NO")
      << version.dwMajorVersion << "." << version.dwMinorVersion << "." << version.dwBuildNumber;
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(ExportsTest, IsAdminPassesAnAdministratorOnARecentSystemSilently) {
  // Wine's token always holds the Administrators group and the prefix reports a system
  // newer than 5.1, so only the passing path can be reached here; the refusals with
  // 25003 and 25004 run over the doubles in the native tests.
  auto session = Open();
  EXPECT_EQ(library_.Call("IsAdmin", session->Handle()), 0u);
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(ExportsTest, CleanupInstallSchedulesTheRebootOnlyWhenRequestedAndNotIntegrated) {
  struct Case {
    const char* what;
    const wchar_t* integrator;     // "LAUNCHEDBYINTEGRATOR", nullptr: not set
    std::optional<DWORD> request;  // "RebootRequest" under InstallerKey
    DWORD requestType;             // its registry type
    bool scheduled;
  };
  const Case cases[] = {
      {"requested", nullptr, 0, REG_DWORD, true},
      {"requested, integrator 0", L"0", 0, REG_DWORD, true},
      {"requested, integrator 11", L"11", 0, REG_DWORD, true},
      {"requested, integrator 1", L"1", 0, REG_DWORD, false},
      {"not requested", nullptr, std::nullopt, REG_DWORD, false},
      {"request data 1", nullptr, 1, REG_DWORD, false},
      // Four zero bytes of another type still read as the request.
      {"request as binary zero", nullptr, 0, REG_BINARY, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteValue(kInstallerKey, L"RebootRequest", KEY_WOW64_64KEY);
    if (c.request) {
      HKEY key = nullptr;
      ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kInstallerKey, 0, nullptr, 0,
                                KEY_WRITE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
                ERROR_SUCCESS);
      const DWORD data = *c.request;
      RegSetValueExW(key, L"RebootRequest", 0, c.requestType, reinterpret_cast<const BYTE*>(&data),
                     sizeof data);
      RegCloseKey(key);
    }
    auto session = Open();
    if (c.integrator) {
      ASSERT_TRUE(session->Set(L"LAUNCHEDBYINTEGRATOR", c.integrator));
    }
    EXPECT_FALSE(MsiGetMode(session->Handle(), MSIRUNMODE_REBOOTATEND));
    EXPECT_EQ(library_.Call("CleanupInstall", session->Handle()), 0u);
    EXPECT_EQ(MsiGetMode(session->Handle(), MSIRUNMODE_REBOOTATEND) != FALSE, c.scheduled);
    EXPECT_EQ(session->Get(L"RebootRequest"), c.scheduled ? L"0" : L"");
  }
  EXPECT_TRUE(g_messages.empty());
}

using Slots = std::map<std::wstring, std::wstring>;  // slot name -> data, set slots only

const wchar_t* const kSlotNames[] = {L"midi",  L"midi1", L"midi2", L"midi3", L"midi4",
                                     L"midi5", L"midi6", L"midi7", L"midi8", L"midi9"};

Slots ReadSlots(REGSAM view) {
  Slots slots;
  for (const wchar_t* name : kSlotNames) {
    if (auto data = ReadSz(kDrivers32, name, view)) slots[name] = *data;
  }
  return slots;
}

// kNoBytes stands for a REG_SZ value of 0 bytes, which no string with its terminator is.
const std::wstring kNoBytes = L"<0 bytes>";

void WriteSlots(const Slots& slots, REGSAM view) {
  for (const wchar_t* name : kSlotNames) DeleteValue(kDrivers32, name, view);
  for (const auto& [name, data] : slots) {
    if (data == kNoBytes) {
      HKEY key = nullptr;
      ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDrivers32, 0, KEY_WRITE | view, &key),
                ERROR_SUCCESS);
      RegSetValueExW(key, name.c_str(), 0, REG_SZ, nullptr, 0);
      RegCloseKey(key);
    } else {
      ASSERT_TRUE(WriteSz(kDrivers32, name.c_str(), data, view));
    }
  }
}

TEST_F(ExportsTest, MidiSlotIsTakenAndGivenBackInBothViews) {
  KeyGuard native(kDrivers32, KEY_WOW64_64KEY);
  KeyGuard wow(kDrivers32, KEY_WOW64_32KEY);
  // A fresh Wine prefix lacks the 32-bit view's key, which every 64-bit Windows has; the
  // guard removes it again when it made it.
  HKEY wowKey = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kDrivers32, 0, nullptr, 0,
                            KEY_READ | KEY_WOW64_32KEY, nullptr, &wowKey, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(wowKey);
  const std::wstring lib = L"Orveldrv.dll";
  // Longer than the 24-byte read buffer: another driver's entry.
  const std::wstring longName = L"another_vendors_midi_driver.dll";
  struct Case {
    const char* what;
    Slots native, wow;
    UINT result;
    Slots nativeAfterSet, wowAfterSet;
    Slots nativeAfterDelete, wowAfterDelete;
  };
  const Case cases[] = {
      {"first two taken natively",
       {{L"midi", L"a.drv"}, {L"midi1", L"b.drv"}},
       {},
       0,
       {{L"midi", L"a.drv"}, {L"midi1", L"b.drv"}, {L"midi2", lib}},
       {{L"midi2", lib}},
       {{L"midi", L"a.drv"}, {L"midi1", L"b.drv"}},
       {}},
      {"already in midi4 of both",
       {{L"midi4", lib}},
       {{L"midi4", lib}},
       0,
       {{L"midi4", lib}},
       {{L"midi4", lib}},
       {},
       {}},
      {"own natively, another driver's in the 32-bit view",
       {{L"midi4", lib}},
       {{L"midi4", L"c32.drv"}, {L"midi", L"d32.drv"}},
       0,
       {{L"midi1", lib}, {L"midi4", lib}},
       {{L"midi", L"d32.drv"}, {L"midi1", lib}, {L"midi4", L"c32.drv"}},
       // Only the first slot holding the library goes.
       {{L"midi4", lib}},
       {{L"midi", L"d32.drv"}, {L"midi4", L"c32.drv"}}},
      {"a value of 0 bytes counts as free",
       {{L"midi", kNoBytes}},
       {{L"midi", kNoBytes}},
       0,
       {{L"midi", lib}},
       {{L"midi", lib}},
       {},
       {}},
      {"an empty string with its terminator is not free",
       {{L"midi", L""}},
       {},
       0,
       {{L"midi", L""}, {L"midi1", lib}},
       {{L"midi1", lib}},
       {{L"midi", L""}},
       {}},
      {"an entry too long for the buffer is never overwritten",
       {{L"midi", longName}},
       {},
       0,
       {{L"midi", longName}, {L"midi1", lib}},
       {{L"midi1", lib}},
       {{L"midi", longName}},
       {}},
      {"case differs: another driver's",
       {{L"midi", L"orveldrv.dll"}},
       {},
       0,
       {{L"midi", L"orveldrv.dll"}, {L"midi1", lib}},
       {{L"midi1", lib}},
       {{L"midi", L"orveldrv.dll"}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteSlots(c.native, KEY_WOW64_64KEY);
    WriteSlots(c.wow, KEY_WOW64_32KEY);
    auto session = Open();
    EXPECT_EQ(library_.Call("RegSetMIDIDeviceNum", session->Handle()), c.result);
    EXPECT_EQ(ReadSlots(KEY_WOW64_64KEY), c.nativeAfterSet);
    EXPECT_EQ(ReadSlots(KEY_WOW64_32KEY), c.wowAfterSet);
    EXPECT_EQ(library_.Call("RegDelMIDIDeviceNum", session->Handle()), 0u);
    EXPECT_EQ(ReadSlots(KEY_WOW64_64KEY), c.nativeAfterDelete);
    EXPECT_EQ(ReadSlots(KEY_WOW64_32KEY), c.wowAfterDelete);
  }

  // Every native slot taken by other drivers: refused, and nothing written anywhere.
  Slots full;
  for (const wchar_t* name : kSlotNames) full[name] = std::wstring(L"x_") + name + L".drv";
  WriteSlots(full, KEY_WOW64_64KEY);
  WriteSlots({}, KEY_WOW64_32KEY);
  auto session = Open();
  EXPECT_EQ(library_.Call("RegSetMIDIDeviceNum", session->Handle()), 1603u);
  EXPECT_EQ(ReadSlots(KEY_WOW64_64KEY), full);
  EXPECT_EQ(ReadSlots(KEY_WOW64_32KEY), Slots{});
}

TEST_F(ExportsTest, SetSystemComponentHidesOnlyThePublishersWindowsEntries) {
  struct Entry {
    const wchar_t* key;
    const wchar_t* publisher;
    const wchar_t* displayName;
    bool hidden;
  };
  const Entry entries[] = {
      {L"OrvelTest.Hidden", L"Vantor Corporation.", L"Windows Driver Package - Quorin", true},
      {L"OrvelTest.Exactly", L"Vantor Corporation.", L"Windows", true},
      {L"OrvelTest.NoStop", L"Vantor Corporation", L"Windows Driver Package", false},
      {L"OrvelTest.Longer", L"Vantor Corporation.x", L"Windows Driver Package", false},
      {L"OrvelTest.Lower", L"Vantor Corporation.", L"windows Driver Package", false},
      {L"OrvelTest.Short", L"Vantor Corporation.", L"Windo", false},
      {L"OrvelTest.Other", L"Vantor Corporation.", L"Quorin Network Driver", false},
      {L"OrvelTest.NoPublisher", nullptr, L"Windows Driver Package", false},
  };
  auto path = [](const Entry& e) { return std::wstring(kUninstallKey) + L"\\" + e.key; };
  for (const Entry& e : entries) {
    if (e.publisher) {
      ASSERT_TRUE(WriteSz(path(e).c_str(), L"Publisher", e.publisher, KEY_WOW64_64KEY));
    }
    ASSERT_TRUE(WriteSz(path(e).c_str(), L"DisplayName", e.displayName, KEY_WOW64_64KEY));
  }
  auto session = Open();
  EXPECT_EQ(library_.Call("setSystemComponent", session->Handle()), 0u);
  for (const Entry& e : entries) {
    EXPECT_EQ(ReadDword(path(e).c_str(), L"SystemComponent", KEY_WOW64_64KEY),
              e.hidden ? std::optional<DWORD>(1) : std::nullopt)
        << std::string(e.key, e.key + wcslen(e.key));
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path(e).c_str(), KEY_WOW64_64KEY, 0);
  }
}

TEST_F(ExportsTest, InstallKernelDriverWithoutAUsableInfPath) {
  const std::wstring tooLong = L"C:\\" + std::wstring(262, L'p') + L"\\Orveldrv.inf";
  struct Case {
    const char* what;
    const wchar_t* customActionData;
    const wchar_t* argument;  // left by a deferred repair; nullptr: none
    std::vector<Message> messages;
    bool recordedStays;  // the seeded OemInfFileName0000
  };
  const Case cases[] = {
      // Refused before anything changes: the recorded package is still there.
      {"no CustomActionData", nullptr, nullptr, {}, true},
      {"empty CustomActionData", L"", nullptr, {}, true},
      {"CustomActionData of 260 characters or more", tooLong.c_str(), nullptr, {}, true},
      {"Argument of 260 characters or more", L"", tooLong.c_str(), {}, true},
      // The repair's path wins over CustomActionData; a folder without the package fails
      // to stage with 25005.
      {"Argument of a missing package",
       L"",
       L"C:\\orvel-test-nowhere\\Orveldrv.inf",
       {{INSTALLMESSAGE_ERROR, 25005}},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_messages.clear();
    ASSERT_TRUE(WriteSz(kInstallerKey, L"OemInfFileName0000", L"oem9999.inf", KEY_WOW64_64KEY));
    DeleteValue(kInstallerKey, L"Argument", KEY_WOW64_64KEY);
    if (c.argument) {
      ASSERT_TRUE(WriteSz(kInstallerKey, L"Argument", c.argument, KEY_WOW64_64KEY));
    }
    auto session = Open();
    if (c.customActionData) {
      ASSERT_TRUE(session->Set(L"CustomActionData", c.customActionData));
    }
    EXPECT_EQ(library_.Call("InstallKernelDriver", session->Handle()), 1603u);
    EXPECT_EQ(g_messages, c.messages);
    EXPECT_EQ(ReadSz(kInstallerKey, L"OemInfFileName0000", KEY_WOW64_64KEY).has_value(),
              c.recordedStays);
    // "Argument" goes whether it could serve or not, so the next install can go on.
    EXPECT_EQ(ReadSz(kInstallerKey, L"Argument", KEY_WOW64_64KEY), std::nullopt);
    EXPECT_EQ(ReadSz(kInstallerKey, L"OemInfFileName0001", KEY_WOW64_64KEY), std::nullopt);
  }
}

TEST_F(ExportsTest, UninstallOnAMachineWithoutTheProductClearsItsValues) {
  KeyGuard runOnce(kRunOnceKey, KEY_WOW64_64KEY);
  ASSERT_TRUE(
      WriteSz(kRunOnceKey, L"VantorQuorinNetworkDriver", L"msiexec /fa {x}", KEY_WOW64_64KEY));
  ASSERT_TRUE(WriteSz(kRunOnceKey, L"OrvelTestOther", L"keep", KEY_WOW64_64KEY));
  ASSERT_TRUE(WriteSz(kInstallerKey, L"InstalledDirectory", L"C:\\somewhere", KEY_WOW64_64KEY));
  ASSERT_TRUE(WriteDword(kInstallerKey, L"RebootRequest", 0, KEY_WOW64_64KEY));
  auto session = Open();
  EXPECT_EQ(library_.Call("Uninstall", session->Handle()), 0u);
  EXPECT_EQ(ReadSz(kRunOnceKey, L"VantorQuorinNetworkDriver", KEY_WOW64_64KEY), std::nullopt);
  EXPECT_EQ(ReadSz(kRunOnceKey, L"OrvelTestOther", KEY_WOW64_64KEY),
            std::optional<std::wstring>(L"keep"));
  EXPECT_EQ(ReadSz(kInstallerKey, L"InstalledDirectory", KEY_WOW64_64KEY), std::nullopt);
  EXPECT_EQ(ReadDword(kInstallerKey, L"RebootRequest", KEY_WOW64_64KEY), std::nullopt);
}

// Copies of the substitute server under other image names, started from the system
// folder, the 32-bit one or a folder of the test, by their name or their short name; they
// are ended (if still running) and removed with it.
class ServerCopies {
 public:
  enum class Where { kSystem, kX86, kElsewhere };
  bool Start(const std::string& subfolder, const std::string& image, Where where,
             bool byShortName = false) {
    const std::string folder = folder_.File(subfolder);
    CreateDirectoryA(folder.c_str(), nullptr);
    folders_.push_back(folder);
    std::string programFolder = folder;
    if (where != Where::kElsewhere) {
      const std::wstring system = where == Where::kSystem ? SystemFolder() : SystemX86Folder();
      programFolder.assign(system.begin(), system.end());
      // A prefix without 32-bit support may lack the 32-bit folder.
      if (CreateDirectoryA(programFolder.c_str(), nullptr)) madeFolders_.push_back(programFolder);
    }
    const std::string program = programFolder + "\\" + image;
    // The same program may be started twice.
    if (GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES &&
        !CopyFileA(SubstituteServerPath().c_str(), program.c_str(), FALSE)) {
      return false;
    }
    files_.push_back(program);
    char shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameA(program.c_str(), shortPath, MAX_PATH);
    if (byShortName && (length == 0 || length >= MAX_PATH || program == shortPath)) return false;
    const std::string units = folder + "\\units.txt";
    if (!WriteFileText(units, "inuse 0\n")) return false;
    files_.push_back(units);
    files_.push_back(folder + "\\server.log");
    ChildProcess& child = children_.emplace_back();
    const std::string started = byShortName ? std::string(shortPath) : program;
    if (!child.Start(CommandLine({started, units, folder + "\\server.log"}))) return false;
    // Its window exists once it has started for good.
    return FindProcessWindow(child.Id(), nullptr, nullptr, 20000) != nullptr;
  }
  ChildProcess& Child(std::size_t i) { return children_[i]; }
  ~ServerCopies() {
    for (ChildProcess& child : children_) child.Terminate();
    children_.clear();
    for (const std::string& file : files_) {
      for (int attempt = 0;
           attempt < 50 && !DeleteFileA(file.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND;
           ++attempt) {
        Sleep(50);
      }
    }
    for (const std::string& folder : folders_) RemoveDirectoryA(folder.c_str());
    for (const std::string& folder : madeFolders_) RemoveDirectoryA(folder.c_str());
  }

 private:
  TempFolder folder_;
  std::vector<ChildProcess> children_;
  std::vector<std::string> files_, folders_, madeFolders_;
};

TEST_F(ExportsTest, ProcessKillStopsEveryCopyOfTheServerProgram) {
  using Where = ServerCopies::Where;
  struct Copy {
    std::string image;
    Where where;
    bool stopped;  // whether ProcessKill ends it
    bool byShortName = false;
  };
  const std::string server = "Quorin Network Driver.exe";
  const struct {
    const char* what;
    std::vector<Copy> copies;  // started in this order
  } cases[] = {
      {"not running", {}},
      {"one", {{server, Where::kSystem, true}}},
      {"two: both go", {{server, Where::kSystem, true}, {server, Where::kSystem, true}}},
      // The same file, whatever the letter case of the name it was started by.
      {"letter case differs", {{"quorin network driver.exe", Where::kSystem, true}}},
      {"longer name", {{"Quorin Network Driver.exe.exe", Where::kSystem, false}}},
      // A program of that name elsewhere is neither stopped nor a shield for the server.
      {"elsewhere only", {{server, Where::kElsewhere, false}}},
      {"elsewhere, then the server",
       {{server, Where::kElsewhere, false}, {server, Where::kSystem, true}}},
      {"by its short name, and by its name",
       {{server, Where::kSystem, true, true}, {server, Where::kSystem, true}}},
      {"in the 32-bit folder only", {{server, Where::kX86, true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteValue(kInstallerKey, L"RebootRequest", KEY_WOW64_64KEY);
    DeleteValue(kIntegratedInstallerKey, L"RebootRequest", KEY_WOW64_32KEY);
    ServerCopies copies;
    bool anyStopped = false;
    for (std::size_t i = 0; i < c.copies.size(); ++i) {
      const Copy& copy = c.copies[i];
      ASSERT_TRUE(
          copies.Start("copy" + std::to_string(i), copy.image, copy.where, copy.byShortName));
      anyStopped = anyStopped || copy.stopped;
    }
    auto session = Open();
    EXPECT_EQ(library_.Call("ProcessKill", session->Handle()), 0u);
    for (std::size_t i = 0; i < c.copies.size(); ++i) {
      const std::optional<DWORD> exit = copies.Child(i).Wait(c.copies[i].stopped ? 5000 : 500);
      EXPECT_EQ(exit.has_value(), c.copies[i].stopped) << i;
      if (exit) {
        EXPECT_EQ(*exit, 1u);  // the exit code ProcessKill gives
      }
    }
    EXPECT_EQ(RebootRequested(), anyStopped);
    // The package's last action turns the request into a reboot at the end.
    EXPECT_EQ(library_.Call("CleanupInstall", session->Handle()), 0u);
    EXPECT_EQ(MsiGetMode(session->Handle(), MSIRUNMODE_REBOOTATEND) != FALSE, anyStopped);
  }
}

TEST_F(ExportsTest, DelSystem32DllFileDeletesOnlyAPlainLibraryCopyInThe32BitSystemFolder) {
  const std::wstring folder = SystemX86Folder();
  const std::wstring copy = folder + L"\\Orveldrv.dll";
  ASSERT_FALSE(FileExists(copy)) << "a copy from elsewhere is in the way";
  // A prefix without 32-bit support may lack the folder; then it is made for the test.
  const bool madeFolder = CreateDirectoryW(folder.c_str(), nullptr) != FALSE;
  auto session = Open();
  // Absent: nothing to do.
  EXPECT_EQ(library_.Call("delSystem32DllFile", session->Handle()), 0u);
  EXPECT_FALSE(RebootRequested());

  // Present and read-only: deleted, with no reboot needed.
  HANDLE file = CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
  CloseHandle(file);
  EXPECT_EQ(library_.Call("delSystem32DllFile", session->Handle()), 0u);
  EXPECT_FALSE(FileExists(copy));
  EXPECT_FALSE(RebootRequested());

  // A folder under the library's name is not a copy of it: left alone, no restart.
  ASSERT_TRUE(CreateDirectoryW(copy.c_str(), nullptr)) << GetLastError();
  EXPECT_EQ(library_.Call("delSystem32DllFile", session->Handle()), 0u);
  EXPECT_TRUE(FileExists(copy));
  EXPECT_FALSE(RebootRequested());
  RemoveDirectoryW(copy.c_str());
  if (FileExists(copy)) {
    SetFileAttributesW(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(copy.c_str());
  }
  if (madeFolder) RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace orvel::test
