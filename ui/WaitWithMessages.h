#pragma once
// A pause inside a handler that keeps the window alive: the GUI thread goes
// on dispatching clicks, keys and timer ticks until the 32-bit tick counter
// has advanced by ms (unsigned difference, so a wrap of the counter does no
// harm). GUI thread only.

#include <QPointer>
#include <QWidget>
#include <cstdint>

namespace quor::ui {

// Returns true when the time is up. Returns false at once when the window
// was closed or destroyed during the wait: the caller's objects may be gone
// with it, so it must return without touching them.
bool WaitWithMessages(std::uint32_t ms, QPointer<QWidget> window);

}  // namespace quor::ui
