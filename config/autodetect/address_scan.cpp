#include "config/autodetect/address_scan.h"

#include <algorithm>

#include "config/autodetect/autodetect_ids.h"
#include "config/autodetect/range_rules.h"
#include "config/core/server_messages.h"

namespace orvel::autodetect {

AddressScan::AddressScan(ServerChannel* server, ScanTimer& timer, ScanDisplay& display,
                         const RangeRules& range, WorkingTable tableCopy,
                         std::uint32_t scanStartAddress)
    : server_(server),
      timer_(timer),
      display_(display),
      range_(range),
      tableCopy_(std::move(tableCopy)),
      scanStartAddress_(scanStartAddress) {}

unsigned ChangedParts(const ResultRowText& shown, const ResultRowText& wanted) {
  unsigned parts = 0;
  if (shown.image != wanted.image) parts |= kPartImage;
  if (shown.address != wanted.address) parts |= kPartAddress;
  if (shown.name != wanted.name) parts |= kPartName;
  if (shown.mac != wanted.mac) parts |= kPartMac;
  if (shown.itemData != wanted.itemData) parts |= kPartItemData;
  return parts;
}

bool AddressScan::AnyRowChecked() const {
  for (int row = 0; row < resultCount_; ++row) {
    if (rows_[static_cast<std::size_t>(row)].rowState == kRowChecked) return true;
  }
  return false;
}

void AddressScan::StartScan() {
  if (!HasServer()) return;
  active_ = ReadActiveAddresses(*server_);
  BeginScan();
}

void AddressScan::BeginScan() {
  if (!HasServer()) return;
  resultCount_ = 0;
  probeNumber_ = 0;
  RememberCheckedRows();
  rows_.fill(ScanRow{});

  std::int32_t stop = range_.scanStopOctet();
  stop = std::clamp(stop, 0, 255);
  scanStartAddress_ = range_.rangeStart();
  currentAddress_ = scanStartAddress_;
  endAddress_ = (scanStartAddress_ & 0xFFFFFF00u) | static_cast<std::uint32_t>(stop);

  savedFocus_ = display_.FocusedControl();

  display_.SetRangeFieldsEnabled(false);
  display_.EnableControl(kIdAddToList, false);
  display_.EnableControl(kIdImport, false);
  display_.EnableControl(kIdExport, false);
  display_.EnableControl(kIdAbort, true);
  display_.EnableProgressLine();
  ClearShownRows();
  display_.RepaintNow();

  scanning_ = true;
  timerRunning_ = timer_.StartTimer(kScanTimerId, kScanTimerPeriodMs);
  // Without a timer no tick would ever end the scan and the dialog would stay locked.
  if (!timerRunning_) AbortScan();
}

void AddressScan::RequestStop() {
  timer_.PostToDialog(SCANM_STOP, 0, 0);
  scanning_ = false;
}

void AddressScan::ScanTick() {
  if (!scanning_) return;
  display_.ShowProgress(currentAddress_);
  const int widthBefore = macWidth_;
  ProbeAddress(probeNumber_, currentAddress_);
  // A new column width and the row that brings the scroll bar each repaint much of the
  // list, so they go to the list in different ticks, and a tick adds at most one row:
  // the list may lag one row behind the table until the finds pause or the scan ends.
  if (macWidth_ == widthBefore) ShowNextFoundRow();
  ++currentAddress_;
  ++probeNumber_;

  const std::uint32_t first = currentAddress_ >> 24;
  if ((first == 0 || first == 4) && (currentAddress_ & 0x00FFFFFFu) == 0x00FFFFFFu) RequestStop();
  if (first == 128 && (currentAddress_ & 0x0000FFFFu) == 0x0000FFFFu) RequestStop();
  if (currentAddress_ > endAddress_) RequestStop();
}

bool AddressScan::FetchUnitMac(ScanRow& row, std::uint32_t address) {
  const std::optional<MacBytes> mac = ReadUnitMac(*server_, address);
  if (!mac) return false;
  row.mac = *mac;
  row.macObtained = true;
  return true;
}

ResultRowText AddressScan::RowText(const ScanRow& row) const {
  ResultRowText text;
  text.image = row.rowState;
  text.address = AddressColumnText(row.address);
  if (row.rowState == kRowListed) {
    if (const std::optional<int> slot = FindAddress(tableCopy_, row.address))
      text.name = tableCopy_[static_cast<std::size_t>(*slot)].entry.deviceName;
  }
  text.mac = MacColumnText(row.mac);
  text.itemData = row.address;
  return text;
}

void AddressScan::ProbeAddress(std::uint32_t probe, std::uint32_t address) {
  if (server_->Send(SRVM_PROBE_ADDRESS, probe, address) != 0 && resultCount_ < kSlotCount) {
    if (std::find(active_.begin(), active_.end(), address) != active_.end()) return;
    ScanRow& row = rows_[static_cast<std::size_t>(resultCount_)];
    row = ScanRow{};
    row.address = address;
    if (const std::optional<int> slot = FindAddress(tableCopy_, address)) {
      row.rowState = kRowListed;
      if (!FetchUnitMac(row, address))
        row.mac = tableCopy_[static_cast<std::size_t>(*slot)].macBytes;
    } else {
      row.rowState = kRowNew;
      FetchUnitMac(row, address);
    }
    ++resultCount_;
  }
  SetMacColumnWidth(resultCount_ > display_.ResultRowsPerPage() ? kMacColumnNarrow
                                                                : kMacColumnWide);
}

void AddressScan::SetMacColumnWidth(int width) {
  display_.SetMacColumnWidth(width);
  macWidth_ = width;
}

void AddressScan::ShowNextFoundRow() {
  if (shown_.size() < static_cast<std::size_t>(resultCount_))
    AppendShownRow(RowText(rows_[shown_.size()]));
}

void AddressScan::StopScan() {
  if (timerRunning_) {
    timer_.KillTimer(kScanTimerId);
    timerRunning_ = false;
  }
  display_.ShowProgress(std::nullopt);
  display_.SetRangeFieldsEnabled(true);
  for (int i = 0; i < resultCount_; ++i) {
    ScanRow& row = rows_[static_cast<std::size_t>(i)];
    if (std::find(checked_.begin(), checked_.end(), row.address) != checked_.end())
      row.rowState = kRowChecked;
  }
  RebuildResultList();
  display_.EnableControl(kIdAddToList, AnyRowChecked());
  display_.EnableControl(kIdAbort, false);
  display_.EnableControl(kIdImport, true);
  display_.EnableControl(kIdExport, true);
  checked_.clear();
  if (display_.FocusedControl() == 0) {
    if (savedFocus_ != 0 && display_.IsControlEnabled(savedFocus_))
      display_.FocusControl(savedFocus_);
    else
      display_.FocusControl(kIdStartOctet1);
  }
}

void AddressScan::AbortScan() {
  scanning_ = false;
  StopScan();
  display_.EnableControl(kIdAbort, false);
}

void AddressScan::RememberCheckedRows() {
  checked_.clear();
  for (ScanRow& row : rows_) {
    if (FindAddress(tableCopy_, row.address)) {
      row.rowState = kRowListed;
      continue;
    }
    if (row.rowState == kRowChecked &&
        std::find(checked_.begin(), checked_.end(), row.address) == checked_.end())
      checked_.push_back(row.address);
  }
}

void AddressScan::ClearShownRows() {
  display_.DeleteAllResultRows();
  shown_.clear();
}

void AddressScan::AppendShownRow(const ResultRowText& text) {
  display_.InsertResultRow(static_cast<int>(shown_.size()), text);
  shown_.push_back(text);
}

// A rebuild used to delete and insert every row; the list now keeps its rows, so the
// selection and the scroll position that deleting them reset are reset here. The focus
// stays: it is where a keyboard user is working in the list.
void AddressScan::RebuildResultList() {
  if (resultCount_ < 0) return;
  const std::size_t count = static_cast<std::size_t>(resultCount_);
  while (shown_.size() > count) {
    display_.DeleteResultRow(static_cast<int>(shown_.size()) - 1);
    shown_.pop_back();
  }
  for (std::size_t i = 0; i < count; ++i) {
    ResultRowText text = RowText(rows_[i]);
    if (i == shown_.size()) {
      AppendShownRow(text);
    } else if (const unsigned parts = ChangedParts(shown_[i], text); parts != 0) {
      display_.UpdateResultRow(static_cast<int>(i), text, parts);
      shown_[i] = std::move(text);
    }
  }
  display_.ClearResultSelection();

  int top = 0;
  if (resultCount_ >= 9 && lastClickedRow_ >= 8) {
    top = savedScrollPos_;
    if (lastClickedRow_ < top || lastClickedRow_ > top + 15) {
      top = lastClickedRow_ - 7;
      savedScrollPos_ = top;
    }
    display_.ScrollResultsTo(top);
  } else if (display_.ResultScrollPosition() != 0) {
    display_.ScrollResultsTo(0);
  }
}

void AddressScan::ToggleRow(int index) {
  lastClickedRow_ = index;
  if (resultCount_ > 8) savedScrollPos_ = display_.ResultScrollPosition();
  ScanRow& row = rows_[static_cast<std::size_t>(index)];
  switch (row.rowState) {
    case kRowNew:
      row.rowState = kRowChecked;
      if (std::find(checked_.begin(), checked_.end(), row.address) == checked_.end() &&
          checked_.size() < static_cast<std::size_t>(kSlotCount))
        checked_.push_back(row.address);
      RebuildResultList();
      break;
    case kRowChecked: {
      row.rowState = kRowNew;
      auto it = std::find(checked_.begin(), checked_.end(), row.address);
      if (it != checked_.end()) checked_.erase(it);
      RebuildResultList();
      break;
    }
    default:
      display_.DeselectResultRow(index);
      break;
  }
}

void AddressScan::UpdateAddButton() {
  display_.EnableControl(kIdAddToList, !scanning_ && AnyRowChecked());
}

void AddressScan::OnResultClick(int row, int column) {
  if (row >= 0 && row < resultCount_ && column == 0) ToggleRow(row);
  UpdateAddButton();
}

void AddressScan::Close() {
  scanStartAddress_ = range_.rangeStart();
  active_.clear();
  active_.shrink_to_fit();
  if (timerRunning_) {
    timer_.KillTimer(kScanTimerId);
    timerRunning_ = false;
  }
  scanning_ = false;
}

void AddressScan::ReplaceTable(WorkingTable tableCopy, std::uint32_t scanStartAddress) {
  tableCopy_ = std::move(tableCopy);
  scanStartAddress_ = scanStartAddress;
}

}  // namespace orvel::autodetect
