#pragma once
// The application's default error report. Every handler the toolkit calls
// (clicks, changes, the timer, hot keys, window events) runs inside
// RunGuarded: a failure shows its message through the Notifier and the
// handler ends; no exception ever crosses the Qt event loop.
// GUI thread only.

#include <QString>
#include <exception>
#include <utility>

#include "ui/Notifier.h"

namespace quor::ui {

// The text of a failure as the guests see it. Messages are byte strings:
// UTF-8 (our own and the libraries' texts) is taken as it stands, anything
// that is not valid UTF-8 is read as the Chinese code page (a catalogue or
// server text passed on unchanged).
QString FailureText(const char* what);

// Runs handler(); reports what escapes it.
template <class Handler>
void RunGuarded(Notifier& notifier, Handler&& handler) noexcept {
  QString text;
  try {
    std::forward<Handler>(handler)();
    return;
  } catch (const std::exception& e) {
    text = FailureText(e.what());
  } catch (...) {
    text = QStringLiteral("Unknown failure");
  }
  try {
    notifier.ShowMessage(text);
  } catch (...) {
    // The report itself failed (no memory for the box): nothing sensible is
    // left to show, and the loop must go on.
  }
}

}  // namespace quor::ui
