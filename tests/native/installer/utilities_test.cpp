#include "installer/utilities.h"

#include <gtest/gtest.h>

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

TEST(ProcessKill, StopsOnlyTheFirstServerProgramInTheSystemFolder) {
  using P = fakes::FakeProcesses::Process;
  const Text server(kServerImageName);
  const Text elsewhere = u"C:\\Users\\Public";
  struct Case {
    const char* name;
    std::vector<P> processes;
    std::vector<bool> aliveAfter;
    bool reboot;
    std::optional<std::vector<P>> afterSnapshot = std::nullopt;
  };
  const Case cases[] = {
      {"none", {{4, u"System"}, {300, u"explorer.exe"}}, {true, true}, false},
      {"one", {{4, u"System"}, {300, server}}, {true, false}, true},
      {"two", {{300, server}, {301, server}}, {false, true}, true},
      {"other case", {{300, u"quorin network driver.exe"}}, {true}, false},
      {"longer name", {{300, u"Quorin Network Driver.exe2"}}, {true}, false},
      // A copy of that name elsewhere neither stands in for the server nor is stopped.
      {"decoy first",
       {{300, server, true, false, 0, elsewhere}, {301, server}},
       {true, false},
       true},
      {"decoy only", {{300, server, true, false, 0, elsewhere}}, {true}, false},
      // The system reports the folder in its own letter case.
      {"folder case", {{300, server, true, false, 0, u"c:\\WINDOWS\\System32"}}, {false}, true},
      // The server ended after the list was taken and its ID went to another program.
      {"reused id", {{300, server}}, {true}, false, std::vector<P>{{300, u"notepad.exe"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
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
    w.processes.processes = {{300, u"Quorin Network Driver.exe", true, true}};
    EXPECT_EQ(ProcessKill(w.platform), 1603u);
    EXPECT_TRUE(RebootRequested(w));
  }
  {
    FakeWorld w;  // empty snapshot: no first entry
    EXPECT_EQ(FindProcessesByImageName(w.platform, kServerImageName), std::nullopt);
    EXPECT_EQ(ProcessKill(w.platform), 1603u);
    EXPECT_FALSE(RebootRequested(w));
  }
}

TEST(ProcessKill, EveryFailedCallGivesThePromisedResult) {
  FailEachCallInTurn(
      [](FakeWorld& w) {
        w.processes.processes = {{4, u"System"}, {300, u"Quorin Network Driver.exe"}};
      },
      [](FakeWorld& w) { return ProcessKill(w.platform); },
      [](FakeWorld& w, std::uint32_t result, const std::string& failed) {
        if (failed == "Process32Next") {  // a list cut short serves once it named the server
          EXPECT_EQ(result == 0u, !w.processes.processes[1].alive);
          EXPECT_EQ(RebootRequested(w), result == 0u);
          return;
        }
        const bool snapshotFailed =
            failed == "CreateToolhelp32Snapshot" || failed == "Process32First";
        // Whatever cannot be told to be the server is not stopped, and needs the restart.
        const bool openFailed = failed == "OpenProcess" || failed == "QueryFullProcessImageName";
        if (failed == "GetSystemDirectory") {
          EXPECT_EQ(result, 1603u);
          EXPECT_TRUE(w.processes.processes[1].alive);
          return;
        }
        EXPECT_EQ(result, snapshotFailed || openFailed ? 1603u : 0u);
        if (snapshotFailed) EXPECT_FALSE(w.registry.KeyExists(kInstallerKey));
        if (!snapshotFailed && failed != "TerminateProcess") {
          EXPECT_EQ(w.processes.processes[1].alive, openFailed);
        }
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
