#pragma once
// The GUI loop of a benchmark's terminal: nothing is posted while the data
// path is busy (replies are awaited in the connection's own wait); what is
// posted runs when the benchmark pumps, between iterations.

#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>

#include "remote/Remote.h"

namespace quor::bench {

class BenchLoop final : public remote::MessageLoop {
 public:
  void Post(std::function<void()> task) override {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  void ReportError(const std::exception& e) override {
    std::fprintf(stderr, "error report: %s\n", e.what());
  }
  void Pump() {
    std::deque<std::function<void()>> tasks;
    {
      const std::lock_guard lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& t : tasks) t();
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;  // guarded by mutex_
};

}  // namespace quor::bench
