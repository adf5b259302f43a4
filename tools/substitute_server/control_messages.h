#pragma once
// Private messages by which a test steers the substitute server (WM_APP range, so they
// never collide with the server protocol, and are not written to the message log).
// Send them with SendMessage: each is handled before the call returns, including any
// messages the notified window sends back to the server while it handles a notification.

#include <cstdint>

namespace orvel::substitute {

inline constexpr std::uint32_t kControlFirst = 0x8000 + 0x40;  // WM_APP + 0x40
// Sends SRVM_USE_STATE_CHANGED with this message's lParam to the registered window.
// Answers 1 when a window was registered and took the message, else 0.
inline constexpr std::uint32_t kControlSendUseStateChanged = kControlFirst + 0;
// Sends SRVM_RECHECK_DEVICES to the registered window; answers as above.
inline constexpr std::uint32_t kControlSendRecheckDevices = kControlFirst + 1;
// Sets the in-use flag to wParam != 0; answers 1.
inline constexpr std::uint32_t kControlSetInUse = kControlFirst + 2;
// Reads the units file again; answers 1 when it was read, 0 when it could not be read
// or has an error (the old units stay).
inline constexpr std::uint32_t kControlReloadUnits = kControlFirst + 3;
// Answers 1 at once, then takes no message for wParam milliseconds, as a hung server
// does; a later Stop ends the process without waiting for that.
inline constexpr std::uint32_t kControlStopAnswering = kControlFirst + 4;
inline constexpr std::uint32_t kControlLast = kControlStopAnswering;

// How long the server waits for the registered window to take a notification.
inline constexpr std::uint32_t kNotifyTimeoutMs = 10000;

}  // namespace orvel::substitute
