#pragma once
// The auto-detect dialog's controls and timer as the scan engine sees them: a result
// list with rows, a page size and a scroll position, enabled states, the focus, and a
// timer and message queue that the test drives by hand.

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/autodetect/address_scan.h"
#include "config/autodetect/autodetect_ids.h"

namespace orvel::testing {

class FakeScanTimer : public autodetect::ScanTimer {
 public:
  struct Posted {
    std::uint32_t message, wParam, lParam;
  };

  bool StartTimer(unsigned id, unsigned periodMs) override {
    started.push_back({id, periodMs});
    if (failStart) return false;
    running[id] = periodMs;
    return true;
  }
  void KillTimer(unsigned id) override {
    killed.push_back(id);
    running.erase(id);
  }
  void PostToDialog(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override {
    queue.push_back({message, wParam, lParam});
  }

  bool Running() const { return running.count(autodetect::kScanTimerId) != 0; }
  int Count(std::uint32_t message) const {
    int n = 0;
    for (const Posted& p : queue) n += p.message == message;
    return n;
  }

  // Runs the dialog's message loop: timer ticks while the timer runs and nothing is
  // queued, queued messages first. Stops when the timer is gone and the queue empty,
  // or after `maxTicks` ticks.
  void Run(autodetect::AddressScan& scan, int maxTicks = 100000) {
    for (int ticks = 0; ticks < maxTicks;) {
      if (!queue.empty()) {
        const Posted p = queue.front();
        queue.pop_front();
        ++delivered[p.message];
        if (p.message == autodetect::SCANM_STOP) scan.StopScan();
        if (p.message == autodetect::SCANM_START) scan.BeginScan();
        continue;
      }
      if (!Running()) return;
      scan.ScanTick();
      ++ticks;
    }
  }

  std::vector<std::pair<unsigned, unsigned>> started;
  std::vector<unsigned> killed;
  std::map<unsigned, unsigned> running;
  std::deque<Posted> queue;
  std::map<std::uint32_t, int> delivered;
  bool failStart = false;
};

class FakeScanDisplay : public autodetect::ScanDisplay {
 public:
  FakeScanDisplay() {
    for (int id :
         {autodetect::kIdAddToList, autodetect::kIdCancel, autodetect::kIdImport,
          autodetect::kIdExport, autodetect::kIdStart, autodetect::kIdAbort,
          autodetect::kIdStartOctet1, autodetect::kIdStartOctet2, autodetect::kIdStartOctet3,
          autodetect::kIdStartOctet4, autodetect::kIdStopOctet, autodetect::kIdResultList})
      enabled[id] = true;
  }

  void ShowProgress(std::optional<std::uint32_t> address) override {
    progress = address;
    if (address)
      progressShown.push_back(*address);
    else
      progressLineEnabled = false;
  }
  void EnableProgressLine() override { progressLineEnabled = true; }
  void SetRangeFieldsEnabled(bool on) override {
    rangeFieldsEnabled = on;
    for (int id :
         {autodetect::kIdStopOctet, autodetect::kIdStart, autodetect::kIdStartOctet1,
          autodetect::kIdStartOctet2, autodetect::kIdStartOctet3, autodetect::kIdStartOctet4})
      EnableControl(id, on);
  }
  void EnableControl(int id, bool on) override {
    enabled[id] = on;
    // A disabled window loses the focus.
    if (!on && focus == id) focus = 0;
  }
  bool IsControlEnabled(int id) override { return enabled[id]; }
  int FocusedControl() override { return focus; }
  void FocusControl(int id) override {
    focus = id;
    focusCalls.push_back(id);
  }
  void RepaintNow() override { ++repaints; }

  // Like the list view: deleting every row also drops the selection and the focus and
  // scrolls to the top.
  void DeleteAllResultRows() override {
    list.clear();
    ++listClears;
    selectedRow = -1;
    focusedRow = -1;
    scrollPosition = 0;
  }
  void InsertResultRow(int row, const autodetect::ResultRowText& text) override {
    if (row < 0 || row > static_cast<int>(list.size())) {
      badInserts.push_back(row);
      return;
    }
    list.insert(list.begin() + row, text);
  }
  void UpdateResultRow(int row, const autodetect::ResultRowText& text, unsigned parts) override {
    if (row < 0 || row >= static_cast<int>(list.size())) {
      badInserts.push_back(row);
      return;
    }
    autodetect::ResultRowText& shown = list[static_cast<std::size_t>(row)];
    if (parts & autodetect::kPartImage) shown.image = text.image;
    if (parts & autodetect::kPartAddress) shown.address = text.address;
    if (parts & autodetect::kPartName) shown.name = text.name;
    if (parts & autodetect::kPartMac) shown.mac = text.mac;
    if (parts & autodetect::kPartItemData) shown.itemData = text.itemData;
    updatedRows.push_back(row);
    if (row == selectedRow) selectedRow = -1;
  }
  void DeleteResultRow(int row) override {
    if (row < 0 || row >= static_cast<int>(list.size())) {
      badInserts.push_back(row);
      return;
    }
    list.erase(list.begin() + row);
    if (row == selectedRow) selectedRow = -1;
    if (row == focusedRow) focusedRow = -1;
  }
  void DeselectResultRow(int row) override {
    deselected.push_back(row);
    if (row == selectedRow) selectedRow = -1;
  }
  void ClearResultSelection() override { selectedRow = -1; }
  int ResultRowsPerPage() override {
    ++pageQueries;
    return rowsPerPage;
  }
  void SetMacColumnWidth(int pixels) override {
    macWidth = pixels;
    macWidths.push_back(pixels);
  }
  int ResultScrollPosition() override { return scrollPosition; }
  void ScrollResultsTo(int topRow) override {
    scrollPosition = topRow;
    scrolls.push_back(topRow);
  }

  std::optional<std::uint32_t> progress;
  std::vector<std::uint32_t> progressShown;
  bool progressLineEnabled = false;
  bool rangeFieldsEnabled = true;
  std::map<int, bool> enabled;
  int focus = autodetect::kIdStart;
  std::vector<int> focusCalls;
  int repaints = 0;

  std::vector<autodetect::ResultRowText> list;
  int listClears = 0;
  std::vector<int> badInserts;
  std::vector<int> deselected;
  std::vector<int> updatedRows;
  int selectedRow = -1;  // the row a click selected, as the list view does
  int focusedRow = -1;   // the row a click or the keyboard put the focus on
  int rowsPerPage = 8;
  int pageQueries = 0;
  int macWidth = autodetect::kMacColumnWide;
  std::vector<int> macWidths;
  int scrollPosition = 0;
  std::vector<int> scrolls;
};

}  // namespace orvel::testing
