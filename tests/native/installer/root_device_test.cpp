#include "installer/root_device.h"

#include <gtest/gtest.h>

#include <set>

#include "installer/common.h"
#include "tests/doubles/installer_fakes.h"
#include "tests/native/installer/fault_injection.h"

namespace orvel::installer {
namespace {

using fakes::FakeWorld;

const Text kRootDeviceInf =
    u"C:\\Program Files (x86)\\vantor\\Vantor Quorin Network Driver\\Orveldrv.inf";

void InstallPackage(FakeWorld& w, const Text& path = kRootDeviceInf) {
  fakes::FakeDevices::Inf inf;
  inf.classGuid.data1 = 0x4d36e96c;
  inf.className = u"MEDIA";
  inf.service = u"vorvel_w10_64";
  w.devices.AddInf(path, inf);
}

std::size_t Nodes(const FakeWorld& w) { return w.devices.LiveNodes(kRootHardwareId).size(); }

TEST(SetDeviceInfo, KeepsOneNodeHoweverOftenItRunsAndDelDeviceInfoRemovesAll) {
  FakeWorld w;
  InstallPackage(w);
  w.registry.SetDword(kInstallerKey, u"RebootRequest", 0);
  EXPECT_EQ(SetDeviceInfo(w.platform), 0u);
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"RebootRequest"));
  // A repair, a modify or an upgrade runs it again: the driver goes on the same node.
  EXPECT_EQ(SetDeviceInfo(w.platform), 0u);
  EXPECT_EQ(Nodes(w), 1u);
  EXPECT_EQ(w.devices.updates, 2);
  EXPECT_EQ(CreateRootDevice(w.platform, kRootDeviceInf, kRootHardwareId), kDeviceDone);
  ASSERT_EQ(Nodes(w), 2u);
  for (auto id : w.devices.LiveNodes(kRootHardwareId)) {
    EXPECT_EQ(w.devices.nodes[id].enumerator, u"ROOT");
    EXPECT_EQ(w.devices.nodes[id].service, u"vorvel_w10_64");  // the driver was installed
  }
  // The ID list handed over: the ID, a second terminator, (length + 2) * 2 bytes.
  const auto& bytes = w.devices.lastHardwareIdBytes;
  ASSERT_EQ(bytes.size(), (kRootHardwareId.size() + 2) * 2);
  EXPECT_EQ(fakes::FromBytes(bytes), kRootHardwareId);
  EXPECT_EQ(bytes[bytes.size() - 1] | bytes[bytes.size() - 2] | bytes[bytes.size() - 3], 0);
  EXPECT_EQ(w.OpenHandles(), 0u);

  EXPECT_EQ(DelDeviceInfo(w.platform), 0u);
  EXPECT_EQ(Nodes(w), 0u);
  EXPECT_EQ(w.devices.removedNodes.size(), 2u);
  EXPECT_EQ(DelDeviceInfo(w.platform), 0u);  // nothing left to match
  EXPECT_EQ(w.OpenHandles(), 0u);
}

TEST(RemoveDevicesByHardwareId, MatchesWholeIdsWithoutRegardToCase) {
  FakeWorld w;
  auto& d = w.devices;
  const auto upper = d.AddNode(d.kRoot, u"ROOT", u"ROOT\\MEDIA\\0000", {u"ROOT\\vantor\\vorvel"});
  const auto longer = d.AddNode(d.kRoot, u"ROOT", u"ROOT\\MEDIA\\0001", {u"root\\VANTOR\\VORVEL2"});
  const auto prefix = d.AddNode(d.kRoot, u"ROOT", u"ROOT\\MEDIA\\0002", {u"root\\VANTOR"});
  const auto compatible = d.AddNode(d.kRoot, u"ROOT", u"ROOT\\MEDIA\\0003", {u"x"});
  d.nodes[compatible].compatibleIds = {u"a", u"ROOT\\VANTOR\\VORVEL"};
  const auto absent =
      d.AddNode(d.kRoot, u"ROOT", u"ROOT\\MEDIA\\0004", {u"root\\VANTOR\\VORVEL"}, {}, false);
  // Over 8192 bytes of IDs: read again with a bigger buffer.
  std::vector<Text> many(200, Text(30, u'z'));
  many.push_back(u"root\\vantor\\VORVEL");
  const auto big = d.AddNode(d.kRoot, u"ROOT", u"ROOT\\MEDIA\\0005", many);
  const auto refuses = d.AddNode(d.kRoot, u"ROOT", u"ROOT\\MEDIA\\0006", {u"root\\VANTOR\\VORVEL"});
  d.nodes[refuses].refuseRemove = true;

  EXPECT_EQ(RemoveDevicesByHardwareId(w.platform, kRootHardwareId), kDeviceDone);
  EXPECT_TRUE(d.nodes[upper].removed);
  EXPECT_FALSE(d.nodes[longer].removed);
  EXPECT_FALSE(d.nodes[prefix].removed);
  EXPECT_TRUE(d.nodes[compatible].removed);
  EXPECT_FALSE(d.nodes[absent].removed);  // only present devices are listed
  EXPECT_TRUE(d.nodes[big].removed);
  EXPECT_FALSE(d.nodes[refuses].removed);  // skipped silently
  EXPECT_EQ(w.OpenHandles(), 0u);
}

TEST(RemoveDevicesByHardwareId, ARestartIsReportedAsFailure) {
  FakeWorld w;
  const auto n =
      w.devices.AddNode(w.devices.kRoot, u"ROOT", u"ROOT\\MEDIA\\0000", {u"root\\VANTOR\\VORVEL"});
  w.devices.nodes[n].rebootOnRemove = true;
  EXPECT_EQ(RemoveDevicesByHardwareId(w.platform, kRootHardwareId), kDeviceDoneRestart);
  EXPECT_TRUE(w.devices.nodes[n].removed);
  const auto m =
      w.devices.AddNode(w.devices.kRoot, u"ROOT", u"ROOT\\MEDIA\\0001", {u"root\\VANTOR\\VORVEL"});
  w.devices.nodes[m].rebootOnRemove = true;
  EXPECT_EQ(DelDeviceInfo(w.platform), 1603u);
}

TEST(CreateRootDevice, RefusalsAndFailures) {
  struct Case {
    const char* name;
    Text inf;
    Text hardwareId;
    bool packageInstalled;
    bool updateFails;
    bool reboot;
    std::uint32_t result;
    std::size_t nodesAfter;
  };
  const Text inf(kRootDeviceInf);
  const Text id(kRootHardwareId);
  const Case cases[] = {
      {"ok", inf, id, true, false, false, kDeviceDone, 1},
      {"empty INF", u"", id, true, false, false, kDeviceBadArgument, 0},
      {"empty ID", inf, u"", true, false, false, kDeviceBadArgument, 0},
      {"INF missing", inf, id, false, false, false, kDeviceFailed, 0},
      {"driver update fails", inf, id, true, true, false, kDeviceFailed, 1},
      {"restart", inf, id, true, false, true, kDeviceDoneRestart, 1},
      {"INF path of 260", Text(260, u'a'), id, true, false, false, kDeviceFailed, 0},
      {"ID of 256", inf, Text(256, u'A'), true, false, false, kDeviceFailed, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    if (c.packageInstalled) {
      InstallPackage(w);
      w.devices.infs.begin()->second.updateFails = c.updateFails;
      w.devices.infs.begin()->second.rebootOnUpdate = c.reboot;
    }
    EXPECT_EQ(CreateRootDevice(w.platform, c.inf, c.hardwareId), c.result);
    EXPECT_EQ(Nodes(w), c.nodesAfter);
    EXPECT_EQ(w.devices.PendingElements(), 0u);
    EXPECT_EQ(w.OpenHandles(), 0u);
    if (c.result == kDeviceDone) {
      EXPECT_EQ(SetDeviceInfo(w.platform), 0u);
    } else if (c.inf == inf && c.hardwareId == id) {
      EXPECT_EQ(SetDeviceInfo(w.platform), 1603u);
    }
  }
  FakeWorld w;  // an ID of 255 units still fits
  fakes::FakeDevices::Inf any;
  w.devices.AddInf(kRootDeviceInf, any);
  const Text id255(255, u'B');
  w.devices.AddNode(w.devices.kRoot, u"ROOT", u"ROOT\\X\\0000", {id255});
  EXPECT_EQ(CreateRootDevice(w.platform, kRootDeviceInf, id255), kDeviceDone);
}

TEST(SetDeviceInfo, FindsTheInfUnderTheMachinesProgramFilesAndMakesNoNodeWhenItMustNot) {
  struct Case {
    const char* name;
    Text programFiles;
    bool pendingDeletion;
    std::optional<std::uint64_t> installed;  // vorvel_w10_64.sys in the drivers folder
    std::uint32_t result;
    std::size_t nodes;
  };
  const Case cases[] = {
      {"another drive", u"D:\\Apps (x86)\\", false, std::nullopt, 0, 1},
      {"a service pending deletion", u"C:\\Program Files (x86)", true, std::nullopt, 0, 0},
      {"a newer driver installed", u"C:\\Program Files (x86)", false, fakes::Version(1, 0, 0, 7), 0,
       0},
      {"an older driver installed", u"C:\\Program Files (x86)", false, fakes::Version(1, 0, 0, 5),
       0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    w.files.programFilesX86 = c.programFiles;
    const Text folder = RemoveBackslash(c.programFiles) + u"\\vantor\\Vantor Quorin Network Driver";
    InstallPackage(w, folder + u"\\Orveldrv.inf");
    w.files.Add(folder + u"\\vorvel_w10_64.sys", fakes::Version(1, 0, 0, 6));
    if (c.installed) w.files.Add(u"C:\\Windows\\system32\\drivers\\vorvel_w10_64.sys", c.installed);
    if (c.pendingDeletion) w.services.Add(u"vorvel_w10_64", {false, true, false});
    EXPECT_EQ(SetDeviceInfo(w.platform), c.result);
    EXPECT_EQ(Nodes(w), c.nodes);
    EXPECT_EQ(w.devices.updates, static_cast<int>(c.nodes));
  }
}

TEST(SetDeviceInfo, EveryFailedCallGivesAPromisedResultAndLeavesNothingOpen) {
  FailEachCallInTurn([](FakeWorld& w) { InstallPackage(w); },
                     [](FakeWorld& w) { return SetDeviceInfo(w.platform); },
                     [](FakeWorld& w, std::uint32_t result, const std::string& failed) {
                       // Only the INF path and the making of the node and its driver count.
                       static const std::set<std::string> fatal = {
                           "SHGetFolderPath",
                           "GetFullPathName",
                           "GetFileAttributes",
                           "SetupDiGetINFClass",
                           "SetupDiCreateDeviceInfoList",
                           "SetupDiCreateDeviceInfo",
                           "SetupDiSetDeviceRegistryProperty",
                           "DIF_REGISTERDEVICE",
                           "LoadLibrary",
                           "GetProcAddress",
                           "UpdateDriverForPlugAndPlayDevices"};
                       EXPECT_EQ(result, fatal.count(failed) ? 1603u : 0u) << failed;
                       EXPECT_EQ(w.devices.PendingElements(), 0u);
                     });
}

TEST(DelDeviceInfo, EveryFailedCallGivesThePromisedResult) {
  FailEachCallInTurn(
      [](FakeWorld& w) {
        w.devices.AddNode(w.devices.kRoot, u"ROOT", u"ROOT\\MEDIA\\0000",
                          {u"root\\VANTOR\\VORVEL"});
      },
      [](FakeWorld& w) { return DelDeviceInfo(w.platform); },
      [](FakeWorld& w, std::uint32_t result, const std::string& failed) {
        // Only a set that cannot be made or described fails; a device that cannot be
        // removed is skipped.
        // The first two calls make and describe the set.
        const bool setFailed = *w.plan.failAt <= 1;
        EXPECT_TRUE(!setFailed || failed == "SetupDiGetClassDevsEx" ||
                    failed == "SetupDiGetDeviceInfoListDetail");
        EXPECT_EQ(result, setFailed ? 1603u : 0u);
      });
}

}  // namespace
}  // namespace orvel::installer
