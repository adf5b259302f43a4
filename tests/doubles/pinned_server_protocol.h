#pragma once
// The server's window protocol written out for the tests, apart from the product's
// own header: the program and the substitute server are built from that header, so
// a wrong number or name there would otherwise pass on both sides of every test.
// Inside orvel::test these hide the product's names of the same spelling.

#include <cstdint>

namespace orvel::test {

inline constexpr char kServerWindowClass[] = "VANTOR_Ethernet_Server_CLASSNAME";
inline constexpr char kServerWindowTitle[] = "VANTOR_Ethernet_Server";

inline constexpr std::uint32_t SRVM_PROBE_ADDRESS = 1342;
inline constexpr std::uint32_t SRVM_GET_ACTIVE_ADDRESS = 1344;
inline constexpr std::uint32_t SRVM_GET_MAC_ADDRESS = 1345;
inline constexpr std::uint32_t SRVM_RELOAD_SETTINGS = 1346;
inline constexpr std::uint32_t SRVM_QUERY_IN_USE = 1347;
inline constexpr std::uint32_t SRVM_SET_NOTIFY_WINDOW = 1426;
inline constexpr std::uint32_t SRVM_USE_STATE_CHANGED = 1426;
inline constexpr std::uint32_t SRVM_RECHECK_DEVICES = 1427;

inline constexpr std::uint32_t kActiveAddressCount = 0xFFFFFFFFu;
inline constexpr std::uint32_t kNoMacKnown = 0xFFFFFFFFu;

}  // namespace orvel::test
