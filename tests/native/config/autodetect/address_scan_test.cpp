#include "config/autodetect/address_scan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/autodetect/autodetect_ids.h"
#include "config/autodetect/range_rules.h"
#include "config/core/server_messages.h"
#include "tests/doubles/autodetect_range_view.h"
#include "tests/doubles/autodetect_scan_display.h"
#include "tests/doubles/fake_server_channel.h"

namespace orvel::autodetect {
namespace {

using F = RangeField;

constexpr std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
         static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

struct Unit {
  std::uint32_t address;
  std::string name;
  std::string macText;
};

class ScanFixture {
 public:
  explicit ScanFixture(const std::vector<Unit>& table = {}) {
    fields.Attach(rules);
    server.Find();
    std::array<DeviceEntry, kSlotCount> entries;
    for (int i = 0; i < kSlotCount; ++i)
      entries[static_cast<std::size_t>(i)] = DefaultDeviceEntry(i);
    for (std::size_t i = 0; i < table.size(); ++i) {
      entries[i].ipAddress = table[i].address;
      entries[i].deviceName = table[i].name;
      entries[i].macText = table[i].macText;
    }
    scan = std::make_unique<AddressScan>(&server, timer, display, rules, MakeWorkingTable(entries),
                                         kDefaultScanStartAddress);
  }

  void Range(std::uint32_t start, std::int32_t stop) { rules.FillRangeFields(start, stop); }
  void Answer(std::uint32_t address) { server.answering[address] = true; }
  void Mac(std::uint32_t address, MacBytes mac) { server.macs[address] = mac; }

  // Start and run the message loop until the scan has ended.
  void Scan() {
    scan->StartScan();
    timer.Run(*scan);
  }
  std::vector<testing::FakeServerChannel::Message> Probes() const {
    std::vector<testing::FakeServerChannel::Message> probes;
    for (const auto& m : server.messages)
      if (m.message == SRVM_PROBE_ADDRESS) probes.push_back(m);
    return probes;
  }
  const ScanRow& Row(int i) const { return scan->rows()[static_cast<std::size_t>(i)]; }
  bool AddEnabled() { return display.enabled[kIdAddToList]; }

  testing::FakeServerChannel server;
  testing::FakeScanTimer timer;
  testing::FakeScanDisplay display;
  testing::FakeRangeFields fields;
  RangeRules rules{fields};
  std::unique_ptr<AddressScan> scan;
};

TEST(AddressScan, FindsNewAndListedUnits) {
  ScanFixture f({{Ip(192, 168, 0, 7), "Mixer", "00A0DE112233"}});
  f.Range(Ip(192, 168, 0, 1), 10);
  f.Answer(Ip(192, 168, 0, 3));
  f.Answer(Ip(192, 168, 0, 7));
  f.Mac(Ip(192, 168, 0, 3), {1, 2, 3, 4, 5, 6});
  f.Scan();

  const auto probes = f.Probes();
  ASSERT_EQ(probes.size(), 10u);
  for (std::uint32_t i = 0; i < probes.size(); ++i) {
    EXPECT_EQ(probes[i].wParam, i);
    EXPECT_EQ(probes[i].lParam, Ip(192, 168, 0, 1) + i);
  }
  ASSERT_EQ(f.scan->resultCount(), 2);
  EXPECT_EQ(f.Row(0).address, Ip(192, 168, 0, 3));
  EXPECT_EQ(f.Row(0).rowState, kRowNew);
  EXPECT_TRUE(f.Row(0).macObtained);
  EXPECT_EQ(f.Row(1).address, Ip(192, 168, 0, 7));
  EXPECT_EQ(f.Row(1).rowState, kRowListed);

  ASSERT_EQ(f.display.list.size(), 2u);
  EXPECT_EQ(f.display.list[0], (ResultRowText{0, " 192.  168.   0.   3", "", "01 02 03 04 05 06",
                                              Ip(192, 168, 0, 3)}));
  EXPECT_EQ(f.display.list[1].image, 2);
  EXPECT_EQ(f.display.list[1].name, "Mixer");
  // The server knows no MAC for .7: the table's bytes stand in.
  EXPECT_EQ(f.display.list[1].mac, "00 A0 DE 11 22 33");
  EXPECT_FALSE(f.Row(1).macObtained);

  EXPECT_FALSE(f.AddEnabled());
  EXPECT_FALSE(f.display.enabled[kIdAbort]);
  EXPECT_TRUE(f.display.enabled[kIdImport]);
  EXPECT_TRUE(f.display.enabled[kIdExport]);
  EXPECT_FALSE(f.timer.Running());
  EXPECT_EQ(f.timer.started, (std::vector<std::pair<unsigned, unsigned>>{{1u, 10u}}));
  EXPECT_EQ(f.display.progress, std::nullopt);
  EXPECT_EQ(f.scan->scanStartAddress(), Ip(192, 168, 0, 1));

  f.scan->OnResultClick(1, 0);  // a listed unit cannot be checked
  EXPECT_FALSE(f.AddEnabled());
  EXPECT_EQ(f.display.deselected, std::vector<int>{1});
  f.scan->OnResultClick(0, 0);
  EXPECT_TRUE(f.AddEnabled());
  EXPECT_EQ(f.display.list[0].image, kRowChecked);
  f.scan->OnResultClick(0, 0);
  EXPECT_FALSE(f.AddEnabled());
  EXPECT_TRUE(f.scan->checkedAddresses().empty());
}

TEST(AddressScan, ProbeCountsAndBlockEnds) {
  struct Case {
    const char* name;
    std::uint32_t start;
    std::int32_t stop;
    std::string typedStop;  // typed into the stop field after the fill, if any
    int probes;
    int stopRequests;
  };
  const std::vector<Case> cases = {
      {"ten addresses", Ip(192, 168, 0, 1), 10, "", 10, 1},
      {"to the end of a class C block", Ip(192, 168, 0, 250), 255, "", 6, 1},
      {"stop below the start", Ip(192, 168, 0, 20), 30, "10", 1, 1},
      {"4.255.255.254: both end tests", Ip(4, 255, 255, 250), 254, "", 5, 2},
      {"4.255.255.255 is never probed", Ip(4, 255, 255, 250), 255, "", 5, 1},
      {"4.0.0.255 is no block end", Ip(4, 0, 0, 250), 255, "", 6, 1},
      {"128.x.255.255 is never probed", Ip(128, 5, 255, 250), 254, "255", 5, 1},
      {"1.255.255.255 is probed", Ip(1, 255, 255, 250), 255, "", 6, 1},
      {"a whole block", Ip(10, 0, 0, 1), 255, "", 255, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScanFixture f;
    f.Range(c.start, c.stop);
    if (!c.typedStop.empty()) {
      f.fields.TabTo(F::kStop);
      f.fields.TypeText(c.typedStop);
    }
    f.scan->StartScan();
    // Tick until the scan asks to stop; count the requests before any is handled.
    for (int i = 0; i < 1000 && f.scan->scanning(); ++i) f.scan->ScanTick();
    EXPECT_EQ(static_cast<int>(f.Probes().size()), c.probes);
    EXPECT_EQ(f.timer.Count(SCANM_STOP), c.stopRequests);
    // Ticks between the request and its handling do nothing.
    f.scan->ScanTick();
    EXPECT_EQ(static_cast<int>(f.Probes().size()), c.probes);
    EXPECT_EQ(f.Probes().front().lParam, f.rules.rangeStart());
    f.timer.Run(*f.scan);
    EXPECT_FALSE(f.timer.Running());
  }
}

TEST(AddressScan, RepeatedStopGivesTheSameResult) {
  ScanFixture f;
  f.Range(Ip(4, 255, 255, 250), 254);
  f.Answer(Ip(4, 255, 255, 252));
  f.scan->StartScan();
  f.scan->OnResultClick(-1, 0);
  while (f.scan->scanning()) f.scan->ScanTick();
  f.scan->OnResultClick(0, 0);  // checked during the stopping state
  ASSERT_EQ(f.timer.Count(SCANM_STOP), 2);
  f.scan->StopScan();
  const auto rows = f.scan->rows();
  const auto list = f.display.list;
  const auto enabled = f.display.enabled;
  f.scan->StopScan();
  EXPECT_EQ(f.scan->rows(), rows);
  EXPECT_EQ(f.display.list, list);
  EXPECT_EQ(f.display.enabled, enabled);
  EXPECT_EQ(f.Row(0).rowState, kRowChecked);
  EXPECT_EQ(f.timer.killed, std::vector<unsigned>{1});
}

TEST(AddressScan, NoServerWindowDoesNothing) {
  ScanFixture f;
  f.server.running = false;
  f.server.Find();
  f.Range(Ip(192, 168, 0, 1), 10);
  const auto enabled = f.display.enabled;
  f.scan->StartScan();
  f.scan->BeginScan();
  EXPECT_TRUE(f.timer.started.empty());
  EXPECT_TRUE(f.server.messages.empty());
  EXPECT_EQ(f.display.enabled, enabled);
  EXPECT_EQ(f.scan->resultCount(), -1);
  EXPECT_FALSE(f.scan->scanning());
}

TEST(AddressScan, ActiveAddressesGetNoRow) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 4);
  f.server.active = {Ip(10, 9, 9, 9), Ip(192, 168, 0, 2)};
  f.Answer(Ip(192, 168, 0, 2));
  f.Answer(Ip(192, 168, 0, 3));
  f.Scan();
  EXPECT_EQ(f.scan->activeAddresses(), f.server.active);
  ASSERT_EQ(f.scan->resultCount(), 1);
  EXPECT_EQ(f.Row(0).address, Ip(192, 168, 0, 3));
  // Four probes, but the active unit's probe does not recompute the MAC column.
  EXPECT_EQ(f.display.macWidths.size(), 3u);
  // No MAC was asked for the active address.
  for (const auto& m : f.server.messages)
    if (m.message == SRVM_GET_MAC_ADDRESS) EXPECT_NE(m.lParam, Ip(192, 168, 0, 2));
}

TEST(AddressScan, ActiveAddressCountNoServerGives) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 2);
  // A server answering the count with a huge number must not hold the dialog up.
  struct HugeCount : testing::FakeServerChannel {
    std::uint32_t Send(std::uint32_t m, std::uint32_t w, std::uint32_t l) override {
      if (m == SRVM_GET_ACTIVE_ADDRESS && w == kActiveAddressCount) return 0xFFFFFFF0u;
      return FakeServerChannel::Send(m, w, l);
    }
  } server;
  server.Find();
  server.answering[Ip(192, 168, 0, 1)] = true;
  AddressScan scan(&server, f.timer, f.display, f.rules, WorkingTable{}, 0);
  scan.StartScan();
  f.timer.Run(scan);
  EXPECT_TRUE(scan.activeAddresses().empty());
  EXPECT_LT(server.messages.size(), 20u);
  EXPECT_EQ(scan.resultCount(), 1);
}

TEST(AddressScan, MacFromServerOrTable) {
  struct Case {
    const char* name;
    bool listed;
    bool lowKnown, highKnown;
    std::string mac;
    bool obtained;
  };
  const std::vector<Case> cases = {
      {"new, known", false, true, true, "0A 0B 0C 0D 0E 0F", true},
      {"new, unknown", false, false, false, "00 00 00 00 00 00", false},
      {"new, only the first half known", false, true, false, "00 00 00 00 00 00", false},
      {"listed, known", true, true, true, "0A 0B 0C 0D 0E 0F", true},
      {"listed, unknown", true, false, false, "12 34 56 78 9A BC", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Unit> table;
    if (c.listed) table.push_back({Ip(192, 168, 0, 5), "Desk", "123456789ABC"});
    ScanFixture f(table);
    f.Range(Ip(192, 168, 0, 5), 5);
    f.Answer(Ip(192, 168, 0, 5));
    struct PartialMac : testing::FakeServerChannel {
      bool low = true, high = true;
      std::uint32_t Send(std::uint32_t m, std::uint32_t w, std::uint32_t l) override {
        if (m == SRVM_GET_MAC_ADDRESS && ((w == 0 && !low) || (w == 1 && !high))) {
          messages.push_back({m, w, l});
          return kNoMacKnown;
        }
        return FakeServerChannel::Send(m, w, l);
      }
    } server;
    server.low = c.lowKnown;
    server.high = c.highKnown;
    server.Find();
    server.answering[Ip(192, 168, 0, 5)] = true;
    server.macs[Ip(192, 168, 0, 5)] = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
    AddressScan scan(&server, f.timer, f.display, f.rules, f.scan->tableCopy(), 0);
    scan.StartScan();
    f.timer.Run(scan);
    ASSERT_EQ(scan.resultCount(), 1);
    EXPECT_EQ(f.display.list.at(0).mac, c.mac);
    EXPECT_EQ(scan.rows()[0].macObtained, c.obtained);
    // The second half is asked only when the first was known.
    int asks = 0;
    for (const auto& m : server.messages) asks += m.message == SRVM_GET_MAC_ADDRESS;
    EXPECT_EQ(asks, c.lowKnown ? 2 : 1);
  }
}

TEST(AddressScan, ChecksCarryOverANewScan) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 10);
  f.Answer(Ip(192, 168, 0, 3));
  f.Answer(Ip(192, 168, 0, 5));
  f.Scan();
  f.scan->OnResultClick(0, 0);  // .3
  f.scan->OnResultClick(1, 0);  // .5

  // .5 stops answering; .3 keeps its check, .5 drops it.
  f.server.answering.erase(Ip(192, 168, 0, 5));
  f.scan->StartScan();
  // While scanning, .3 is listed unchecked and the add button stays off.
  while (f.scan->resultCount() < 1) f.scan->ScanTick();
  EXPECT_EQ(f.Row(0).rowState, kRowNew);
  EXPECT_FALSE(f.AddEnabled());
  f.timer.Run(*f.scan);
  ASSERT_EQ(f.scan->resultCount(), 1);
  EXPECT_EQ(f.Row(0).rowState, kRowChecked);
  EXPECT_TRUE(f.AddEnabled());
  EXPECT_TRUE(f.scan->checkedAddresses().empty());

  // .5 answers again in a third scan: its check was not kept.
  f.Answer(Ip(192, 168, 0, 5));
  f.Scan();
  ASSERT_EQ(f.scan->resultCount(), 2);
  EXPECT_EQ(f.Row(0).rowState, kRowChecked);
  EXPECT_EQ(f.Row(1).rowState, kRowNew);
}

TEST(AddressScan, MacColumnNarrowsAtTheNinthRow) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 20);
  for (int i = 1; i <= 12; ++i) f.Answer(Ip(192, 168, 0, i));
  f.scan->StartScan();
  for (int i = 0; i < 8; ++i) f.scan->ScanTick();
  EXPECT_EQ(f.scan->resultCount(), 8);
  EXPECT_EQ(f.display.macWidth, kMacColumnWide);
  f.scan->ScanTick();
  EXPECT_EQ(f.scan->resultCount(), 9);
  EXPECT_EQ(f.display.macWidth, kMacColumnNarrow);
  // The ninth row follows in the next tick, and a tick adds one row at most.
  EXPECT_EQ(f.display.list.size(), 8u);
  for (std::size_t shown : {9u, 10u}) {
    f.scan->ScanTick();
    EXPECT_EQ(f.display.list.size(), shown);
    EXPECT_EQ(f.display.list.back().itemData, f.Row(static_cast<int>(shown) - 1).address);
  }
  // A click's rebuild brings the list level with the eleven found so far.
  f.scan->OnResultClick(0, 0);
  EXPECT_EQ(f.display.list.size(), 11u);
  EXPECT_EQ(f.display.list.back().itemData, f.Row(10).address);
  f.timer.Run(*f.scan);
  // The rebuild at the end leaves the width as the scan left it.
  EXPECT_EQ(f.display.macWidth, kMacColumnNarrow);
  EXPECT_EQ(f.display.list.size(), 12u);
}

TEST(AddressScan, ClicksThatToggleNothing) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 5);
  f.Answer(Ip(192, 168, 0, 2));
  f.Scan();
  struct Click {
    int row, column;
  };
  for (const Click& click : {Click{0, 2}, Click{0, 1}, Click{0, 3}, Click{1, 0}, Click{-1, 0}}) {
    f.display.enabled[kIdAddToList] = true;  // shows whether the rule ran again
    f.scan->OnResultClick(click.row, click.column);
    EXPECT_EQ(f.Row(0).rowState, kRowNew);
    EXPECT_FALSE(f.AddEnabled());
  }
}

TEST(AddressScan, AbortKeepsRowsAndChecks) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 200);
  f.Answer(Ip(192, 168, 0, 2));
  f.Answer(Ip(192, 168, 0, 4));
  f.Answer(Ip(192, 168, 0, 100));
  f.display.focus = kIdStart;
  f.scan->StartScan();
  EXPECT_EQ(f.display.focus, 0);  // the Start button was disabled
  for (int i = 0; i < 10; ++i) f.scan->ScanTick();
  f.scan->OnResultClick(1, 0);
  EXPECT_FALSE(f.AddEnabled());  // not while scanning
  f.scan->AbortScan();
  EXPECT_FALSE(f.scan->scanning());
  EXPECT_FALSE(f.timer.Running());
  EXPECT_EQ(f.scan->resultCount(), 2);
  EXPECT_EQ(f.Row(1).rowState, kRowChecked);
  EXPECT_TRUE(f.AddEnabled());
  EXPECT_FALSE(f.display.enabled[kIdAbort]);
  EXPECT_TRUE(f.display.rangeFieldsEnabled);
  // The focus goes back to the Start button, enabled again.
  EXPECT_EQ(f.display.focus, kIdStart);
  // Later ticks of a queued timer message do nothing.
  f.scan->ScanTick();
  EXPECT_EQ(f.Probes().size(), 10u);
}

TEST(AddressScan, FocusAfterTheScan) {
  struct Case {
    int focusBefore;
    int focusAfter;
  };
  // Abort had the focus: it is disabled after the scan, so the first start field.
  for (const Case& c : {Case{kIdStart, kIdStart}, Case{kIdStopOctet, kIdStopOctet},
                        Case{kIdAbort, kIdStartOctet1}, Case{0, kIdStartOctet1}}) {
    ScanFixture f;
    f.Range(Ip(192, 168, 0, 1), 2);
    f.display.focus = c.focusBefore;
    f.Scan();
    EXPECT_EQ(f.display.focus, c.focusAfter);
  }
  // A control that kept the focus through the scan keeps it.
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 2);
  f.display.focus = kIdCancel;
  f.Scan();
  EXPECT_EQ(f.display.focus, kIdCancel);
  EXPECT_TRUE(f.display.focusCalls.empty());
}

TEST(AddressScan, TimerThatCannotStartEndsTheScan) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 2);
  f.timer.failStart = true;
  f.scan->StartScan();
  EXPECT_FALSE(f.scan->scanning());
  EXPECT_FALSE(f.display.enabled[kIdAbort]);
  EXPECT_TRUE(f.display.rangeFieldsEnabled);
  EXPECT_TRUE(f.display.enabled[kIdImport]);
}

TEST(AddressScan, CloseKeepsTheRangeAndEndsTheTimer) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 10);
  f.server.active = {Ip(192, 168, 0, 9)};
  f.scan->StartScan();
  f.scan->ScanTick();
  // The user changes the range, then cancels mid-scan.
  f.fields.TabTo(F::kStart1);
  f.fields.TypeText("10.0.0.5");
  f.fields.TabTo(F::kStop);
  f.fields.TypeText("20");
  const int lists = f.display.listClears;
  f.scan->Close();
  EXPECT_EQ(f.timer.killed, std::vector<unsigned>{1});
  EXPECT_FALSE(f.timer.Running());
  EXPECT_EQ(f.display.listClears, lists);  // StopScan did not run
  EXPECT_TRUE(f.scan->activeAddresses().empty());
  EXPECT_EQ(f.scan->scanStartAddress(), Ip(10, 0, 0, 5));
  EXPECT_EQ(f.rules.scanStopOctet(), 20);
}

TEST(AddressScan, RebuildKeepsTheClickedRowInView) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 30);
  for (int i = 1; i <= 20; ++i) f.Answer(Ip(192, 168, 0, i));
  f.Scan();
  ASSERT_EQ(f.scan->resultCount(), 20);
  f.display.scrollPosition = 10;  // rows 10 to 17 visible
  f.scan->OnResultClick(15, 0);
  EXPECT_EQ(f.display.scrolls.back(), 10);
  EXPECT_EQ(f.display.list.size(), 20u);
  EXPECT_EQ(f.display.list[15].image, kRowChecked);
  // A click in the first page scrolls nothing.
  const std::size_t scrolls = f.display.scrolls.size();
  f.display.scrollPosition = 0;
  f.scan->OnResultClick(3, 0);
  EXPECT_EQ(f.display.scrolls.size(), scrolls);
}

// A rebuild rewrites only the rows that changed, and still leaves the list as deleting
// and inserting every row would: texts, no selection, the scroll position.
TEST(AddressScan, RebuildRewritesOnlyChangedRows) {
  ScanFixture f;
  f.Range(Ip(192, 168, 0, 1), 30);
  for (int i = 1; i <= 20; ++i) f.Answer(Ip(192, 168, 0, i));
  f.Scan();
  auto expectListShowsRows = [&] {
    ASSERT_EQ(f.display.list.size(), 20u);
    for (int i = 0; i < 20; ++i) {
      const ResultRowText& shown = f.display.list[static_cast<std::size_t>(i)];
      EXPECT_EQ(shown.image, f.Row(i).rowState) << i;
      EXPECT_EQ(shown.address, AddressColumnText(f.Row(i).address)) << i;
      EXPECT_EQ(shown.itemData, f.Row(i).address) << i;
    }
  };
  const int clears = f.display.listClears;
  struct Click {
    int scrolledTo, row, topAfter;
  };
  // A middle row while rows 5 to 12 are in view, then one of the first page while
  // scrolled by two, which a rebuild brought back to the top.
  for (const Click& click : {Click{5, 10, 5}, Click{2, 3, 0}}) {
    SCOPED_TRACE(click.row);
    f.display.scrollPosition = click.scrolledTo;
    f.display.selectedRow = click.row;  // the list selects and focuses the clicked row
    f.display.focusedRow = click.row;
    f.display.updatedRows.clear();
    f.scan->OnResultClick(click.row, 0);
    EXPECT_EQ(f.display.updatedRows, std::vector<int>{click.row});
    EXPECT_EQ(f.display.selectedRow, -1);
    EXPECT_EQ(f.display.focusedRow, click.row);
    EXPECT_EQ(f.display.scrollPosition, click.topAfter);
    expectListShowsRows();
  }
  EXPECT_EQ(f.Row(10).rowState, kRowChecked);

  // An imported table lists .6 and .11: those rows change in place, names and all, and
  // the check on .11 gives way to the listed state.
  std::array<DeviceEntry, kSlotCount> entries;
  for (int i = 0; i < kSlotCount; ++i) entries[static_cast<std::size_t>(i)] = DefaultDeviceEntry(i);
  entries[0].ipAddress = Ip(192, 168, 0, 6);
  entries[0].deviceName = "Keys";
  entries[1].ipAddress = Ip(192, 168, 0, 11);
  entries[1].deviceName = "Desk";
  f.scan->ReplaceTable(MakeWorkingTable(entries), Ip(192, 168, 0, 1));
  f.scan->RememberCheckedRows();
  f.display.updatedRows.clear();
  f.scan->RebuildResultList();
  EXPECT_EQ(f.display.updatedRows, (std::vector<int>{5, 10}));
  EXPECT_EQ(f.display.list[5].name, "Keys");
  EXPECT_EQ(f.display.list[10].name, "Desk");
  EXPECT_EQ(f.display.list[10].image, kRowListed);
  EXPECT_EQ(f.display.list[3].image, kRowChecked);
  expectListShowsRows();
  EXPECT_EQ(f.display.listClears, clears);
  EXPECT_TRUE(f.display.badInserts.empty());
}

TEST(ResultRowFormats, AddressAndMac) {
  EXPECT_EQ(AddressColumnText(Ip(192, 168, 0, 10)), " 192.  168.   0.  10");
  EXPECT_EQ(AddressColumnText(Ip(1, 22, 3, 255)), "  1.  22.   3.  255");
  EXPECT_EQ(MacColumnText({0, 0xA0, 0xDE, 1, 0xFF, 0x10}), "00 A0 DE 01 FF 10");
}

}  // namespace
}  // namespace orvel::autodetect
