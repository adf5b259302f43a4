#pragma once
// CAutoDetectDlg: "Advanced Settings", the address-range scan and the setup files.

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <memory>
#include <optional>
#include <string>

#include "config/autodetect/address_scan.h"
#include "config/autodetect/range_rules.h"
#include "config/core/device_table.h"
#include "config/core/server_channel.h"
#include "config/ui/win32_dialog.h"

namespace orvel::ui {

class CAutoDetectDlg : public Dialog,
                       private autodetect::ScanDisplay,
                       private autodetect::ScanTimer,
                       private autodetect::RangeFieldView {
 public:
  struct Handover {
    std::uint32_t scanStartAddress = 0;
    std::int32_t scanStopOctet = 0;
    ServerChannel* server = nullptr;  // none when the main dialog found no server
    std::string settingsFolder;
    std::array<DeviceEntry, kSlotCount> entries{};
  };

  CAutoDetectDlg(HINSTANCE instance, Handover handover);
  ~CAutoDetectDlg() override;

  // What the main dialog takes back after the run.
  std::uint32_t scanStartAddress() const { return scanStartAddress_; }
  std::int32_t scanStopOctet() const { return range_.scanStopOctet(); }
  bool imported() const { return imported_; }
  bool exported() const { return exported_; }
  const autodetect::AddressScan& scan() const { return scan_; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override { CloseAutoDetect(IDOK); }
  void OnCancel() override { CloseAutoDetect(IDCANCEL); }
  bool PreTranslateMessage(MSG& message) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  // ScanDisplay
  void ShowProgress(std::optional<std::uint32_t> address) override;
  void EnableProgressLine() override;
  void SetRangeFieldsEnabled(bool on) override;
  void EnableControl(int id, bool on) override;
  bool IsControlEnabled(int id) override;
  int FocusedControl() override;
  void FocusControl(int id) override;
  void RepaintNow() override;
  void DeleteAllResultRows() override;
  void InsertResultRow(int row, const autodetect::ResultRowText& text) override;
  void ClearResultRowStates(int row) override;
  int ResultRowsPerPage() override;
  void SetMacColumnWidth(int pixels) override;
  int ResultScrollPosition() override;
  void ScrollResultsTo(int topRow) override;
  // ScanTimer
  bool StartTimer(unsigned id, unsigned periodMs) override;
  void KillTimer(unsigned id) override;
  void PostToDialog(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override;
  // RangeFieldView
  std::string FieldText(autodetect::RangeField field) override;
  void SetFieldText(autodetect::RangeField field, const std::string& text) override;
  void SetFieldSelection(autodetect::RangeField field, int start, int end) override;
  void FocusField(autodetect::RangeField field) override;
  void SetMirrorText(int index, const std::string& text) override;

  LRESULT OnCommand(UINT id, WPARAM wParam, LPARAM lParam);
  LRESULT OnResultsClick(UINT id, WPARAM wParam, LPARAM lParam);
  LRESULT OnTimer(UINT id, WPARAM wParam, LPARAM lParam);
  LRESULT OnScanStart(UINT id, WPARAM wParam, LPARAM lParam);
  LRESULT OnScanStop(UINT id, WPARAM wParam, LPARAM lParam);

  void ImportSetup();
  void ExportSetup();
  std::optional<std::string> ChooseFile(bool save);
  void ShowText(unsigned id, UINT icon);
  void CloseAutoDetect(int result);
  static std::optional<autodetect::RangeField> FieldOf(int id);

  HINSTANCE instance_;
  Handover handover_;
  autodetect::RangeRules range_;
  autodetect::AddressScan scan_;
  HIMAGELIST rowImages_ = nullptr;
  std::uint32_t scanStartAddress_ = 0;
  bool imported_ = false;
  bool exported_ = false;
  bool timerRunning_ = false;
};

}  // namespace orvel::ui
