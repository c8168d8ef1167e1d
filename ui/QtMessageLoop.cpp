#include "ui/QtMessageLoop.h"

#include <QMetaObject>

#include "ui/HandlerGuard.h"

namespace quor::ui {

QtMessageLoop::QtMessageLoop(Notifier& notifier, QObject* parent)
    : QObject(parent), notifier_(notifier) {}

void QtMessageLoop::Post(std::function<void()> task) {
  // The functor runs in this object's thread (the GUI thread) from its event
  // queue; the guard keeps any exception out of the Qt event loop.
  QMetaObject::invokeMethod(
      this, [this, task = std::move(task)] { RunGuarded(notifier_, task); }, Qt::QueuedConnection);
}

void QtMessageLoop::ReportError(const std::exception& error) {
  try {
    notifier_.ShowMessage(FailureText(error.what()));
  } catch (...) {
    // The report itself failed; the loop must go on.
  }
}

}  // namespace quor::ui
