#pragma once
// The address-range scan of the auto-detect dialog: one probe per timer tick through
// the server, a result table of up to 256 found units, and the user's check marks,
// which survive a new scan.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config/core/device_table.h"
#include "config/core/server_channel.h"

namespace orvel::autodetect {

class RangeRules;

enum RowState : std::int32_t { kRowNew = 0, kRowChecked = 1, kRowListed = 2 };

struct ScanRow {
  std::uint32_t address = 0;
  MacBytes mac{};
  std::int32_t rowState = kRowNew;  // also the row's image
  bool macObtained = false;
  friend bool operator==(const ScanRow&, const ScanRow&) = default;
};

// SetTimer / KillTimer on the dialog window, and PostMessageA to it.
class ScanTimer {
 public:
  virtual ~ScanTimer() = default;
  // False when no timer could be made.
  virtual bool StartTimer(unsigned id, unsigned periodMs) = 0;
  virtual void KillTimer(unsigned id) = 0;
  virtual void PostToDialog(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) = 0;
};

struct ResultRowText {
  int image = 0;
  std::string address, name, mac;
  std::uint32_t itemData = 0;
  friend bool operator==(const ResultRowText&, const ResultRowText&) = default;
};

// The parts of a shown row that an update rewrites.
enum ResultRowPart : unsigned {
  kPartImage = 1u << 0,
  kPartAddress = 1u << 1,
  kPartName = 1u << 2,
  kPartMac = 1u << 3,
  kPartItemData = 1u << 4,
};

// The parts in which two texts of a row differ.
unsigned ChangedParts(const ResultRowText& shown, const ResultRowText& wanted);

// What the scan does to the dialog's controls.
class ScanDisplay {
 public:
  virtual ~ScanDisplay() = default;
  // The four octets of the address being probed; none clears and disables the line.
  virtual void ShowProgress(std::optional<std::uint32_t> address) = 0;
  virtual void EnableProgressLine() = 0;
  // The stop field, Start, the four start fields and the three mirror labels.
  virtual void SetRangeFieldsEnabled(bool on) = 0;
  virtual void EnableControl(int id, bool on) = 0;
  virtual bool IsControlEnabled(int id) = 0;
  // Control id with the keyboard focus; 0 when none has it.
  virtual int FocusedControl() = 0;
  virtual void FocusControl(int id) = 0;
  virtual void RepaintNow() = 0;

  // Rows are never left selected. The focused row is the keyboard's: it stays where the
  // user put it through inserts, rewrites and rebuilds, and goes only with its row.
  virtual void DeleteAllResultRows() = 0;
  // Inserts the row unselected, with its texts and item data.
  virtual void InsertResultRow(int row, const ResultRowText& text) = 0;
  // Rewrites the given parts of a shown row and leaves it unselected.
  virtual void UpdateResultRow(int row, const ResultRowText& text, unsigned parts) = 0;
  virtual void DeleteResultRow(int row) = 0;
  virtual void DeselectResultRow(int row) = 0;
  // Clears the selected state wherever a row has it.
  virtual void ClearResultSelection() = 0;
  virtual int ResultRowsPerPage() = 0;
  virtual void SetMacColumnWidth(int pixels) = 0;
  virtual int ResultScrollPosition() = 0;
  // Scrolls the list down by `topRow` rows and sets the scroll bar there.
  virtual void ScrollResultsTo(int topRow) = 0;
};

inline constexpr int kMacColumnWide = 140;
inline constexpr int kMacColumnNarrow = 123;

class AddressScan {
 public:
  // `server` is the window the main dialog found, or null; `tableCopy` is the dialog's
  // copy of the main dialog's table, taken when it opens.
  AddressScan(ServerChannel* server, ScanTimer& timer, ScanDisplay& display,
              const RangeRules& range, WorkingTable tableCopy, std::uint32_t scanStartAddress);
  AddressScan(const AddressScan&) = delete;
  AddressScan& operator=(const AddressScan&) = delete;

  void StartScan();  // the Start button
  void BeginScan();  // also SCANM_START
  void ScanTick();   // WM_TIMER
  void StopScan();   // SCANM_STOP
  void AbortScan();  // the Abort button
  // A click in the result list: the hit row (-1 for none) and column. Space on the
  // list comes here too, as a click in column 0 of the focused row.
  void OnResultClick(int row, int column);
  // Closing by either button: keeps the range, ends a running timer without StopScan.
  void Close();

  void RememberCheckedRows();
  // Brings the list to what a rebuild from the result table shows, rewriting only the
  // rows that differ from what the list holds.
  void RebuildResultList();
  // An imported table replaces the copy, with the start address the file gave.
  void ReplaceTable(WorkingTable tableCopy, std::uint32_t scanStartAddress);

  bool scanning() const { return scanning_; }
  bool timerRunning() const { return timerRunning_; }
  int resultCount() const { return resultCount_; }
  const std::array<ScanRow, kSlotCount>& rows() const { return rows_; }
  const std::vector<std::uint32_t>& checkedAddresses() const { return checked_; }
  const std::vector<std::uint32_t>& activeAddresses() const { return active_; }
  const WorkingTable& tableCopy() const { return tableCopy_; }
  std::uint32_t scanStartAddress() const { return scanStartAddress_; }
  std::uint32_t currentAddress() const { return currentAddress_; }
  std::uint32_t endAddress() const { return endAddress_; }
  bool AnyRowChecked() const;

 private:
  bool HasServer() const { return server_ != nullptr && server_->Present(); }
  void ProbeAddress(std::uint32_t probe, std::uint32_t address);
  void SetMacColumnWidth(int width);
  void ShowNextFoundRow();
  bool FetchUnitMac(ScanRow& row, std::uint32_t address);
  void RequestStop();
  void ToggleRow(int row);
  void UpdateAddButton();
  ResultRowText RowText(const ScanRow& row) const;
  void ClearShownRows();
  void AppendShownRow(const ResultRowText& text);

  ServerChannel* server_;
  ScanTimer& timer_;
  ScanDisplay& display_;
  const RangeRules& range_;
  WorkingTable tableCopy_;
  std::uint32_t scanStartAddress_;

  std::array<ScanRow, kSlotCount> rows_{};
  int resultCount_ = -1;
  std::vector<std::uint32_t> checked_;
  std::vector<std::uint32_t> active_;
  // What the result list holds, row by row, as this scan put it there.
  std::vector<ResultRowText> shown_;
  // The MAC column's width as last set; the dialog creates the column wide.
  int macWidth_ = kMacColumnWide;

  bool scanning_ = false;
  bool timerRunning_ = false;
  std::uint32_t currentAddress_ = 0;
  std::uint32_t endAddress_ = 0;
  std::uint32_t probeNumber_ = 0;
  int savedFocus_ = 0;
  int lastClickedRow_ = -1;
  int savedScrollPos_ = 0;
};

}  // namespace orvel::autodetect
