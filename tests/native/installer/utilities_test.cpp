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

TEST(ProcessKill, StopsOnlyTheFirstExactMatch) {
  struct Case {
    const char* name;
    std::vector<fakes::FakeProcesses::Process> processes;
    std::vector<bool> aliveAfter;
    bool reboot;
  };
  const Case cases[] = {
      {"none", {{4, u"System"}, {300, u"explorer.exe"}}, {true, true}, false},
      {"one", {{4, u"System"}, {300, u"Quorin Network Driver.exe"}}, {true, false}, true},
      {"two",
       {{300, u"Quorin Network Driver.exe"}, {301, u"Quorin Network Driver.exe"}},
       {false, true},
       true},
      {"other case", {{300, u"quorin network driver.exe"}}, {true}, false},
      {"longer name", {{300, u"Quorin Network Driver.exe2"}}, {true}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    w.processes.processes = c.processes;
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
    EXPECT_EQ(FindProcessByImageName(w.platform, kServerImageName), kProcessSnapshotError);
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
        const bool snapshotFailed = failed == "CreateToolhelp32Snapshot" ||
                                    failed == "Process32First" || failed == "Process32Next";
        const bool openFailed = failed == "OpenProcess";
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

TEST(DelSystem32DllFile, DeletesOrSchedulesTheCopy) {
  const Text path = u"c:\\windows\\syswow64\\Orveldrv.dll";
  {
    FakeWorld w;
    EXPECT_EQ(delSystem32DllFile(w.platform), 0u);
    EXPECT_FALSE(RebootRequested(w));
  }
  {
    FakeWorld w;
    w.files.Add(path);
    EXPECT_EQ(delSystem32DllFile(w.platform), 0u);
    EXPECT_FALSE(w.files.Exists(path));
    EXPECT_FALSE(RebootRequested(w));
  }
  {
    FakeWorld w;
    w.files.Add(u"C:\\WINDOWS\\SysWOW64\\ORVELDRV.DLL", std::nullopt, true);
    EXPECT_EQ(delSystem32DllFile(w.platform), 0u);
    EXPECT_TRUE(w.files.deleteAtReboot.count(fakes::Lower(path)));
    EXPECT_TRUE(RebootRequested(w));
  }
  FailEachCallInTurn(
      [&](FakeWorld& w) { w.files.Add(path, std::nullopt, true); },
      [](FakeWorld& w) { return delSystem32DllFile(w.platform); },
      [](FakeWorld&, std::uint32_t result, const std::string&) { EXPECT_EQ(result, 0u); });
}

}  // namespace
}  // namespace orvel::installer
