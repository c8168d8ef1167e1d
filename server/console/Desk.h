#pragma once
// The desk's worker: one thread that owns the console's database
// connection. It takes the sessions' news (room requests, connections,
// songs started) from a queue and stores them in batches, runs the
// browsers' commands (acknowledge, done, room names, logins) one at a time,
// polls the database for what other servers over the same database wrote,
// and publishes the calls, the rooms and today's figures to the event hub
// whenever they change.
//
// The news side never blocks beyond one mutex (session threads call it);
// Run blocks the calling HTTP thread until the worker has answered.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "server/console/DeskStore.h"
#include "server/console/EventHub.h"
#include "server/console/LiveRooms.h"

namespace quor::server {
class RequestLog;
}

namespace quor::server::console {

// Milliseconds since 1970 (UTC) now, and local midnight of the day of `ms`.
std::int64_t NowMs();
std::int64_t LocalDayStart(std::int64_t ms);

// The worker did not answer a command in time (the database hangs).
class DeskBusy : public std::runtime_error {
 public:
  DeskBusy() : std::runtime_error("The desk's database does not answer") {}
};

struct DeskSettings {
  std::string serverName;                      // this server in the rooms table ("host:port")
  std::chrono::milliseconds poll{1000};        // reading other servers' calls
  std::chrono::milliseconds callsEvery{200};   // at most one calls update per
  std::chrono::milliseconds roomsEvery{500};   // at most one rooms update per
  std::chrono::milliseconds todayEvery{2000};  // at most one today update per
};

class Desk {
 public:
  Desk(std::unique_ptr<DeskStore> store, EventHub& hub, LiveRooms& rooms, RequestLog& log,
       DeskSettings settings);
  ~Desk();
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  // Starts the worker, which publishes the first state at once.
  void Start();
  // Stores the news still queued, then ends the worker.
  void Stop();

  // News from the session threads.
  void RoomRequest(const std::string& peer, const std::string& clientName, std::int64_t at);
  void Connected(const std::string& peer, std::int64_t at);
  void Disconnected(const std::string& peer, std::int64_t at);
  void SongStarted(const std::string& peer, std::int64_t singId, std::int64_t at);

  // Runs `task` on the worker and answers its result (or raises its
  // exception); DeskBusy when the worker has not answered within `wait`.
  // The calls, rooms and figures are published again after every command.
  template <class R>
  R Run(std::function<R(DeskStore&)> task, std::chrono::milliseconds wait) {
    auto promise = std::make_shared<std::promise<R>>();
    auto future = promise->get_future();
    Post([promise, task = std::move(task)](DeskStore& store) {
      try {
        promise->set_value(task(store));
      } catch (...) {
        promise->set_exception(std::current_exception());
      }
    });
    if (future.wait_for(wait) != std::future_status::ready) throw DeskBusy();
    return future.get();
  }

  // News waiting to be stored (for tests and the log).
  std::size_t Backlog() const;

 private:
  struct News {
    enum Kind { kRoomRequest, kConnected, kDisconnected, kSong } kind;
    std::string peer;
    std::string clientName;
    std::int64_t singId = 0;
    std::int64_t at = 0;
  };
  using Command = std::function<void(DeskStore&)>;

  void Queue(News news);
  void Post(Command command);
  void Loop();
  void Store(const std::deque<News>& batch);
  void StoreOne(const News& news);
  void RefreshTables(std::int64_t now);
  void PublishCalls();
  void PublishRooms(std::int64_t now);
  void PublishToday(std::int64_t now);
  std::optional<SongInfo> Song(std::int64_t singId);
  std::string NameOf(const std::string& address) const;

  std::unique_ptr<DeskStore> store_;
  EventHub& hub_;
  LiveRooms& rooms_;
  RequestLog& log_;
  DeskSettings settings_;
  std::thread worker_;

  // Guarded by mutex_.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<News> news_;
  std::deque<Command> commands_;
  bool stop_ = false;
  bool lostNoticeGiven_ = false;

  // The worker's own (its thread only).
  std::vector<Call> calls_;
  std::vector<RoomRecord> table_;
  std::unordered_map<std::int64_t, std::optional<SongInfo>> songs_;
  std::unordered_map<std::string, std::string>
      namesStored_;  // address: its ClientName in the table
  std::uint64_t roomsVersion_ = ~std::uint64_t{0};
  std::string tableJson_;  // what the rooms table looked like at the last rooms update
  bool callsDirty_ = true;
  bool todayDirty_ = true;
  std::int64_t day_ = 0;
  std::chrono::steady_clock::time_point callsAt_{}, roomsAt_{}, todayAt_{};
};

}  // namespace quor::server::console
