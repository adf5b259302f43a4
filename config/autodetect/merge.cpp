#include "config/autodetect/merge.h"

#include <cstdio>

namespace orvel::autodetect {
namespace {

std::string MacHex(const MacBytes& mac) {
  std::string text;
  char pair[3];
  for (std::uint8_t byte : mac) {
    std::snprintf(pair, sizeof pair, "%02X", byte);
    text += pair;
  }
  return text;
}

bool AllZero(const MacBytes& mac) {
  for (std::uint8_t byte : mac) {
    if (byte != 0) return false;
  }
  return true;
}

}  // namespace

std::string MakeUniqueDefaultName(const WorkingSlots& slots, int slot) {
  return orvel::MakeUniqueDefaultName(slots, slot);
}

MergeResult MergeIntoTable(WorkingSlots& slots, int& rowCount, const TableCopy* imported,
                           std::span<const ScanRow> rows) {
  MergeResult result;
  if (imported != nullptr) {
    int used = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      slots[i].entry = imported->entries[i];
      slots[i].macBytes = ParseMacText(imported->entries[i].macText);
      slots[i].checkState = 0;
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
    slot.entry.macText = MacHex(row.mac);
    slot.entry.portIndex = 0;
    slot.checkState = row.macObtained ? 2 : 3;
    ++result.rowsMerged;
  }
  if (result.rowsMerged > 0) result.lastSlot = next - 1;
  return result;
}

}  // namespace orvel::autodetect
