#include "server/console/Desk.h"

#include <ctime>

#include "server/RequestLog.h"
#include "server/console/DeskJson.h"

namespace quor::server::console {
namespace {

using Steady = std::chrono::steady_clock;

// News beyond this many waiting is dropped (the database has been down for
// long): the room request rows themselves are stored by the sessions.
constexpr std::size_t kMaxBacklog = 100000;
// A batch that fails is tried again this many times, a moment apart, before
// its news is stored one by one.
constexpr int kBatchTries = 5;
constexpr auto kBatchRetryPause = std::chrono::milliseconds(200);
constexpr std::size_t kMaxDoneCalls = 500;
constexpr std::size_t kMaxAnswered = 500;
constexpr std::size_t kTopSongs = 10;
constexpr std::size_t kMaxCachedSongs = 10000;
constexpr auto kTodayAtLeastEvery = std::chrono::seconds(10);
constexpr auto kGatherNews = std::chrono::milliseconds(100);

}  // namespace

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::int64_t LocalDayStart(std::int64_t ms) {
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&local)) * 1000;
}

Desk::Desk(std::unique_ptr<DeskStore> store, EventHub& hub, LiveRooms& rooms, RequestLog& log,
           DeskSettings settings)
    : store_(std::move(store)),
      hub_(hub),
      rooms_(rooms),
      log_(log),
      settings_(std::move(settings)) {}

Desk::~Desk() {
  Stop();
}

void Desk::Start() {
  worker_ = std::thread([this] { Loop(); });
}

void Desk::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

std::size_t Desk::Backlog() const {
  const std::lock_guard lock(mutex_);
  return news_.size();
}

void Desk::RoomRequest(const std::string& peer, const std::string& clientName, std::int64_t at) {
  Queue({News::kRoomRequest, peer, clientName, 0, at});
}

void Desk::Connected(const std::string& peer, std::int64_t at) {
  Queue({News::kConnected, peer, {}, 0, at});
}

void Desk::Disconnected(const std::string& peer, std::int64_t at) {
  Queue({News::kDisconnected, peer, {}, 0, at});
}

void Desk::SongStarted(const std::string& peer, std::int64_t singId, std::int64_t at) {
  Queue({News::kSong, peer, {}, singId, at});
}

void Desk::Queue(News news) {
  bool dropped = false;
  {
    const std::lock_guard lock(mutex_);
    if (news_.size() >= kMaxBacklog) {
      dropped = !lostNoticeGiven_;
      lostNoticeGiven_ = true;
    } else {
      news_.push_back(std::move(news));
    }
  }
  if (dropped) {
    log_.Notice("WARNING: console: " + std::to_string(kMaxBacklog) +
                " news wait for the database; later news is not shown on the console");
  }
  wake_.notify_one();
}

void Desk::Post(Command command) {
  {
    const std::lock_guard lock(mutex_);
    commands_.push_back(std::move(command));
  }
  wake_.notify_one();
}

// One pass per wake: store the news, run the commands, then publish what
// changed. News that comes on the heels of a batch waits for the next one
// (at most kGatherNews): in a burst of presses the desk writes a few
// transactions instead of one per press, each of which would make the
// sessions' own inserts wait. A burst is published at most every
// callsEvery (a browser gets the newest state, not every step); a
// command's change at once.
void Desk::Loop() {
  auto nextPoll = Steady::now();
  Steady::time_point storedAt{};
  for (;;) {
    std::deque<News> batch;
    std::deque<Command> commands;
    bool stopping = false;
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        if (stop_ || !commands_.empty()) break;
        auto wakeAt = nextPoll;
        if (callsDirty_) wakeAt = std::min(wakeAt, callsAt_ + settings_.callsEvery);
        if (rooms_.Version() != roomsVersion_) {
          wakeAt = std::min(wakeAt, roomsAt_ + settings_.roomsEvery);
        }
        if (todayDirty_) wakeAt = std::min(wakeAt, todayAt_ + settings_.todayEvery);
        if (!news_.empty()) wakeAt = std::min(wakeAt, storedAt + kGatherNews);
        if (Steady::now() >= wakeAt) break;
        wake_.wait_until(lock, wakeAt);
      }
      batch.swap(news_);
      commands.swap(commands_);
      stopping = stop_;
      if (news_.size() < kMaxBacklog / 2) lostNoticeGiven_ = false;
    }
    if (!batch.empty()) {
      Store(batch);
      storedAt = Steady::now();
    }
    for (Command& command : commands) command(*store_);
    const auto steadyNow = Steady::now();
    const std::int64_t now = NowMs();
    const bool commanded = !commands.empty();
    if (!batch.empty() || commanded || steadyNow >= nextPoll) callsDirty_ = true;
    if (callsDirty_ && (commanded || stopping || steadyNow >= callsAt_ + settings_.callsEvery)) {
      RefreshTables(now);
      callsDirty_ = false;
      callsAt_ = steadyNow;
      nextPoll = steadyNow + settings_.poll;
    }
    if (rooms_.Version() != roomsVersion_ &&
        (commanded || steadyNow >= roomsAt_ + settings_.roomsEvery)) {
      PublishRooms(now);
    }
    // Other servers' calls and songs reach the figures through the database.
    if (steadyNow >= todayAt_ + kTodayAtLeastEvery) todayDirty_ = true;
    if (todayDirty_ && steadyNow >= todayAt_ + settings_.todayEvery) PublishToday(now);
    if (stopping) {
      const std::lock_guard lock(mutex_);
      if (news_.empty() && commands_.empty()) break;
    }
  }
}

void Desk::Store(const std::deque<News>& batch) {
  for (int attempt = 1; attempt <= kBatchTries; ++attempt) {
    try {
      store_->Transaction([&] {
        for (const News& news : batch) StoreOne(news);
      });
      return;
    } catch (const std::exception& e) {
      namesStored_.clear();  // what the batch wrote is gone
      log_.Notice("WARNING: console: cannot store " + std::to_string(batch.size()) + " news (try " +
                  std::to_string(attempt) + "): " + e.what());
      if (attempt < kBatchTries) std::this_thread::sleep_for(kBatchRetryPause);
    }
  }
  // One by one: what the database takes goes in, what it refuses is named.
  for (const News& news : batch) {
    try {
      StoreOne(news);
    } catch (const std::exception& e) {
      log_.Notice("WARNING: console: not shown: news of " + news.peer + ": " + e.what());
    }
  }
}

void Desk::StoreOne(const News& news) {
  const std::string address = AddressOfPeer(news.peer);
  switch (news.kind) {
    case News::kRoomRequest: {
      store_->Press(news.clientName, address, news.peer, news.at);
      // The room's name changes seldom: stored when it does.
      std::string& stored = namesStored_[address];
      if (stored != news.clientName) {
        store_->RoomSeen(address, news.clientName, settings_.serverName, news.at);
        stored = news.clientName;
      }
      todayDirty_ = true;
      break;
    }
    case News::kConnected:
    case News::kDisconnected:
      store_->RoomSeen(address, {}, settings_.serverName, news.at);
      break;
    case News::kSong:
      store_->RecordPlay(address, news.singId, news.at);
      todayDirty_ = true;
      break;
  }
}

std::optional<SongInfo> Desk::Song(std::int64_t singId) {
  const auto it = songs_.find(singId);
  if (it != songs_.end()) return it->second;
  if (songs_.size() >= kMaxCachedSongs) songs_.clear();
  std::optional<SongInfo> info;
  try {
    info = store_->Song(singId);
  } catch (const std::exception& e) {
    // A catalogue without the columns: the number alone is shown.
    log_.Notice("console: song " + std::to_string(singId) + ": " + e.what());
  }
  songs_[singId] = info;
  return info;
}

std::string Desk::NameOf(const std::string& address) const {
  for (const RoomRecord& record : table_) {
    if (record.address == address) return record.name;
  }
  return {};
}

void Desk::RefreshTables(std::int64_t now) {
  try {
    table_ = store_->Rooms();
    const std::int64_t day = LocalDayStart(now);
    if (day != day_) {
      day_ = day;
      todayDirty_ = true;
    }
    calls_ = store_->Calls(day_, kMaxDoneCalls);
  } catch (const std::exception& e) {
    log_.Notice(std::string("WARNING: console: cannot read the calls: ") + e.what());
    return;
  }
  PublishCalls();
  // Names and sightings in the table show on the rooms list too.
  std::string tableJson;
  for (const RoomRecord& r : table_) {
    tableJson += r.address + '\n' + r.name + '\n' + r.clientName + '\n' + r.server + '\n';
  }
  if (tableJson != tableJson_) {
    tableJson_ = std::move(tableJson);
    roomsVersion_ = ~std::uint64_t{0};
    roomsAt_ = {};
    todayDirty_ = true;
  }
}

void Desk::PublishCalls() {
  std::string json = CallsJson(calls_, [this](const std::string& a) { return NameOf(a); });
  if (json != hub_.Latest("calls")) {
    hub_.Publish("calls", std::move(json));
    todayDirty_ = true;
  }
}

void Desk::PublishRooms(std::int64_t) {
  std::uint64_t version = 0;
  const std::vector<LiveRoom> live = rooms_.Snapshot(version);
  std::string json =
      RoomsJson(live, table_, settings_.serverName, [this](std::int64_t id) { return Song(id); });
  roomsVersion_ = version;
  roomsAt_ = Steady::now();
  if (json != hub_.Latest("rooms")) hub_.Publish("rooms", std::move(json));
}

void Desk::PublishToday(std::int64_t now) {
  TodayFigures today;
  today.dayStart = LocalDayStart(now);
  try {
    today.rooms = store_->CallsPerRoom(today.dayStart);
    today.songs = store_->TopSongs(today.dayStart, kTopSongs);
    today.answered = store_->AnsweredCalls(today.dayStart, kMaxAnswered);
  } catch (const std::exception& e) {
    log_.Notice(std::string("WARNING: console: cannot read today's figures: ") + e.what());
    todayAt_ = Steady::now();
    return;
  }
  std::string json = TodayJson(
      today, [this](const std::string& a) { return NameOf(a); },
      [this](std::int64_t id) { return Song(id); });
  todayDirty_ = false;
  todayAt_ = Steady::now();
  if (json != hub_.Latest("today")) hub_.Publish("today", std::move(json));
}

}  // namespace quor::server::console
