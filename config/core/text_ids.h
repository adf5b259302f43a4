#pragma once
// Numbers of the configuration program's string table (English and Japanese).

namespace orvel {

enum TextId : unsigned {
  kTextProductName = 1,    // caption of every message box
  kTextConfirmRemove = 2,  // kept in the table; no command asks for confirmation
  kTextQuitApplications = 3,
  kTextSaveFailed = 4,
  kTextOpenFileTitle = 6,
  kTextSaveFileTitle = 7,
  kTextNotSetupFile = 8,
  kTextSaveBeforeClosing = 9,
  kTextAdminRequired = 10,
  kTextExportFailed = 11,          // the setup file chosen for an export could not be written
  kTextServerNotResponding = 12,   // the server did not answer the in-use question at a save
  kTextSettingsFileHeldOpen = 13,  // another program held orveld.ini open at a save
};

}  // namespace orvel
