#include "config/autodetect/merge.h"

namespace orvel::autodetect {
namespace {

bool AllZero(const MacBytes& mac) { return mac == MacBytes{}; }

}  // namespace

MergeResult MergeIntoTable(WorkingTable& slots, int& rowCount, const WorkingTable* imported,
                           std::span<const ScanRow> rows) {
  MergeResult result;
  if (imported != nullptr) {
    int used = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      const DeviceEntry& entry = (*imported)[i].entry;
      slots[i] = {entry, ParseMacText(entry.macText), kCheckNotCompared};
      if (slots[i].entry.Used()) ++used;
    }
    rowCount = used;
    result.replaced = true;
  }

  int next = rowCount;
  if (next > kSlotCount) next = kSlotCount;
  if (next > 0 && !slots[static_cast<std::size_t>(next - 1)].entry.Used()) --next;

  for (const ScanRow& row : rows) {
    if (row.rowState != kRowChecked) continue;
    int chosen = -1;
    // An all-zero MAC only says the server did not know it; it names no unit.
    if (!AllZero(row.mac)) {
      for (int i = 0; i < kSlotCount; ++i) {
        const WorkingSlot& slot = slots[static_cast<std::size_t>(i)];
        if (!slot.entry.Used()) break;
        if (slot.macBytes == row.mac) {
          chosen = i;
          break;
        }
      }
    }
    if (chosen < 0) {
      if (next >= kSlotCount) continue;  // the table is full
      chosen = next++;
      slots[static_cast<std::size_t>(chosen)].entry.deviceName =
          MakeUniqueDefaultName(slots, chosen);
    }
    WorkingSlot& slot = slots[static_cast<std::size_t>(chosen)];
    slot.macBytes = row.mac;
    slot.entry.ipAddress = row.address;
    slot.entry.macText = MacTextOf(row.mac);
    slot.entry.portIndex = 0;
    slot.checkState = row.macObtained ? kCheckMacEqual : kCheckNoMacKnown;
    ++result.rowsMerged;
  }
  if (result.rowsMerged > 0) result.lastSlot = next - 1;
  return result;
}

}  // namespace orvel::autodetect
