#include "config/autodetect/setup_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "config/autodetect/address_scan.h"
#include "config/autodetect/auto_detect_flow.h"
#include "config/autodetect/merge.h"
#include "config/autodetect/range_rules.h"
#include "tests/doubles/autodetect_range_view.h"
#include "tests/doubles/autodetect_scan_display.h"
#include "tests/doubles/fake_server_channel.h"
#include "tests/doubles/memory_profile_store.h"

namespace orvel::autodetect {
namespace {

using testing::MemoryProfileStore;
using F = RangeField;

constexpr std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
         static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

std::array<DeviceEntry, kSlotCount> DefaultEntries() {
  std::array<DeviceEntry, kSlotCount> entries;
  for (int i = 0; i < kSlotCount; ++i) entries[static_cast<std::size_t>(i)] = DefaultDeviceEntry(i);
  return entries;
}

std::array<DeviceEntry, kSlotCount> ThreeUnits() {
  auto entries = DefaultEntries();
  entries[0] = {"Mixer", Ip(192, 168, 0, 2), "00A0DE000001", 0, 1};
  entries[1] = {"Stage Box", Ip(192, 168, 0, 3), "00A0DE000002", 5, 1};
  entries[2] = {"Monitor", Ip(200, 1, 2, 3), "00a0de000003", 15, 0};
  return entries;
}

class DialogFixture {
 public:
  explicit DialogFixture(const std::array<DeviceEntry, kSlotCount>& entries = ThreeUnits(),
                         std::uint32_t start = Ip(192, 168, 0, 2), std::int32_t stop = 2) {
    fields.Attach(rules);
    server.Find();
    rules.FillRangeFields(start, stop);
    scan = std::make_unique<AddressScan>(&server, timer, display, rules, MakeWorkingTable(entries),
                                         start);
  }
  testing::FakeServerChannel server;
  testing::FakeScanTimer timer;
  testing::FakeScanDisplay display;
  testing::FakeRangeFields fields;
  RangeRules rules{fields};
  std::unique_ptr<AddressScan> scan;
};

// A store holding a valid slot 0 and whatever else a case needs.
MemoryProfileStore SlotZero() {
  MemoryProfileStore store;
  store.Set("Device Name", "0", "Mixer");
  store.Set("IP Address", "0", "-1062731774");
  store.Set("Protect No", "0", "00A0DE000001");
  store.Set("Device ID", "0", "3");
  return store;
}

TEST(SetupFile, ExportWritesEverySlotInOrder) {
  MemoryProfileStore store;
  const auto entries = ThreeUnits();
  WriteSetupFile({entries, Ip(192, 168, 0, 2), 40}, store);
  ASSERT_EQ(store.writes.size(), 256u * 5 + 2);
  const char* sections[] = {"Device Name", "IP Address", "Protect No", "Device ID", "Tcp"};
  for (std::size_t i = 0; i < 256; ++i) {
    for (std::size_t k = 0; k < 5; ++k) {
      const auto& w = store.writes[i * 5 + k];
      EXPECT_EQ(w.section, sections[k]);
      EXPECT_EQ(w.key, std::to_string(i));
    }
  }
  EXPECT_EQ(store.writes[0].value, "Mixer");
  EXPECT_EQ(store.writes[1].value, "-1062731774");
  EXPECT_EQ(store.writes[13].value, "15");
  EXPECT_EQ(store.writes[14].value, "0");
  EXPECT_EQ(store.writes[255 * 5].value, "UNIT256");
  EXPECT_EQ(store.writes[255 * 5 + 1].value, "0");
  EXPECT_EQ(store.writes[255 * 5 + 2].value, "00");
  EXPECT_EQ(store.writes[1280], (MemoryProfileStore::Write{"Net Address", "Value", "-1062731774"}));
  EXPECT_EQ(store.writes[1281], (MemoryProfileStore::Write{"Stop Address Field3", "Value", "40"}));
}

TEST(SetupFile, ExportTakesTheLastScanStartAndTheCurrentStop) {
  DialogFixture d;
  // Changed start fields without a scan: the old start, the new stop.
  d.fields.TabTo(F::kStart4);
  d.fields.TypeText("77");
  d.fields.TabTo(F::kStop);
  d.fields.TypeText("100");
  MemoryProfileStore store;
  ExportSetupFile(*d.scan, d.rules, store);
  EXPECT_EQ(store.Get("Net Address", "Value"), "-1062731774");  // 192.168.0.2
  EXPECT_EQ(store.Get("Stop Address Field3", "Value"), "100");

  // After a scan, its start.
  d.scan->StartScan();
  d.timer.Run(*d.scan);
  d.fields.TabTo(F::kStart3);
  d.fields.TypeText("9");
  MemoryProfileStore after;
  ExportSetupFile(*d.scan, d.rules, after);
  EXPECT_EQ(after.Get("Net Address", "Value"),
            std::to_string(static_cast<std::int32_t>(Ip(192, 168, 0, 77))));
}

TEST(SetupFile, ExportedFileImportsAsTheSameTable) {
  DialogFixture from;
  MemoryProfileStore store;
  ExportSetupFile(*from.scan, from.rules, store);

  DialogFixture to(DefaultEntries(), Ip(10, 0, 0, 1), 9);
  ASSERT_TRUE(ImportSetupFile(*to.scan, to.rules, store));
  EXPECT_EQ(to.scan->tableCopy(), MakeWorkingTable(ThreeUnits()));
  EXPECT_EQ(to.scan->scanStartAddress(), Ip(192, 168, 0, 2));
  EXPECT_EQ(to.rules.rangeStart(), Ip(192, 168, 0, 2));
  EXPECT_EQ(to.rules.scanStopOctet(), 2);

  WorkingTable slots{};
  for (auto& slot : slots) slot.checkState = 4;
  int rowCount = 1;
  const MergeResult merged = MergeIntoTable(slots, rowCount, &to.scan->tableCopy(), {});
  EXPECT_TRUE(merged.replaced);
  EXPECT_EQ(rowCount, 3);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    EXPECT_EQ(slots[i].entry, ThreeUnits()[i]);
    EXPECT_EQ(slots[i].checkState, 0);
    EXPECT_EQ(slots[i].macBytes, ParseMacText(ThreeUnits()[i].macText));
  }
}

TEST(SetupFile, FilesThatAreNotSetupFiles) {
  struct Case {
    const char* name;
    const char* section;
    const char* value;  // null: the key is missing
  };
  const std::vector<Case> cases = {
      {"name ERROR", "Device Name", "ERROR"},    {"no name", "Device Name", nullptr},
      {"MAC text ERROR", "Protect No", "ERROR"}, {"no MAC text", "Protect No", nullptr},
      {"no address", "IP Address", nullptr},     {"address 255.255.255.255", "IP Address", "-1"},
      {"no port", "Device ID", nullptr},         {"port -1", "Device ID", "-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryProfileStore store;
    for (const char* section : {"Device Name", "IP Address", "Protect No", "Device ID"}) {
      if (std::string(section) == c.section) {
        if (c.value != nullptr) store.Set(section, "0", c.value);
      } else {
        store.Set(section, "0", std::string(section) == "IP Address" ? "5" : "1");
      }
    }
    store.Set("Net Address", "Value", "167772161");
    EXPECT_EQ(ReadSetupFile(store), std::nullopt);

    DialogFixture d;
    d.server.answering[Ip(192, 168, 0, 2)] = true;
    d.scan->StartScan();
    d.timer.Run(*d.scan);
    const auto rows = d.scan->rows();
    const auto list = d.display.list;
    EXPECT_FALSE(ImportSetupFile(*d.scan, d.rules, store));
    EXPECT_EQ(d.scan->tableCopy(), MakeWorkingTable(ThreeUnits()));
    EXPECT_EQ(d.scan->rows(), rows);
    EXPECT_EQ(d.display.list, list);
    EXPECT_EQ(d.rules.rangeStart(), Ip(192, 168, 0, 2));
    EXPECT_EQ(d.fields.FieldText(F::kStart1), "192");
  }
  // A file that does not exist reads as all defaults: rejected as well.
  MemoryProfileStore missing;
  EXPECT_EQ(ReadSetupFile(missing), std::nullopt);
  // Nor is one that runs out of memory while it is read; nothing is thrown.
  MemoryProfileStore exhausted = SlotZero();
  exhausted.failAllocation = true;
  EXPECT_EQ(ReadSetupFile(exhausted), std::nullopt);
  // "ERROR" is rejected only exactly.
  MemoryProfileStore near = SlotZero();
  near.Set("Device Name", "0", "ERRORS");
  EXPECT_NE(ReadSetupFile(near), std::nullopt);
}

TEST(SetupFile, RangeValuesOfTheFile) {
  struct Case {
    const char* name;
    const char* start;  // null: no "Net Address" section
    const char* stop;
    std::uint32_t tableStart;
    std::uint32_t rangeStart;
    std::int32_t stopOctet;
  };
  const std::vector<Case> cases = {
      {"no Net Address", nullptr, nullptr, Ip(192, 168, 0, 2), Ip(192, 168, 0, 2), 2},
      {"0.0.0.0 and stop 0", "0", "0", 0, Ip(1, 0, 0, 1), 1},
      {"10.0.0.1 to 50", "167772161", "50", Ip(10, 0, 0, 1), Ip(10, 0, 0, 1), 50},
      {"negative stop", "167772161", "-7", Ip(10, 0, 0, 1), Ip(10, 0, 0, 1), 1},
      {"huge stop", "167772161", "2147483647", Ip(10, 0, 0, 1), Ip(10, 0, 0, 1), 255},
      {"junk", "abc", "x", 0, Ip(1, 0, 0, 1), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryProfileStore store = SlotZero();
    if (c.start != nullptr) store.Set("Net Address", "Value", c.start);
    if (c.stop != nullptr) store.Set("Stop Address Field3", "Value", c.stop);
    const auto table = ReadSetupFile(store);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->scanStartAddress, c.tableStart);

    DialogFixture d;
    ASSERT_TRUE(ImportSetupFile(*d.scan, d.rules, store));
    d.scan->Close();
    EXPECT_EQ(d.scan->scanStartAddress(), c.rangeStart);
    EXPECT_EQ(d.rules.scanStopOctet(), c.stopOctet);
  }
}

TEST(SetupFile, BadValuesAreTakenAsTheFileGivesThem) {
  MemoryProfileStore store = SlotZero();
  const std::string longName(10000, 'N');
  const std::string longMac(10000, 'A');
  store.Set("Device Name", "1", longName);
  store.Set("IP Address", "1", "99999999999999999999");
  store.Set("Protect No", "1", longMac);
  store.Set("Device ID", "1", "-5");
  store.Set("Tcp", "1", "300");
  store.Set("Device Name", "2", "");
  store.Set("Protect No", "2", "");
  store.Set("IP Address", "2", "\x01\xff\x80junk");
  store.Set("Device ID", "2", "4294967296");
  const auto table = ReadSetupFile(store);
  ASSERT_TRUE(table);
  const auto& e = table->entries;
  EXPECT_EQ(e[1].deviceName, std::string(259, 'N'));
  EXPECT_EQ(e[1].macText, std::string(255, 'A'));
  EXPECT_EQ(e[1].portIndex, 251);
  EXPECT_EQ(e[1].tcpFlag, 44);
  EXPECT_EQ(e[2].deviceName, "UNIT3");
  EXPECT_EQ(e[2].macText, "00");
  EXPECT_EQ(e[2].ipAddress, 0u);
  EXPECT_EQ(e[2].portIndex, 0);
  EXPECT_EQ(e[3], DefaultDeviceEntry(3));
  EXPECT_EQ(e[0].portIndex, 3);
  EXPECT_EQ(e[0].tcpFlag, 1);
}

TEST(SetupFile, UnitsBehindAGapSurviveTheMerge) {
  DialogFixture d(DefaultEntries(), Ip(192, 168, 0, 4), 4);
  d.server.answering[Ip(192, 168, 0, 4)] = true;
  d.scan->StartScan();
  d.timer.Run(*d.scan);
  d.scan->OnResultClick(0, 0);

  // Edited by hand: units in slots 0, 2 and 3.
  MemoryProfileStore store = SlotZero();
  for (const auto& [key, name, octet] : {std::tuple{"2", "Wall", 2}, std::tuple{"3", "Desk", 3}}) {
    store.Set("Device Name", key, name);
    store.Set("IP Address", key, std::to_string(Ip(10, 0, 0, octet)));
  }
  ASSERT_TRUE(ImportSetupFile(*d.scan, d.rules, store));
  WorkingTable slots{};
  int rowCount = 0;
  const MergeResult merged =
      MergeIntoTable(slots, rowCount, &d.scan->tableCopy(), std::span(d.scan->rows()).first(1));
  EXPECT_EQ(merged.lastSlot, 3);
  const std::vector<std::uint32_t> want = {Ip(192, 168, 0, 2), Ip(10, 0, 0, 2), Ip(10, 0, 0, 3),
                                           Ip(192, 168, 0, 4), 0};
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(slots[i].entry.ipAddress, want[i]) << i;
  EXPECT_EQ(slots[1].entry.deviceName, "Wall");
  EXPECT_EQ(slots[2].entry.deviceName, "Desk");
}

TEST(SetupFile, CheckedRowsAfterAnImport) {
  DialogFixture d(DefaultEntries(), Ip(192, 168, 0, 1), 10);
  d.server.answering[Ip(192, 168, 0, 3)] = true;
  d.server.answering[Ip(192, 168, 0, 4)] = true;
  d.server.macs[Ip(192, 168, 0, 4)] = {0, 0xA0, 0xDE, 0, 0, 4};
  d.scan->StartScan();
  d.timer.Run(*d.scan);
  d.scan->OnResultClick(0, 0);
  d.scan->OnResultClick(1, 0);

  // The imported table already holds .3; .4 is new to it.
  MemoryProfileStore store = SlotZero();
  store.Set("Device Name", "1", "Wall");
  store.Set("IP Address", "1", std::to_string(static_cast<std::int32_t>(Ip(192, 168, 0, 3))));
  ASSERT_TRUE(ImportSetupFile(*d.scan, d.rules, store));
  EXPECT_EQ(d.scan->rows()[0].rowState, kRowListed);
  EXPECT_EQ(d.scan->rows()[1].rowState, kRowChecked);
  EXPECT_EQ(d.display.list.at(0).name, "Wall");
  EXPECT_EQ(d.display.list.at(0).image, kRowListed);

  WorkingTable slots{};
  int rowCount = 0;
  const auto rows =
      std::span(d.scan->rows()).first(static_cast<std::size_t>(d.scan->resultCount()));
  const MergeResult merged = MergeIntoTable(slots, rowCount, &d.scan->tableCopy(), rows);
  EXPECT_EQ(merged.rowsMerged, 1);
  EXPECT_EQ(merged.lastSlot, 2);
  EXPECT_EQ(slots[0].entry.deviceName, "Mixer");
  EXPECT_EQ(slots[1].entry.deviceName, "Wall");
  EXPECT_EQ(slots[2].entry.ipAddress, Ip(192, 168, 0, 4));
  EXPECT_EQ(slots[2].entry.macText, "00A0DE000004");
  EXPECT_EQ(slots[2].checkState, 2);
  EXPECT_EQ(slots[3].entry.ipAddress, 0u);
}

// The dialog around the flow: the file the user picks (none: Cancel), what that file
// holds, whether it can be written, and what the flow asked of the window.
class FakeAutoDetectHost : public AutoDetectHost {
 public:
  class File : public testing::MemorySettingsStore {
   public:
    explicit File(FakeAutoDetectHost& host) : host_(host) {}
    bool Commit() override { return host_.commitSucceeds; }
    bool Readable() const override { return true; }

   private:
    MemoryProfileStore& Values() override { return host_.file; }
    FakeAutoDetectHost& host_;
  };

  std::optional<std::string> ChooseSetupFile(bool) override { return chosen; }
  std::unique_ptr<SettingsStore> OpenSetupFile(const std::string&) override {
    return std::make_unique<File>(*this);
  }
  void ShowText(TextId id, bool error) override { shown.push_back({id, error}); }
  void ReleaseWindowResources() override { ++released; }
  void EndDialog(int result) override { ended = result; }

  std::optional<std::string> chosen = "units.ini";
  MemoryProfileStore file;
  bool commitSucceeds = true;
  std::vector<std::pair<TextId, bool>> shown;
  int released = 0;
  std::optional<int> ended;
};

TEST(AutoDetectFlow, HowTheDialogEnds) {
  enum class Act { kImport, kExport, kCancel };
  struct Case {
    const char* name;
    Act act;
    bool chooseFile, setupFile, commitSucceeds;
    std::vector<std::pair<TextId, bool>> shown;
    std::optional<int> ended;
    bool imported, exported;
  };
  const Case cases[] = {
      {"import, file dialog cancelled", Act::kImport, false, true, true, {}, {}, false, false},
      {"import of a setup file", Act::kImport, true, true, true, {}, 1, true, false},
      {"import of another file",
       Act::kImport,
       true,
       false,
       true,
       {{kTextNotSetupFile, false}},
       {},
       false,
       false},
      {"export, file dialog cancelled", Act::kExport, false, true, true, {}, {}, false, false},
      {"export written", Act::kExport, true, true, true, {}, 1, false, true},
      {"export not written",
       Act::kExport,
       true,
       true,
       false,
       {{kTextExportFailed, true}},
       {},
       false,
       false},
      {"Cancel", Act::kCancel, false, false, true, {}, 2, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DialogFixture d;
    FakeAutoDetectHost host;
    if (!c.chooseFile) host.chosen.reset();
    if (c.setupFile) host.file = SlotZero();
    host.commitSucceeds = c.commitSucceeds;
    AutoDetectFlow flow(host, *d.scan, d.rules, Ip(192, 168, 0, 2));
    // The range the user typed goes back whichever way the dialog ends.
    d.fields.TabTo(F::kStart4);
    d.fields.TypeText("9");
    if (c.act == Act::kImport) flow.ImportSetup();
    if (c.act == Act::kExport) flow.ExportSetup();
    if (c.act == Act::kCancel) flow.Close(2);
    EXPECT_EQ(host.shown, c.shown);
    EXPECT_EQ(host.ended, c.ended);
    EXPECT_EQ(host.released, c.ended ? 1 : 0);
    EXPECT_EQ(flow.imported(), c.imported);
    EXPECT_EQ(flow.exported(), c.exported);
    if (c.act == Act::kExport) EXPECT_EQ(host.file.writes.empty(), !c.chooseFile);
    if (c.ended) EXPECT_EQ(flow.scanStartAddress(), d.rules.rangeStart());
    if (c.act == Act::kCancel) EXPECT_EQ(flow.scanStartAddress(), Ip(192, 168, 0, 9));
  }
}

}  // namespace
}  // namespace orvel::autodetect
