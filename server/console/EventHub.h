#pragma once
// The desk's news for the browsers: the latest JSON of each kind ("calls",
// "rooms", "today"), and every event stream waiting for a newer one.
//
// A stream keeps only the version of each kind it has sent, never a queue:
// a slow browser gets the newest state when it is ready, and the memory the
// hub holds does not grow with the streams or with the news. Publish, Latest
// and Next may be called from any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace quor::server::console {

class EventHub {
 public:
  // What one stream has sent: the version of each kind.
  struct Cursor {
    std::map<std::string, std::uint64_t> sent;
  };

  void Publish(const std::string& kind, std::string json);
  // The latest JSON of a kind; "" when none was published.
  std::string Latest(const std::string& kind) const;

  // Waits up to `wait` for something newer than `cursor` has sent, and
  // answers it as server-sent events ("event: KIND\ndata: JSON\n\n" each),
  // advancing the cursor. "" when the wait ended without news; nullopt once
  // the hub is closed.
  std::optional<std::string> Next(Cursor& cursor, std::chrono::milliseconds wait);

  // Ends every wait for good (the server stops).
  void Close();

 private:
  struct Entry {
    std::uint64_t version = 0;
    std::string json;
  };
  std::string Pending(Cursor& cursor) const;  // mutex_ held

  // Guarded by mutex_.
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Entry> latest_;
  std::uint64_t version_ = 0;
  bool closed_ = false;
};

}  // namespace quor::server::console
