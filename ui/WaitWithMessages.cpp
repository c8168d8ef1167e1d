#include "ui/WaitWithMessages.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "platform/Ticks.h"

namespace quor::ui {

bool WaitWithMessages(std::uint32_t ms, QPointer<QWidget> window) {
  const std::uint32_t start = platform::TickCount();
  // A timer that fires when the time is up wakes the blocking dispatch
  // below; between its ticks every other event runs as it comes.
  QTimer wake;
  wake.setSingleShot(true);
  for (;;) {
    if (window.isNull() || !window->isVisible()) return false;
    const std::uint32_t elapsed = platform::TicksSince(start);
    if (elapsed >= ms) return true;
    wake.start(static_cast<int>(ms - elapsed));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
}

}  // namespace quor::ui
