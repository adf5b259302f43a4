#include "installer/driver_package.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "installer/common.h"
#include "tests/doubles/installer_fakes.h"
#include "tests/native/installer/fault_injection.h"

namespace orvel::installer {
namespace {

using fakes::FakeWorld;
using fakes::Version;

const Text kInf = u"C:\\pkg\\Orveldrv.inf";
const Text kDrivers = u"C:\\Windows\\system32\\drivers\\";
constexpr std::uint64_t kV5 = Version(1, 0, 0, 5);
constexpr std::uint64_t kV6 = Version(1, 0, 0, 6);

struct Tree {
  std::uint32_t acpi = 0, bus = 0, present = 0, absent = 0, other = 0, root = 0;
};

// A package in C:\pkg and a PCI bus, optionally with a present and a non-present product
// device, another vendor's device and a root-enumerated node.
Tree Machine(FakeWorld& w, bool withDevices, std::uint64_t packaged = kV6) {
  fakes::FakeDevices::Inf inf;
  inf.className = u"MEDIA";
  inf.service = u"vorvel_w10_64";
  w.devices.AddInf(kInf, inf);
  for (const auto& v : kDriverVariants) w.files.Add(u"C:\\pkg\\" + Text(v.file), packaged);
  w.session.properties[u"CustomActionData"] = kInf;
  w.session.properties[u"ProductCode"] = u"{11111111-2222-3333-4444-555555555555}";
  Tree t;
  auto& d = w.devices;
  t.acpi = d.AddNode(d.kRoot, u"ACPI_HAL", u"ACPI_HAL\\PNP0C08\\0", {u"ACPI_HAL\\PNP0C08"});
  t.bus = d.AddNode(t.acpi, u"ACPI", u"ACPI\\PNP0A08\\0", {u"ACPI\\PNP0A08"});
  if (withDevices) {
    t.present = d.AddNode(t.bus, u"PCI", u"PCI\\VANTOR\\1",
                          {u"pci\\ven_vantor&dev_0001", u"PCI\\Vantor\\Vorvel"}, u"vorvel_w10_64");
    t.absent = d.AddNode(t.bus, u"PCI", u"PCI\\VANTOR\\2", {u"PCI\\VANTOR\\VORVEL&REV_01"},
                         u"vorvel_w8_1_64", false);
    d.SetDriver(t.absent, u"oem4.inf");
    d.store[u"oem4.inf"] = u"c:\\old\\orveldrv.inf";
  }
  t.other = d.AddNode(t.bus, u"PCI", u"PCI\\OTHER\\1", {u"PCI\\VEN_8086&DEV_1234"}, u"e1000");
  t.root = d.AddNode(d.kRoot, u"ROOT", u"ROOT\\MEDIA\\0000", {u"root\\VANTOR\\VORVEL"}, u"VORVEL");
  return t;
}

bool RebootRequested(const FakeWorld& w) {
  return w.registry.GetDword(kInstallerKey, u"RebootRequest") == 0u &&
         w.registry.GetDword(kIntegratedInstallerKey, u"RebootRequest", RegView::k32) == 0u;
}

std::vector<Text> Recorded(const FakeWorld& w) {
  std::vector<Text> names;
  for (std::uint32_t i = 0; i < 5; ++i) {
    if (auto v = w.registry.GetString(kInstallerKey, IndexedName(u"OemInfFileName", i))) {
      names.push_back(*v);
    }
  }
  return names;
}

TEST(InstallKernelDriver, StagesThePackageWhenNoProductDeviceIsPresent) {
  FakeWorld w;
  Machine(w, false);
  w.registry.SetDword(kInstallerKey, u"RebootRequest", 0);
  EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
  EXPECT_EQ(w.devices.store.size(), 1u);
  EXPECT_EQ(Recorded(w), (std::vector<Text>{u"oem12.inf"}));
  EXPECT_TRUE(w.files.Exists(kDrivers + u"vorvel_w8_1_64.sys"));
  EXPECT_TRUE(w.files.Exists(kDrivers + u"vorvel_w10_64.sys"));
  EXPECT_FALSE(w.files.Exists(kDrivers + u"vorvel.sys"));
  for (const auto& call : w.files.installCalls) EXPECT_EQ(call.style, 0x2040u);
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"RebootRequest"));
  EXPECT_TRUE(w.session.messages.empty());
  EXPECT_EQ(w.OpenHandles(), 0u);
}

TEST(InstallKernelDriver, ACopyOverAFileInUseRequestsAReboot) {
  FakeWorld w;
  Machine(w, false);
  w.files.Add(kDrivers + u"vorvel_w10_64.sys", kV6, true);
  EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
  EXPECT_TRUE(w.files.replaceAtReboot.count(fakes::Lower(kDrivers + u"vorvel_w10_64.sys")));
  EXPECT_TRUE(RebootRequested(w));
}

TEST(InstallKernelDriver, UpdatesPresentDevicesAndRemovesAbsentOnes) {
  FakeWorld w;
  const Tree t = Machine(w, true);
  EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
  // The present device got the package, recorded from its driver key; nothing was copied.
  const auto& present = w.devices.nodes[t.present];
  ASSERT_FALSE(present.driverKey.empty());
  const auto oem = w.registry.GetString(present.driverKey, u"InfPath");
  ASSERT_TRUE(oem);
  EXPECT_EQ(Recorded(w), (std::vector<Text>{*oem}));
  EXPECT_TRUE(w.files.installCalls.empty());
  // The absent product device and its package are gone; the others stay.
  EXPECT_TRUE(w.devices.nodes[t.absent].removed);
  EXPECT_FALSE(w.devices.store.count(u"oem4.inf"));
  EXPECT_FALSE(w.devices.nodes[t.other].removed);
  EXPECT_FALSE(w.devices.nodes[t.root].removed);
  EXPECT_FALSE(RebootRequested(w));
  EXPECT_EQ(w.OpenHandles(), 0u);
}

TEST(InstallKernelDriver, RebootRequestsOfUpdatesAndRemovals) {
  {
    FakeWorld w;
    Machine(w, true);
    w.devices.infs.begin()->second.rebootOnUpdate = true;
    EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
    EXPECT_TRUE(RebootRequested(w));
  }
  {
    FakeWorld w;
    const Tree t = Machine(w, true);
    w.devices.nodes[t.absent].rebootOnRemove = true;
    EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
    EXPECT_TRUE(RebootRequested(w));
  }
}

TEST(InstallKernelDriver, AbsentDevicesWithForeignServiceKeepTheirPackage) {
  FakeWorld w;
  const Tree t = Machine(w, true);
  w.devices.nodes[t.absent].service = u"othersvc";
  const auto noService = w.devices.AddNode(t.bus, u"PCI", u"PCI\\VANTOR\\3",
                                           {u"PCI\\VANTOR\\VORVEL"}, std::nullopt, false);
  EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
  EXPECT_TRUE(w.devices.nodes[t.absent].removed);
  EXPECT_TRUE(w.devices.store.count(u"oem4.inf"));
  EXPECT_FALSE(w.devices.nodes[noService].removed);  // service unreadable: skipped
}

TEST(InstallKernelDriver, DefersToARebootWhileAServiceIsPendingDeletion) {
  FakeWorld w;
  const Tree t = Machine(w, true);
  w.services.Add(u"VORVEL");
  w.services.Add(u"vorvel_w10_64", {false, true, false});
  EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
  EXPECT_TRUE(RebootRequested(w));
  EXPECT_EQ(w.registry.GetString(kRunOnceKey, kRunOnceValue),
            u"msiexec /fa {11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(w.registry.GetString(kInstallerKey, u"Argument"), kInf);
  EXPECT_FALSE(w.devices.nodes[t.absent].removed);
  EXPECT_TRUE(w.devices.store.count(u"oem4.inf"));
  EXPECT_EQ(w.devices.store.size(), 1u);
  EXPECT_EQ(w.devices.updates, 0);
  EXPECT_EQ(w.OpenHandles(), 0u);

  // After the restart the repair takes the path from "Argument" and deletes it.
  w.services.services.clear();
  w.session.properties.erase(u"CustomActionData");
  EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"Argument"));
  EXPECT_EQ(w.devices.updates, 1);
}

TEST(InstallKernelDriver, ArgumentWinsOverCustomActionData) {
  FakeWorld w;
  Machine(w, false);
  w.session.properties[u"CustomActionData"] = u"C:\\elsewhere\\x.inf";
  w.registry.SetString(kInstallerKey, u"Argument", kInf);
  EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
  EXPECT_EQ(w.devices.store.begin()->second, fakes::Lower(kInf));
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"Argument"));
}

TEST(InstallKernelDriver, RefusesWithoutAUsableInfPath) {
  struct Case {
    const char* name;
    std::optional<Text> customActionData;
    std::optional<Text> argument;
  };
  const Case cases[] = {
      {"missing", std::nullopt, std::nullopt},
      {"empty", Text(), std::nullopt},
      {"260 characters", Text(u"C:\\") + Text(257, u'a'), std::nullopt},
      {"Argument of 260 characters", kInf, Text(u"C:\\") + Text(257, u'a')},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    Machine(w, false);
    w.session.properties.erase(u"CustomActionData");
    if (c.customActionData) w.session.properties[u"CustomActionData"] = *c.customActionData;
    if (c.argument) w.registry.SetString(kInstallerKey, u"Argument", *c.argument);
    w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem9.inf");
    w.devices.store[u"oem9.inf"] = u"x";
    EXPECT_EQ(InstallKernelDriver(w.platform), 1603u);
    EXPECT_EQ(w.devices.store.count(u"oem12.inf"), 0u);
    // Refused before anything but "Argument" changes; that goes whether usable or not.
    EXPECT_EQ(w.devices.store.count(u"oem9.inf"), 1u);
    EXPECT_EQ(Recorded(w), (std::vector<Text>{u"oem9.inf"}));
    EXPECT_FALSE(w.registry.Get(kInstallerKey, u"Argument"));
    EXPECT_EQ(w.OpenHandles(), 0u);
    // So the next install takes "CustomActionData" again.
    if (c.argument) {
      EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
      EXPECT_EQ(w.devices.store.count(u"oem12.inf"), 1u);
    }
  }
  FakeWorld w;  // 259 characters still fit
  Machine(w, false);
  const Text longest = Text(u"C:\\") + Text(256, u'a');
  w.session.properties[u"CustomActionData"] = longest;
  EXPECT_EQ(InstallKernelDriver(w.platform), 1603u);  // not an INF the store knows
  ASSERT_EQ(w.session.messages.size(), 1u);
  EXPECT_EQ(w.session.messages[0].number, 25005);
  EXPECT_EQ(w.session.messages[0].kind, kInstallMessageError);
}

TEST(InstallKernelDriver, VersionGuard) {
  struct Case {
    const char* name;
    std::uint64_t packaged;
    std::optional<std::uint64_t> installed;  // of vorvel_w10_64.sys; none: no resource
    bool refused;
  };
  const Case cases[] = {
      {"installed newer", kV5, kV6, true},
      {"packaged newer", kV6, kV5, false},
      {"equal", kV6, kV6, false},
      {"installed without version resource", kV6, std::nullopt, false},
      {"packaged without version", 0, kV5, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    Machine(w, false, kV6);
    if (c.packaged == 0) {
      w.files.files[fakes::Lower(u"C:\\pkg\\vorvel_w10_64.sys")].version.reset();
    } else {
      w.files.files[fakes::Lower(u"C:\\pkg\\vorvel_w10_64.sys")].version = c.packaged;
    }
    w.files.Add(kDrivers + u"vorvel_w10_64.sys", c.installed);
    w.registry.SetString(kInstallerKey, u"InstalledDirectory", u"C:\\pkg");
    w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem3.inf");
    w.devices.store[u"oem3.inf"] = u"c:\\newer\\orveldrv.inf";
    w.plan.calls.clear();
    EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
    const bool messaged = !w.session.messages.empty();
    EXPECT_EQ(messaged, c.refused);
    if (messaged) {
      EXPECT_EQ(w.session.messages[0].kind, kInstallMessageUser);
      EXPECT_EQ(w.session.messages[0].number, 25008);
    }
    EXPECT_EQ(w.session.Logged(u"refused (25008)"), c.refused ? 1u : 0u);
    // A refusal keeps the recorded packages of the newer driver; otherwise they go once.
    EXPECT_EQ(w.devices.store.count(u"oem3.inf"), c.refused ? 1u : 0u);
    EXPECT_EQ(Recorded(w),
              c.refused ? std::vector<Text>{u"oem3.inf"} : std::vector<Text>{u"oem12.inf"});
  }
}

TEST(ReenumeratePciDevices, ReenumeratesPciNodesWithoutDescending) {
  FakeWorld w;
  const Tree t = Machine(w, true);
  const auto child = w.devices.AddNode(t.present, u"PCI", u"PCI\\CHILD\\1", {u"x"});
  const auto deep = w.devices.AddNode(t.root, u"SW", u"SW\\1", {u"y"});
  ReenumeratePciDevices(w.platform);
  EXPECT_EQ(w.devices.nodes[t.present].reenumerations, 1);
  EXPECT_EQ(w.devices.nodes[t.absent].reenumerations, 1);
  EXPECT_EQ(w.devices.nodes[t.other].reenumerations, 1);
  EXPECT_EQ(w.devices.nodes[child].reenumerations, 0);
  EXPECT_EQ(w.devices.nodes[t.bus].reenumerations, 0);
  EXPECT_EQ(w.devices.nodes[deep].reenumerations, 0);
  const auto visitedDeep =
      std::count(w.plan.calls.begin(), w.plan.calls.end(), "CM_Get_DevNode_Registry_Property");
  EXPECT_EQ(visitedDeep, 8);  // root, two ACPI nodes, three PCI devices, ROOT node, SW node
}

TEST(Uninstall, RemovesDevicesServicesFilesAndRecords) {
  FakeWorld w;
  const Tree t = Machine(w, true);
  auto& d = w.devices;
  d.SetDriver(t.present, u"oem12.inf");
  d.store[u"oem12.inf"] = fakes::Lower(kInf);
  const auto foreign =
      d.AddNode(t.bus, u"PCI", u"PCI\\VANTOR\\4", {u"PCI\\VANTOR\\VORVEL"}, u"othersvc");
  d.SetDriver(foreign, u"oem20.inf");
  const auto noKey =
      d.AddNode(t.bus, u"PCI", u"PCI\\VANTOR\\5", {u"PCI\\VANTOR\\VORVEL"}, u"vorvel_w10_32");
  for (const auto& v : kDriverVariants) w.services.Add(v.service);
  w.services.services[u"vorvel_w10_64"].refusesStop = true;
  w.files.Add(kDrivers + u"vorvel.sys");
  w.files.Add(kDrivers + u"vorvel_w10_64.sys", kV6, true);
  // A link under a driver's name is not followed, nor deleted in its place.
  w.files.Add(kDrivers + u"vorvel_w8_1_64.sys", std::nullopt, false, kFileAttributeReparsePoint);
  w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem30.inf");
  d.store[u"oem30.inf"] = u"c:\\x.inf";
  w.registry.SetString(kInstallerKey, u"InstalledDirectory", u"C:\\x");
  w.registry.SetString(kRunOnceKey, kRunOnceValue, u"msiexec /fa {x}");
  w.registry.SetDword(kInstallerKey, u"RebootRequest", 0);

  EXPECT_EQ(Uninstall(w.platform), 0u);
  EXPECT_TRUE(d.nodes[t.present].removed);
  EXPECT_TRUE(d.nodes[t.absent].removed);
  EXPECT_FALSE(d.nodes[foreign].removed);
  EXPECT_FALSE(d.nodes[noKey].removed);
  EXPECT_FALSE(d.nodes[t.other].removed);
  EXPECT_FALSE(d.nodes[t.root].removed);  // the root node is DelDeviceInfo's
  EXPECT_FALSE(d.store.count(u"oem12.inf"));
  EXPECT_FALSE(d.store.count(u"oem4.inf"));
  EXPECT_FALSE(d.store.count(u"oem30.inf"));
  EXPECT_FALSE(w.services.Exists(u"VORVEL"));
  EXPECT_FALSE(w.services.Exists(u"vorvel_w8_1_64"));
  EXPECT_TRUE(w.services.services[u"vorvel_w10_64"].markedForDelete);
  EXPECT_FALSE(w.files.Exists(kDrivers + u"vorvel.sys"));
  EXPECT_TRUE(w.files.deleteAtReboot.count(fakes::Lower(kDrivers + u"vorvel_w10_64.sys")));
  EXPECT_TRUE(w.files.Exists(kDrivers + u"vorvel_w8_1_64.sys"));
  EXPECT_FALSE(w.files.deleteAtReboot.count(fakes::Lower(kDrivers + u"vorvel_w8_1_64.sys")));
  EXPECT_TRUE(RebootRequested(w));  // the refused stop and the file in use
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"OemInfFileName0000"));
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"InstalledDirectory"));
  EXPECT_FALSE(w.registry.Get(kRunOnceKey, kRunOnceValue));
  EXPECT_EQ(w.OpenHandles(), 0u);

  // The service still marked for deletion makes the next install wait for the restart.
  EXPECT_EQ(InstallKernelDriver(w.platform), 0u);
  EXPECT_TRUE(w.registry.Get(kInstallerKey, u"Argument"));
}

TEST(Uninstall, AFailedDeviceListStillRemovesServicesFilesAndRecords) {
  FakeWorld w;
  Machine(w, true);
  for (const auto& v : kDriverVariants) w.services.Add(v.service);
  w.files.Add(kDrivers + u"vorvel_w10_64.sys", kV6);
  w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem30.inf");
  w.devices.store[u"oem30.inf"] = u"c:\\x.inf";
  w.plan.failing.insert("SetupDiGetClassDevs");
  EXPECT_EQ(Uninstall(w.platform), 0u);
  for (const auto& v : kDriverVariants) EXPECT_FALSE(w.services.Exists(v.service));
  EXPECT_FALSE(w.files.Exists(kDrivers + u"vorvel_w10_64.sys"));
  EXPECT_FALSE(w.devices.store.count(u"oem30.inf"));
  EXPECT_FALSE(w.registry.Get(kInstallerKey, u"OemInfFileName0000"));
  EXPECT_EQ(w.session.Logged(u"SetupDiGetClassDevsW(PCI) failed"), 1u);
  EXPECT_EQ(w.session.Logged(u"deleting service "), 3u);
}

TEST(Uninstall, EveryFailedCallStillGivesSuccess) {
  FailEachCallInTurn(
      [](FakeWorld& w) {
        const Tree t = Machine(w, true);
        w.devices.SetDriver(t.present, u"oem12.inf");
        for (const auto& v : kDriverVariants) w.services.Add(v.service);
        w.files.Add(kDrivers + u"vorvel.sys", kV6, true);
        w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem12.inf");
      },
      [](FakeWorld& w) { return Uninstall(w.platform); },
      [](FakeWorld&, std::uint32_t result, const std::string&) { EXPECT_EQ(result, 0u); });
}

TEST(InstallKernelDriver, EveryFailedCallGivesThePromisedResult) {
  for (bool withDevices : {false, true}) {
    SCOPED_TRACE(withDevices ? "update path" : "staging path");
    FailEachCallInTurn(
        [&](FakeWorld& w) {
          Machine(w, withDevices);
          w.services.Add(u"VORVEL");
          w.files.Add(kDrivers + u"vorvel_w10_64.sys", kV5);
          w.registry.SetString(kInstallerKey, u"OemInfFileName0000", u"oem4.inf");
        },
        [](FakeWorld& w) { return InstallKernelDriver(w.platform); },
        [&](FakeWorld& w, std::uint32_t result, const std::string& failed) {
          const bool noPath = failed == "MsiGetProperty";
          const bool noStaging = !withDevices && failed == "SetupCopyOEMInf";
          EXPECT_EQ(result, noPath || noStaging ? 1603u : 0u);
          if (noStaging) {
            ASSERT_EQ(w.session.messages.size(), 1u);
            EXPECT_EQ(w.session.messages[0].number, 25005);
          }
        });
  }
}

TEST(InstallKernelDriver, PendingDeletionPathUnderFailures) {
  FailEachCallInTurn(
      [](FakeWorld& w) {
        Machine(w, true);
        w.services.Add(u"vorvel_w8_1_64", {false, true, false});
      },
      [](FakeWorld& w) { return InstallKernelDriver(w.platform); },
      [](FakeWorld&, std::uint32_t result, const std::string& failed) {
        // Only the path read can fail the action; a failed product-code read only loses
        // the repair command.
        if (failed != "MsiGetProperty") EXPECT_EQ(result, 0u);
        if (result != 0) EXPECT_EQ(result, 1603u);
      });
}

TEST(CleanupInstall, SchedulesTheRequestedRebootUnlessLaunchedByTheIntegrator) {
  struct Case {
    const char* name;
    const char16_t* launched;
    std::optional<fakes::FakeRegistry::Value> request;
    bool schedules;
  };
  const auto dword = [](std::uint32_t v) {
    fakes::FakeRegistry::Value value{kRegDword, std::vector<std::uint8_t>(4)};
    std::memcpy(value.data.data(), &v, 4);
    return value;
  };
  const Case cases[] = {
      {"requested", nullptr, dword(0), true},
      {"integrator", u"1", dword(0), false},
      {"integrator other value", u"11", dword(0), true},
      {"absent", nullptr, std::nullopt, false},
      {"non-zero", nullptr, dword(1), false},
      {"binary zeros count", nullptr, fakes::FakeRegistry::Value{kRegBinary, {0, 0, 0, 0}}, true},
      {"short value", nullptr, fakes::FakeRegistry::Value{kRegSz, {0, 0}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeWorld w;
    if (c.launched) w.session.properties[u"LAUNCHEDBYINTEGRATOR"] = c.launched;
    if (c.request) {
      w.registry.SetRaw(kInstallerKey, u"RebootRequest", *c.request);
    }
    EXPECT_EQ(CleanupInstall(w.platform), 0u);
    EXPECT_EQ(w.session.actions.size(), c.schedules ? 1u : 0u);
    if (c.schedules) {
      EXPECT_EQ(w.session.actions[0], u"ScheduleReboot");
      EXPECT_EQ(w.session.properties[u"RebootRequest"], u"0");
    }
    EXPECT_EQ(w.OpenHandles(), 0u);
  }
  FailEachCallInTurn(
      [](FakeWorld& w) { w.registry.SetDword(kInstallerKey, u"RebootRequest", 0); },
      [](FakeWorld& w) { return CleanupInstall(w.platform); },
      [](FakeWorld&, std::uint32_t result, const std::string&) { EXPECT_EQ(result, 0u); });
}

}  // namespace
}  // namespace orvel::installer
