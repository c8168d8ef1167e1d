#pragma once
// The remote data path's hook into the GUI loop: blocks that arrive while
// no call waits for them (a request of the server, an error between calls)
// are handed to the GUI thread as queued Qt calls, and failures no caller
// waits for go to the application's error report.

#include <QObject>

#include "remote/MessageLoop.h"
#include "ui/Notifier.h"

namespace quor::ui {

class QtMessageLoop final : public QObject, public remote::MessageLoop {
  Q_OBJECT
 public:
  // notifier must outlive the loop. Create it on the GUI thread.
  explicit QtMessageLoop(Notifier& notifier, QObject* parent = nullptr);

  // Any thread: runs task later on the GUI thread, inside the handler guard.
  void Post(std::function<void()> task) override;
  // GUI thread: shows the failure's text.
  void ReportError(const std::exception& error) override;

 private:
  Notifier& notifier_;
};

}  // namespace quor::ui
