#pragma once
// Control numbers, private messages and the timer of the auto-detect dialog.

#include <cstdint>

namespace orvel::autodetect {

// Private messages of the dialog window.
inline constexpr std::uint32_t SCANM_START = 1424;  // 0x590
inline constexpr std::uint32_t SCANM_STOP = 1425;   // 0x591, posted by the scan itself

inline constexpr unsigned kScanTimerId = 1;
inline constexpr unsigned kScanTimerPeriodMs = 10;

// Controls.
inline constexpr int kIdAddToList = 1;  // IDOK, "Add to &Device List"
inline constexpr int kIdCancel = 2;     // IDCANCEL
inline constexpr int kIdImport = 3;
inline constexpr int kIdExport = 4;
inline constexpr int kIdResultList = 1001;
inline constexpr int kIdStart = 1013;
inline constexpr int kIdAbort = 1016;
inline constexpr int kIdStartOctet1 = 1022;
inline constexpr int kIdStartOctet2 = 1023;
inline constexpr int kIdStartOctet3 = 1025;
inline constexpr int kIdStartOctet4 = 1026;
inline constexpr int kIdSearchingLabel = 1064;
inline constexpr int kIdFromLabel = 1065;
inline constexpr int kIdToLabel = 1066;
inline constexpr int kIdMirror1 = 1071;
inline constexpr int kIdMirror2 = 1072;
inline constexpr int kIdMirror3 = 1073;
inline constexpr int kIdStopOctet = 1074;
inline constexpr int kIdProgressOctet1 = 1075;  // 1075..1078
inline constexpr int kIdProgressDot1 = 1079;    // 1079..1081

// Result list images, one per row state.
inline constexpr int kImageIconUnchecked = 1014;
inline constexpr int kImageIconChecked = 1015;
inline constexpr int kImageIconListed = 1016;

}  // namespace orvel::autodetect
