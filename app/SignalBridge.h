#pragma once
// SIGTERM and SIGINT as a request to close the main window: the handler only
// writes the signal number to a pipe, the GUI thread reads it and runs the
// close callback there (through FormCloseQuery, like any close).

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace quor::app {

class SignalBridge : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers; onSignal runs on the GUI thread for each signal.
  explicit SignalBridge(std::function<void()> onSignal);
  // Restores the default dispositions.
  ~SignalBridge() override;
  SignalBridge(const SignalBridge&) = delete;
  SignalBridge& operator=(const SignalBridge&) = delete;

 private:
  std::function<void()> onSignal_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quor::app
