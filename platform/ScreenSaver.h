#pragma once
// Keeping the screen saver away from an unattended kiosk.
//
// The terminal's window posts its system commands as queued messages in the
// classic form: a 32-bit message number and two parameters. The application
// filter asks IsScreenSaverRequest of every such message before it is
// dispatched and swallows the ones it answers true for.

#include <cstdint>

namespace quor::platform {

inline constexpr std::uint32_t kSysCommandMessage = 274;     // 0x0112
inline constexpr std::uintptr_t kScreenSaveCommand = 61760;  // 0xF140

struct QueuedMessage {
  std::uint32_t message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

// True exactly for message 274 with first parameter 61760: the screen-saver
// request, which must never reach a window. Pure; any thread.
constexpr bool IsScreenSaverRequest(const QueuedMessage& msg) {
  return msg.message == kSysCommandMessage && msg.wParam == kScreenSaveCommand;
}

// Suspends the X screen saver (XScreenSaverSuspend) and turns display power
// management off (DPMS) for the life of the process. Silent and false without
// an X display or the extensions. GUI thread, once at start-up.
bool SuppressScreenSaver();

}  // namespace quor::platform
