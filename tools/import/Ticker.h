#pragma once
// Calls a function every few hundred milliseconds on a thread of its own
// while a long step runs on the caller's thread (progress of a walk or a
// parse). The function must be safe to call beside that step.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace quor::tools::catalogue {

class Ticker {
 public:
  explicit Ticker(std::function<void()> tick,
                  std::chrono::milliseconds every = std::chrono::milliseconds(200))
      : tick_(std::move(tick)), thread_([this, every] {
          std::unique_lock lock(mutex_);
          while (!wake_.wait_for(lock, every, [this] { return stop_; })) {
            lock.unlock();
            tick_();
            lock.lock();
          }
        }) {}
  ~Ticker() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  Ticker(const Ticker&) = delete;
  Ticker& operator=(const Ticker&) = delete;

 private:
  std::function<void()> tick_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;  // guarded by mutex_
  std::thread thread_;
};

}  // namespace quor::tools::catalogue
