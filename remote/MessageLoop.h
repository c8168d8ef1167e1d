#pragma once
// The GUI thread's message loop as the remote data path needs it: the
// connection hands it blocks that arrive while no call waits for them, and
// failures that no caller waits for. ui/ implements it with a queued Qt call;
// tests with a queue they pump.

#include <exception>
#include <functional>

namespace quor::remote {

class MessageLoop {
 public:
  // Runs `task` later on the GUI thread. Called from any thread.
  virtual void Post(std::function<void()> task) = 0;
  // The application's error report for failures no caller waits for
  // (a peer's error block or a lost connection between calls). GUI thread.
  virtual void ReportError(const std::exception& error) = 0;

 protected:
  ~MessageLoop() = default;
};

}  // namespace quor::remote
