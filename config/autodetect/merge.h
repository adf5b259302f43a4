#pragma once
// The merge of the units the user checked in the auto-detect dialog, and of an
// imported setup file, into the main dialog's working table.

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "config/autodetect/address_scan.h"
#include "config/core/device_table.h"

namespace orvel::autodetect {

// A slot of the main dialog's working table with the values that live only while
// the dialog is open.
struct WorkingSlot {
  DeviceEntry entry;
  MacBytes macBytes{};
  std::int32_t checkState = 0;  // 0 not compared, 2 equal, 3 no MAC known, 4 different
  friend bool operator==(const WorkingSlot&, const WorkingSlot&) = default;
};
using WorkingSlots = std::array<WorkingSlot, kSlotCount>;

// "UNIT" and s + 1, or the first of UNIT1..UNIT256 that no other used slot is named;
// UNIT256 when every candidate is taken.
std::string MakeUniqueDefaultName(const WorkingSlots& slots, int slot);

struct MergeResult {
  int rowsMerged = 0;     // rows added or updated
  int lastSlot = -1;      // the slot to select and show when rows were merged
  bool replaced = false;  // the imported table replaced the working one
};

// After an OK of the dialog (not after an export): an imported table first replaces
// the working table, then every checked row updates the slot with its MAC or takes
// the next free slot. `rowCount` is the main list's row count, blank row included.
MergeResult MergeIntoTable(WorkingSlots& slots, int& rowCount, const TableCopy* imported,
                           std::span<const ScanRow> rows);

}  // namespace orvel::autodetect
