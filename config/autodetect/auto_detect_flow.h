#pragma once
// How "Advanced Settings" ends: importing a setup file, exporting one, or closing
// with OK or Cancel, and what the main dialog takes back afterwards.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "config/autodetect/address_scan.h"
#include "config/autodetect/range_rules.h"
#include "config/core/configure_app.h"
#include "config/core/text_ids.h"

namespace orvel::autodetect {

// What the flow needs of the dialog window: the file dialogs, the message box and
// the window's own resources.
class AutoDetectHost {
 public:
  virtual ~AutoDetectHost() = default;
  // The open or save file dialog; none when the user cancelled it.
  virtual std::optional<std::string> ChooseSetupFile(bool save) = 0;
  virtual std::unique_ptr<SettingsStore> OpenSetupFile(const std::string& path) = 0;
  // A message box with caption string 1 and OK; the error icon or the information one.
  virtual void ShowText(TextId text, bool error) = 0;
  // The scan timer and the row images, which must go before the window does.
  virtual void ReleaseWindowResources() = 0;
  virtual void EndDialog(int result) = 0;
};

class AutoDetectFlow {
 public:
  AutoDetectFlow(AutoDetectHost& host, AddressScan& scan, RangeRules& range,
                 std::uint32_t scanStartAddress)
      : host_(host), scan_(scan), range_(range), scanStartAddress_(scanStartAddress) {}

  void ImportSetup();
  void ExportSetup();
  void Close(int result);

  std::uint32_t scanStartAddress() const { return scanStartAddress_; }
  bool imported() const { return imported_; }
  bool exported() const { return exported_; }

 private:
  AutoDetectHost& host_;
  AddressScan& scan_;
  RangeRules& range_;
  std::uint32_t scanStartAddress_;
  bool imported_ = false;
  bool exported_ = false;
};

}  // namespace orvel::autodetect
