#include "installer/utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "installer/common.h"
#include "tests/doubles/installer_fakes.h"
#include "tests/native/installer/fault_injection.h"

namespace orvel::installer {
namespace {

using fakes::FakeWorld;

bool RebootRequested(const FakeWorld& w) {
  return w.registry.GetDword(kInstallerKey, u"RebootRequest") == 0u &&
         w.registry.GetDword(kIntegratedInstallerKey, u"RebootRequest", RegView::k32) == 0u;
}

// The server program in the system folder, or in the 32-bit one; each a file of its own.
void InstallServer(FakeWorld& w, const std::vector<Text>& folders) {
  for (const Text& folder : folders) w.files.Add(folder + u"\\" + Text(kServerImageName));
}

const Text kSystem = u"C:\\Windows\\system32";

TEST(ProcessKill, StopsEveryCopyOfTheServerProgram) {
  using P = fakes::FakeProcesses::Process;
  const Text server(kServerImageName);
  const Text x86 = u"C:\\Windows\\SysWOW64";
  const Text elsewhere = u"C:\\Users\\Public";
  const Text shortName = u"QUORIN~1.EXE";
  // Other files by name: a program of the server's name elsewhere, a second name of
  // the server's own file.
  enum Other { kNone, kDecoy, kShortName, kLinkElsewhere, kNotepad };
  struct Case {
    const char* name;
    std::vector<P> processes;
    std::vector<bool> aliveAfter;
    bool reboot;
    Other other = kNone;
    std::vector<Text> serverIn = {kSystem};
    std::optional<std::vector<P>> afterSnapshot = std::nullopt;
  };
  const Case cases[] = {
      {"none", {{4, u"System"}, {300, u"explorer.exe"}}, {true, true}, false},
      {"one", {{4, u"System"}, {300, server}}, {true, false}, true},
      {"two: both go", {{300, server}, {301, server}}, {false, false}, true},
      // The file system does not tell names apart by letter case.
      {"other case", {{300, u"quorin network driver.exe"}}, {false}, true},
      {"longer name", {{300, u"Quorin Network Driver.exe2"}}, {true}, false},
      // A copy of that name elsewhere neither stands in for the server nor is stopped.
      {"decoy first",
       {{300, server, true, false, 0, elsewhere}, {301, server}},
       {true, false},
       true,
       kDecoy},
      {"decoy only", {{300, server, true, false, 0, elsewhere}}, {true}, false, kDecoy},
      // The system reports the folder in its own letter case.
      {"folder case", {{300, server, true, false, 0, u"c:\\WINDOWS\\System32"}}, {false}, true},
      // The server ended after the list was taken and its ID went to another program.
      {"reused id",
       {{300, server}},
       {true},
       false,
       kNotepad,
       {kSystem},
       std::vector<P>{{300, u"notepad.exe"}}},
      // Started by its short name, the server is listed under that name.
      {"short name", {{300, shortName}, {301, server}}, {false, false}, true, kShortName},
      {"the same file by another name",
       {{300, server, true, false, 0, elsewhere}},
       {false},
       true,
       kLinkElsewhere},
      {"in the 32-bit folder", {{300, server, true, false, 0, x86}}, {false}, true, kNone, {x86}},
      {"not installed", {{300, server}}, {true}, false, kNone, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    InstallServer(w, c.serverIn);
    if (c.other == kDecoy) w.files.Add(elsewhere + u"\\" + server);
    if (c.other == kNotepad) w.files.Add(kSystem + u"\\notepad.exe");
    if (c.other == kShortName) {
      w.files.Alias(kSystem + u"\\" + shortName, kSystem + u"\\" + server, true);
    }
    if (c.other == kLinkElsewhere)
      w.files.Alias(elsewhere + u"\\" + server, kSystem + u"\\" + server);
    w.processes.processes = c.processes;
    w.processes.afterSnapshot = c.afterSnapshot;
    EXPECT_EQ(ProcessKill(w.platform), 0u);
    for (std::size_t i = 0; i < c.aliveAfter.size(); ++i) {
      EXPECT_EQ(w.processes.processes[i].alive, c.aliveAfter[i]) << i;
      if (!c.aliveAfter[i]) EXPECT_EQ(w.processes.processes[i].exitCode, 1u);
    }
    EXPECT_EQ(RebootRequested(w), c.reboot);
    EXPECT_EQ(w.OpenHandles(), 0u);
  }
}

TEST(ProcessKill, RefusalsAndTheirRebootRequests) {
  {
    FakeWorld w;  // cannot be opened for termination
    InstallServer(w, {kSystem});
    w.processes.processes = {{300, u"Quorin Network Driver.exe", true, true}};
    EXPECT_EQ(ProcessKill(w.platform), 1603u);
    EXPECT_TRUE(RebootRequested(w));
  }
  {
    FakeWorld w;  // empty snapshot: no first entry
    InstallServer(w, {kSystem});
    EXPECT_EQ(FindProcessesByImageName(w.platform, {Text(kServerImageName)}), std::nullopt);
    EXPECT_EQ(ProcessKill(w.platform), 1603u);
    EXPECT_FALSE(RebootRequested(w));
  }
}

TEST(ProcessKill, EveryFailedCallGivesThePromisedResult) {
  FailEachCallInTurn(
      [](FakeWorld& w) {
        InstallServer(w, {kSystem});
        w.processes.processes = {{4, u"System"}, {300, u"Quorin Network Driver.exe"}};
      },
      [](FakeWorld& w) { return ProcessKill(w.platform); },
      [](FakeWorld& w, std::uint32_t result, const std::string& failed) {
        const bool alive = w.processes.processes[1].alive;
        if (failed == "Process32Next") {  // a list cut short serves once it named the server
          EXPECT_EQ(result == 0u, !alive);
          EXPECT_EQ(RebootRequested(w), result == 0u);
          return;
        }
        const auto& calls = w.plan.calls;
        const auto at = calls.begin() + static_cast<std::ptrdiff_t>(*w.plan.failAt);
        const bool listed = std::find(calls.begin(), at, "Process32First") != at;
        // Without the server's file or the process list nothing is stopped, and no
        // restart is asked for.
        const std::set<std::string> beforeList = {
            "GetSystemDirectory", "CreateFile(FILE_READ_ATTRIBUTES)",
            "GetFileInformationByHandle(identity)", "CreateToolhelp32Snapshot", "Process32First"};
        if (!listed && beforeList.count(failed)) {
          EXPECT_EQ(result, 1603u);
          EXPECT_TRUE(alive);
          EXPECT_FALSE(w.registry.KeyExists(kInstallerKey));
          return;
        }
        // Whatever cannot be told to be the server, or cannot be stopped, runs on and
        // needs the restart.
        const std::set<std::string> unknown = {
            "OpenProcess", "QueryFullProcessImageName", "CreateFile(FILE_READ_ATTRIBUTES)",
            "GetFileInformationByHandle(identity)", "TerminateProcess"};
        if (unknown.count(failed)) {
          EXPECT_EQ(result, 1603u);
          EXPECT_TRUE(alive);
          EXPECT_TRUE(RebootRequested(w));
          return;
        }
        // The folder checks, the short name, the log and the restart's own values: the
        // server is stopped all the same.
        EXPECT_EQ(result, 0u);
        EXPECT_FALSE(alive);
      });
}

TEST(GetOSVersion, TwentyH1OrLater) {
  struct Case {
    std::uint32_t major, minor, build;
    const char16_t* expected;
  };
  const Case cases[] = {
      {10, 0, 19040, u"NO"}, {10, 0, 19041, u"YES"}, {10, 0, 22631, u"YES"},
      {6, 3, 99999, u"NO"},  {11, 0, 1, u"YES"},     {10, 1, 0, u"YES"},
  };
  for (const auto& c : cases) {
    FakeWorld w;
    w.system.major = c.major;
    w.system.minor = c.minor;
    w.system.build = c.build;
    EXPECT_EQ(GetOSVersion(w.platform), 0u);
    EXPECT_EQ(w.session.properties[Text(kBuildProperty)], c.expected)
        << c.major << "." << c.minor << "." << c.build;
  }
  FakeWorld w;
  w.plan.failing.insert("MsiSetProperty");
  EXPECT_EQ(GetOSVersion(w.platform), 0u);
}

TEST(IsAdmin, RefusesNonAdministratorsFirstThenOldSystems) {
  struct Case {
    bool admin;
    std::uint32_t major, minor, sp;
    std::uint32_t result;
    std::vector<int> messages;
  };
  const Case cases[] = {
      {false, 10, 0, 0, 1603, {25003}}, {false, 5, 0, 0, 1603, {25003}},
      {true, 5, 0, 4, 1603, {25004}},   {true, 5, 1, 0, 0, {}},
      {true, 6, 1, 1, 0, {}},           {true, 4, 9, 6, 1603, {25004}},
  };
  for (const auto& c : cases) {
    FakeWorld w;
    w.system.administrator = c.admin;
    w.system.major = c.major;
    w.system.minor = c.minor;
    w.system.servicePackMajor = c.sp;
    EXPECT_EQ(IsAdmin(w.platform), c.result);
    std::vector<int> numbers;
    for (const auto& m : w.session.messages) {
      EXPECT_EQ(m.kind, kInstallMessageError);
      numbers.push_back(m.number);
    }
    EXPECT_EQ(numbers, c.messages);
    EXPECT_EQ(w.OpenHandles(), 0u);
  }
}

TEST(DelSystem32DllFile, DeletesOrSchedulesTheCopyInTheSystemsOwnFolder) {
  // A machine whose Windows is not C:\Windows: the fixed path is a folder anyone may make.
  const Text path = u"D:\\Win\\SysWOW64\\Orveldrv.dll";
  const Text fixed = u"c:\\windows\\syswow64\\Orveldrv.dll";
  struct Case {
    const char* name;
    std::optional<std::uint32_t> attributes;  // of what lies at the path; none: nothing
    bool inUse;
    bool gone, atReboot;
  };
  const Case cases[] = {
      {"absent", std::nullopt, false, false, false},
      {"plain", 0x20, false, true, false},
      {"read-only", 0x21, false, true, false},
      {"in use", 0x20, true, false, true},
      {"a link", 0x20 | kFileAttributeReparsePoint, false, false, false},
      {"a folder", kFileAttributeDirectory, false, false, false},
      {"a folder link", kFileAttributeDirectory | kFileAttributeReparsePoint, false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    w.files.systemDirectory = u"D:\\Win\\system32";
    w.files.systemX86Directory = u"D:\\Win\\SysWOW64\\";
    w.files.Add(fixed);
    if (c.attributes)
      w.files.Add(u"D:\\WIN\\syswow64\\ORVELDRV.DLL", std::nullopt, c.inUse, *c.attributes);
    EXPECT_EQ(delSystem32DllFile(w.platform), 0u);
    EXPECT_TRUE(w.files.Exists(fixed));
    EXPECT_EQ(w.files.Exists(path), c.attributes && !c.gone);
    EXPECT_EQ(w.files.deleteAtReboot.count(fakes::Lower(path)) != 0, c.atReboot);
    EXPECT_EQ(RebootRequested(w), c.atReboot);
    EXPECT_EQ(w.OpenHandles(), 0u);
  }
  FailEachCallInTurn(
      [&](FakeWorld& w) {
        w.files.Add(u"C:\\Windows\\SysWOW64\\Orveldrv.dll", std::nullopt, true);
      },
      [](FakeWorld& w) { return delSystem32DllFile(w.platform); },
      [](FakeWorld&, std::uint32_t result, const std::string&) { EXPECT_EQ(result, 0u); });
}

}  // namespace
}  // namespace orvel::installer
