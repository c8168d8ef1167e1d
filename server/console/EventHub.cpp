#include "server/console/EventHub.h"

namespace quor::server::console {

void EventHub::Publish(const std::string& kind, std::string json) {
  {
    const std::lock_guard lock(mutex_);
    Entry& entry = latest_[kind];
    entry.version = ++version_;
    entry.json = std::move(json);
  }
  changed_.notify_all();
}

std::string EventHub::Latest(const std::string& kind) const {
  const std::lock_guard lock(mutex_);
  const auto it = latest_.find(kind);
  return it == latest_.end() ? std::string() : it->second.json;
}

std::string EventHub::Pending(Cursor& cursor) const {
  std::string text;
  for (const auto& [kind, entry] : latest_) {
    std::uint64_t& sent = cursor.sent[kind];
    if (entry.version <= sent) continue;
    sent = entry.version;
    // JSON text is one line: newlines inside strings are escaped, so one
    // data line carries it whole.
    text += "event: " + kind + "\ndata: " + entry.json + "\n\n";
  }
  return text;
}

std::optional<std::string> EventHub::Next(Cursor& cursor, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  std::string text;
  changed_.wait_for(lock, wait, [&] {
    if (closed_) return true;
    text = Pending(cursor);
    return !text.empty();
  });
  if (closed_) return std::nullopt;
  return text;
}

void EventHub::Close() {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

}  // namespace quor::server::console
