#pragma once
// CAutoDetectDlg: "Advanced Settings", the address-range scan and the setup files.

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "config/autodetect/address_scan.h"
#include "config/autodetect/auto_detect_flow.h"
#include "config/autodetect/range_rules.h"
#include "config/core/device_table.h"
#include "config/core/server_channel.h"
#include "config/ui/control_names.h"
#include "config/ui/win32_dialog.h"

namespace orvel::ui {

class CAutoDetectDlg : public Dialog,
                       private autodetect::ScanDisplay,
                       private autodetect::ScanTimer,
                       private autodetect::RangeFieldView,
                       private autodetect::AutoDetectHost {
 public:
  struct Handover {
    std::uint32_t scanStartAddress = 0;
    std::int32_t scanStopOctet = 0;
    ServerChannel* server = nullptr;  // none when the main dialog found no server
    std::string settingsFolder;
    std::array<DeviceEntry, kSlotCount> entries{};
    ControlAnnotation* annotation = nullptr;  // none: the controls keep the platform's names
  };

  CAutoDetectDlg(HINSTANCE instance, Handover handover);
  ~CAutoDetectDlg() override;

  // What the main dialog takes back after the run.
  std::uint32_t scanStartAddress() const { return flow_.scanStartAddress(); }
  std::int32_t scanStopOctet() const { return range_.scanStopOctet(); }
  bool imported() const { return flow_.imported(); }
  bool exported() const { return flow_.exported(); }
  const autodetect::AddressScan& scan() const { return scan_; }

 protected:
  BOOL OnInitDialog() override;
  void OnOK() override { flow_.Close(IDOK); }
  void OnCancel() override { flow_.Close(IDCANCEL); }
  void OnDestroying() override { names_.ClearAll(); }
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
  void UpdateResultRow(int row, const autodetect::ResultRowText& text, unsigned parts) override;
  void DeleteResultRow(int row) override;
  void DeselectResultRow(int row) override;
  void ClearResultSelection() override;
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
  // AutoDetectHost
  std::optional<std::string> ChooseSetupFile(bool save) override;
  std::unique_ptr<SettingsStore> OpenSetupFile(const std::string& path) override;
  void ShowText(TextId text, bool error) override;
  void ReleaseWindowResources() override;
  void EndDialog(int result) override { Dialog::EndDialog(result); }

  LRESULT OnFieldCommand(const RoutedMessage& message);
  LRESULT OnResultsClick(const RoutedMessage& message);
  bool OnResultsKey(const MSG& message);

  static std::optional<autodetect::RangeField> FieldOf(int id);
  void NameResultRow(int row, const autodetect::ResultRowText& text);
  std::uintptr_t ResultsWindow() const;

  HINSTANCE instance_;
  Handover handover_;
  autodetect::RangeRules range_;
  autodetect::AddressScan scan_;
  autodetect::AutoDetectFlow flow_;
  DialogAnnotations names_;
  HIMAGELIST rowImages_ = nullptr;
  bool timerRunning_ = false;
  // What the MAC column got beyond its designed width to show a MAC whole.
  int macExtra_ = 0;
  // What the four progress labels show; every probe sets them, mostly to what they hold.
  std::array<std::string, 4> progressText_;
};

}  // namespace orvel::ui
