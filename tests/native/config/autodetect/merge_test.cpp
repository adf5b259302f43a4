#include "config/autodetect/merge.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvel::autodetect {
namespace {

constexpr std::uint32_t Ip(int a, int b, int c, int d) {
  return static_cast<std::uint32_t>(a) << 24 | static_cast<std::uint32_t>(b) << 16 |
         static_cast<std::uint32_t>(c) << 8 | static_cast<std::uint32_t>(d);
}

// A working table of `used` units named as given (default names otherwise), each
// with the MAC 00 A0 DE 00 00 i+1.
WorkingTable Table(int used, const std::vector<std::string>& names = {}) {
  WorkingTable slots{};
  for (int i = 0; i < kSlotCount; ++i) {
    WorkingSlot& s = slots[static_cast<std::size_t>(i)];
    s.entry = DefaultDeviceEntry(i);
    if (i < used) {
      s.entry.ipAddress = Ip(192, 168, 1, i + 1);
      s.entry.portIndex = 7;
      s.entry.tcpFlag = 1;
      s.macBytes = {0, 0xA0, 0xDE, 0, 0, static_cast<std::uint8_t>(i + 1)};
      s.entry.macText = "00A0DE0000" + std::string(1, "0123456789ABCDEF"[(i + 1) >> 4]) +
                        std::string(1, "0123456789ABCDEF"[(i + 1) & 15]);
      s.checkState = 2;
      if (static_cast<std::size_t>(i) < names.size())
        s.entry.deviceName = names[static_cast<std::size_t>(i)];
    }
  }
  return slots;
}

ScanRow Checked(std::uint32_t address, MacBytes mac, bool obtained = true) {
  return {address, mac, kRowChecked, obtained};
}

TEST(MergeIntoTable, SameMacUpdatesInPlaceAndKeepsTheName) {
  WorkingTable slots = Table(3, {"A", "B", "Desk"});
  slots[2].entry.tcpFlag = 0;
  int rowCount = 3;
  const std::vector<ScanRow> rows = {Checked(Ip(10, 0, 0, 9), {0, 0xA0, 0xDE, 0, 0, 3})};
  const MergeResult r = MergeIntoTable(slots, rowCount, nullptr, rows);
  EXPECT_EQ(r.rowsMerged, 1);
  EXPECT_EQ(r.lastSlot, 2);
  EXPECT_EQ(slots[2].entry.deviceName, "Desk");
  EXPECT_EQ(slots[2].entry.ipAddress, Ip(10, 0, 0, 9));
  EXPECT_EQ(slots[2].entry.portIndex, 0);
  EXPECT_EQ(slots[2].entry.tcpFlag, 0);
  EXPECT_EQ(slots[2].entry.macText, "00A0DE000003");
  EXPECT_EQ(slots[3].entry.ipAddress, 0u);
  EXPECT_EQ(rowCount, 3);
}

TEST(MergeIntoTable, NewUnitsTakeTheNextSlots) {
  struct Case {
    const char* name;
    int used;
    int rowCount;  // with the blank row when one more than `used`
    std::vector<std::string> names;
    std::vector<std::string> newNames;
    int firstSlot;
  };
  const std::vector<Case> cases = {
      {"after three units", 3, 3, {}, {"UNIT4", "UNIT5"}, 3},
      {"into the blank row's slot", 3, 4, {}, {"UNIT4", "UNIT5"}, 3},
      {"into an empty table", 0, 0, {}, {"UNIT1", "UNIT2"}, 0},
      {"the blank row of an empty table", 0, 1, {}, {"UNIT1", "UNIT2"}, 0},
      {"names already taken", 3, 3, {"UNIT4", "UNIT1", "UNIT5"}, {"UNIT2", "UNIT3"}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkingTable slots = Table(c.used, c.names);
    int rowCount = c.rowCount;
    const std::vector<ScanRow> rows = {
        Checked(Ip(10, 0, 0, 1), {1, 1, 1, 1, 1, 1}),
        {Ip(10, 0, 0, 2), {2, 2, 2, 2, 2, 2}, kRowNew, true},  // not checked
        {Ip(10, 0, 0, 3), {3, 3, 3, 3, 3, 3}, kRowListed, true},
        Checked(Ip(10, 0, 0, 4), {4, 4, 4, 4, 4, 4}, false),
    };
    const MergeResult r = MergeIntoTable(slots, rowCount, nullptr, rows);
    EXPECT_EQ(r.rowsMerged, 2);
    EXPECT_EQ(r.lastSlot, c.firstSlot + 1);
    const WorkingSlot& a = slots[static_cast<std::size_t>(c.firstSlot)];
    const WorkingSlot& b = slots[static_cast<std::size_t>(c.firstSlot + 1)];
    EXPECT_EQ(a.entry.ipAddress, Ip(10, 0, 0, 1));
    EXPECT_EQ(a.entry.deviceName, c.newNames[0]);
    EXPECT_EQ(a.entry.macText, "010101010101");
    EXPECT_EQ(a.checkState, 2);
    EXPECT_EQ(b.entry.ipAddress, Ip(10, 0, 0, 4));
    EXPECT_EQ(b.entry.deviceName, c.newNames[1]);
    EXPECT_EQ(b.checkState, 3);
    EXPECT_EQ(slots[static_cast<std::size_t>(c.firstSlot + 2)].entry.ipAddress, 0u);
  }
}

TEST(MergeIntoTable, FullTableAddsNothingButStillUpdates) {
  WorkingTable slots = Table(256);
  int rowCount = 256;
  const WorkingTable before = slots;
  const std::vector<ScanRow> rows = {Checked(Ip(10, 0, 0, 1), {9, 9, 9, 9, 9, 9}),
                                     Checked(Ip(10, 0, 0, 2), {0, 0xA0, 0xDE, 0, 0, 5})};
  const MergeResult r = MergeIntoTable(slots, rowCount, nullptr, rows);
  EXPECT_EQ(r.rowsMerged, 1);
  EXPECT_EQ(slots[4].entry.ipAddress, Ip(10, 0, 0, 2));
  for (std::size_t i = 0; i < slots.size(); ++i)
    if (i != 4) EXPECT_EQ(slots[i], before[i]);
}

TEST(MergeIntoTable, UnknownMacsNameNoUnit) {
  // Slot 1 holds a unit whose MAC was never known; two new units whose MACs the
  // server did not know either are still two more units.
  WorkingTable slots = Table(3);
  slots[1].macBytes = {};
  slots[1].entry.macText = "00";
  int rowCount = 3;
  const std::vector<ScanRow> rows = {Checked(Ip(10, 0, 0, 1), {}, false),
                                     Checked(Ip(10, 0, 0, 2), {}, false)};
  const MergeResult r = MergeIntoTable(slots, rowCount, nullptr, rows);
  EXPECT_EQ(r.rowsMerged, 2);
  EXPECT_EQ(slots[1].entry.ipAddress, Ip(192, 168, 1, 2));
  EXPECT_EQ(slots[3].entry.ipAddress, Ip(10, 0, 0, 1));
  EXPECT_EQ(slots[4].entry.ipAddress, Ip(10, 0, 0, 2));
  EXPECT_EQ(slots[4].entry.macText, "000000000000");
}

TEST(MergeIntoTable, NothingCheckedChangesNothing) {
  WorkingTable slots = Table(3);
  const WorkingTable before = slots;
  int rowCount = 4;
  const std::vector<ScanRow> rows = {{Ip(10, 0, 0, 1), {1, 2, 3, 4, 5, 6}, kRowNew, true}};
  const MergeResult r = MergeIntoTable(slots, rowCount, nullptr, rows);
  EXPECT_EQ(r.rowsMerged, 0);
  EXPECT_EQ(r.lastSlot, -1);
  EXPECT_FALSE(r.replaced);
  EXPECT_EQ(slots, before);
  EXPECT_EQ(rowCount, 4);
}

TEST(MakeUniqueDefaultName, CandidatesAndTheLastResort) {
  WorkingTable slots = Table(3, {"UNIT4", "Desk", "UNIT1"});
  EXPECT_EQ(MakeUniqueDefaultName(slots, 3), "UNIT2");
  EXPECT_EQ(MakeUniqueDefaultName(slots, 1), "UNIT2");
  // Its own name does not count.
  EXPECT_EQ(MakeUniqueDefaultName(Table(3, {"UNIT1"}), 0), "UNIT1");
  WorkingTable full = Table(256);
  for (int i = 0; i < kSlotCount; ++i)
    full[static_cast<std::size_t>(i)].entry.deviceName = "UNIT" + std::to_string(i + 1);
  EXPECT_EQ(MakeUniqueDefaultName(full, 10), "UNIT11");
  // UNIT1 to UNIT255 held by the other slots: the search ends at UNIT256.
  int n = 1;
  for (int i = 0; i < kSlotCount; ++i)
    if (i != 10) full[static_cast<std::size_t>(i)].entry.deviceName = "UNIT" + std::to_string(n++);
  full[10].entry.deviceName = "Other";
  EXPECT_EQ(MakeUniqueDefaultName(full, 10), "UNIT256");
}

}  // namespace
}  // namespace orvel::autodetect
