#include "config/autodetect/auto_detect_flow.h"

#include "config/autodetect/setup_file.h"

namespace orvel::autodetect {

void AutoDetectFlow::ImportSetup() {
  const std::optional<std::string> path = host_.ChooseSetupFile(false);
  if (!path) return;
  std::unique_ptr<SettingsStore> file = host_.OpenSetupFile(*path);
  if (!ImportSetupFile(scan_, range_, *file)) {
    host_.ShowText(kTextNotSetupFile, false);
    return;
  }
  imported_ = true;
  Close(kDialogResultOk);
}

void AutoDetectFlow::ExportSetup() {
  const std::optional<std::string> path = host_.ChooseSetupFile(true);
  if (!path) return;
  std::unique_ptr<SettingsStore> file = host_.OpenSetupFile(*path);
  ExportSetupFile(scan_, range_, *file);
  if (!file->Commit()) {
    // The user must not leave believing the list went into the file; the device
    // settings themselves are untouched, so the text speaks of the file only.
    host_.ShowText(kTextExportFailed, true);
    return;
  }
  exported_ = true;
  Close(kDialogResultOk);
}

// Whatever way the dialog closes, the range the user left goes back to the main
// dialog, and the scan stops before the window goes.
void AutoDetectFlow::Close(int result) {
  scanStartAddress_ = range_.rangeStart();
  scan_.Close();
  host_.ReleaseWindowResources();
  host_.EndDialog(result);
}

}  // namespace orvel::autodetect
