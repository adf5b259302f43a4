#pragma once
// Window messages exchanged with the driver's network server program.

#include <cstdint>

namespace orvel {

inline constexpr char kServerWindowClass[] = "VANTOR_Ethernet_Server_CLASSNAME";
inline constexpr char kServerWindowTitle[] = "VANTOR_Ethernet_Server";

// To the server.
inline constexpr std::uint32_t SRVM_PROBE_ADDRESS = 1342;  // wParam probe number, lParam address
inline constexpr std::uint32_t SRVM_GET_ACTIVE_ADDRESS =
    1344;  // wParam 0xFFFFFFFF = count, else index
inline constexpr std::uint32_t SRVM_GET_MAC_ADDRESS = 1345;  // wParam 0 = bytes 1-4, 1 = bytes 5-6
inline constexpr std::uint32_t SRVM_RELOAD_SETTINGS = 1346;
inline constexpr std::uint32_t SRVM_QUERY_IN_USE = 1347;
inline constexpr std::uint32_t SRVM_SET_NOTIFY_WINDOW = 1426;  // wParam window or 0

// From the server to the registered window.
inline constexpr std::uint32_t SRVM_USE_STATE_CHANGED = 1426;  // lParam 1 = free, 0 = in use
inline constexpr std::uint32_t SRVM_RECHECK_DEVICES = 1427;

inline constexpr std::uint32_t kActiveAddressCount = 0xFFFFFFFFu;
inline constexpr std::uint32_t kNoMacKnown = 0xFFFFFFFFu;

}  // namespace orvel
