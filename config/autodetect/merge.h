#pragma once
// The merge of the units the user checked in the auto-detect dialog, and of an
// imported setup file, into the main dialog's working table.

#include <span>

#include "config/autodetect/address_scan.h"
#include "config/core/device_table.h"

namespace orvel::autodetect {

struct MergeResult {
  int rowsMerged = 0;     // rows added or updated
  int lastSlot = -1;      // the slot to select and show when rows were merged
  bool replaced = false;  // the imported table replaced the working one
};

// After an OK of the dialog (not after an export): an imported table first replaces
// the working table, then every checked row updates the slot with its MAC or takes
// the next free slot. `rowCount` is the main list's row count, blank row included.
MergeResult MergeIntoTable(WorkingTable& slots, int& rowCount, const WorkingTable* imported,
                           std::span<const ScanRow> rows);

}  // namespace orvel::autodetect
