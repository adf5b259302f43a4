#pragma once
// Setup files: a whole device table and the scan range, in the layout of orveld.ini,
// moved between machines by the auto-detect dialog's import and export buttons.

#include <array>
#include <cstdint>
#include <optional>

#include "config/core/configure_app.h"
#include "config/core/device_table.h"
#include "config/core/profile_store.h"

namespace orvel::autodetect {

class AddressScan;
class RangeRules;

// Read buffers of the setup-file test and of the import.
inline constexpr std::size_t kSetupNameBuffer = 260;
inline constexpr std::size_t kSetupMacBuffer = 256;

// Writes all 256 slots, used or not, then the two range values.
void WriteSetupFile(const DeviceTable& table, ProfileStore& store);

// The table and range of a setup file; none, and nothing read past the test, when
// slot 0 shows that the file is not a setup file.
std::optional<DeviceTable> ReadSetupFile(ProfileStore& store);

// Export as the dialog does it: the table copy, the start of the last scan (or the
// stored start) and the current stop octet.
void ExportSetupFile(const AddressScan& scan, const RangeRules& range, ProfileStore& store);
// Import as the dialog does it: on success the table copy, the start address and
// the range fields take the file's values and the result rows are marked against
// the new table. False, with nothing changed, when the file is not a setup file.
bool ImportSetupFile(AddressScan& scan, RangeRules& range, ProfileStore& store);

// The command line's import and export: the file rules and the range rules of the
// dialog, for a table that goes straight to the save flow or from the settings file.
class DialogSetupFiles final : public SetupFiles {
 public:
  std::optional<DeviceTable> Import(ProfileStore& file) override;
  void Export(const DeviceTable& table, ProfileStore& file) override;
};

}  // namespace orvel::autodetect
