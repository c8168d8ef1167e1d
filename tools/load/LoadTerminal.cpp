// One simulated room: a data module on the real client stack, on a thread of
// its own, replaying a guest's evening with think times.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <random>

#include "Load.h"
#include "data/Data.h"
#include "platform/Codepage.h"

namespace quor::load {
namespace {

using Clock = std::chrono::steady_clock;

// The GUI loop of one simulated terminal: tasks the connection posts (a
// transport that ended between calls) run between operations.
class TerminalLoop final : public remote::MessageLoop {
 public:
  void Post(std::function<void()> task) override {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  void ReportError(const std::exception&) override {}
  void Pump() {
    std::deque<std::function<void()>> tasks;
    {
      const std::lock_guard lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) {
      try {
        task();
      } catch (const std::exception&) {  // the application's report: nobody to tell here
      }
    }
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;  // guarded by mutex_
};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Reads the rows one screen page shows, as the page fill does.
void ReadPage(data::ClientDataSet& ds, int rows, const char* first, const char* second,
              const char* third = nullptr) {
  for (int i = 0; i < rows && !ds.Eof(); ++i) {
    ds.FieldByName(first).AsString();
    ds.FieldByName(second).AsString();
    if (third != nullptr) ds.FieldByName(third).AsString();
    ds.Next();
  }
}

template <class T>
const T& Pick(const std::vector<T>& items, std::mt19937_64& random) {
  return items[std::uniform_int_distribution<std::size_t>(0, items.size() - 1)(random)];
}

}  // namespace

const char* OpName(Op op) {
  switch (op) {
    case Op::kStart:
      return "start";
    case Op::kSingers:
      return "singers";
    case Op::kSingerSongs:
      return "singer-songs";
    case Op::kNumber:
      return "number";
    case Op::kPath:
      return "path";
    case Op::kType:
      return "type";
    case Op::kLanguage:
      return "language";
    case Op::kLetters:
      return "letters";
    case Op::kRoom:
      return "room";
    case Op::kCount:
      break;
  }
  return "?";
}

void Recorder::Add(Op op, double ms, const std::string& error) {
  const auto i = static_cast<int>(op);
  const std::lock_guard lock(mutex_);
  if (error.empty()) {
    ms_[i].push_back(ms);
    return;
  }
  if (errors_[i]++ == 0) firstError_[i] = error;
}

Recorder::Summary Recorder::Summarise(Op op) const {
  const auto i = static_cast<int>(op);
  std::vector<double> ms;
  Summary s;
  {
    const std::lock_guard lock(mutex_);
    ms = ms_[i];
    s.errors = errors_[i];
    s.firstError = firstError_[i];
  }
  s.count = ms.size() + s.errors;
  if (ms.empty()) return s;
  std::sort(ms.begin(), ms.end());
  auto at = [&](double q) {
    const auto k = static_cast<std::size_t>(q * static_cast<double>(ms.size() - 1) + 0.5);
    return ms[std::min(k, ms.size() - 1)];
  };
  s.p50 = at(0.50);
  s.p90 = at(0.90);
  s.p99 = at(0.99);
  s.max = ms.back();
  return s;
}

std::size_t Recorder::Total() const {
  const std::lock_guard lock(mutex_);
  std::size_t n = 0;
  for (int i = 0; i < static_cast<int>(Op::kCount); ++i) n += ms_[i].size() + errors_[i];
  return n;
}

void Recorder::Clear() {
  const std::lock_guard lock(mutex_);
  for (int i = 0; i < static_cast<int>(Op::kCount); ++i) {
    ms_[i].clear();
    errors_[i] = 0;
    firstError_[i].clear();
  }
}

LoadTerminal::LoadTerminal(TerminalPlan plan, const Catalogue& catalogue, Recorder& recorder,
                           const std::atomic<bool>& stop)
    : plan_(std::move(plan)), catalogue_(catalogue), recorder_(recorder), stop_(stop) {}

LoadTerminal::~LoadTerminal() {
  Join();
}

void LoadTerminal::Start() {
  thread_ = std::thread([this] { Run(); });
}

void LoadTerminal::Join() {
  if (thread_.joinable()) thread_.join();
}

void LoadTerminal::Run() {
  std::mt19937_64 random(plan_.seed);
  TerminalLoop loop;
  data::DataModule dm(loop);
  dm.SocketConnection->SetPort(plan_.port);
  dm.SocketConnection->SetSourceAddress(plan_.source);
  dm.SocketConnection->SetReplyTimeout(plan_.replyTimeoutMs);

  // Sleeps in short steps, so that a stop is seen at once.
  auto pause = [&](int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!stop_ && Clock::now() < end) {
      std::this_thread::sleep_for(
          std::min<Clock::duration>(std::chrono::milliseconds(50), end - Clock::now()));
    }
  };
  auto timed = [&](Op op, const std::function<void()>& action) {
    const auto start = Clock::now();
    try {
      action();
      recorder_.Add(op, MsSince(start));
    } catch (const std::exception& e) {
      recorder_.Add(op, MsSince(start), e.what()[0] != '\0' ? e.what() : "failed");
    }
    loop.Pump();
  };

  pause(plan_.startDelayMs);
  timed(Op::kStart, [&] {
    std::string failure;
    if (!data::ConnectAndOpen(dm, plan_.host, [&](const std::string& m) { failure = m; }))
      throw std::runtime_error(failure.empty() ? "the start failed" : failure);
  });
  started_ = true;

  const Mix& mix = plan_.mix;
  std::discrete_distribution<int> choose(
      {mix.singers, mix.number, mix.path, mix.typeLanguage, mix.letters, mix.room});
  std::uniform_real_distribution<double> jitter(0.5, 1.5);
  std::uniform_int_distribution<std::int64_t> song(
      catalogue_.firstSong, std::max(catalogue_.firstSong, catalogue_.lastSong));
  const data::SingerCategory categories[] = {
      data::SingerCategory::Male, data::SingerCategory::Female, data::SingerCategory::Group};
  const std::string room = platform::Utf8ToGbk(plan_.room);
  // Started only: the terminal stays connected and idle, as a room's does.
  while (!stop_ && plan_.startOnly) pause(1000);
  while (!stop_) {
    if (plan_.intervalMs > 0) pause(static_cast<int>(plan_.intervalMs * jitter(random)));
    if (stop_) break;
    switch (choose(random)) {
      case 0: {  // a singer page, then the songs of one singer on it
        std::vector<std::string> names;
        timed(Op::kSingers, [&] {
          data::ClientDataSet& singer = *dm.singerClientDataSet;
          data::RunCatalogueQuery(
              singer,
              data::SingerStatement(categories[std::uniform_int_distribution<int>(0, 2)(random)]));
          for (int i = 0; i < 6 && !singer.Eof(); ++i) {
            singer.FieldByName("Path").AsString();
            names.push_back(singer.FieldByName("SINGNAME").AsString());
            singer.Next();
          }
        });
        if (names.empty()) break;
        const std::size_t slot =
            std::uniform_int_distribution<std::size_t>(0, names.size() - 1)(random);
        timed(Op::kSingerSongs, [&] {
          data::ClientDataSet& songs = *dm.songClientDataSet;
          data::RunCatalogueQuery(songs, slot == 0 ? data::SongsOfSingerSlot1Statement(names[slot])
                                                   : data::SongsOfSingerStatement(names[slot]));
          ReadPage(songs, 7, "SINGID", "SINGNAME", "SINGER");
        });
        break;
      }
      case 1:
        timed(Op::kNumber, [&] {
          data::ClientDataSet& songs = *dm.songClientDataSet;
          data::RunCatalogueQuery(songs, data::SongByNumberStatement(std::to_string(song(random))));
          ReadPage(songs, 7, "SINGID", "SINGNAME", "SINGER");
        });
        break;
      case 2:
        timed(Op::kPath, [&] {
          data::ClientDataSet& play = *dm.playClientDataSet;
          data::RunCatalogueQuery(play,
                                  data::MediaPathStatement(std::to_string(song(random)) + " "));
          play.FieldByName("PATH1").AsString();
        });
        break;
      case 3: {
        const bool byType = std::uniform_int_distribution<int>(0, 1)(random) == 0;
        const auto& words = byType ? catalogue_.types : catalogue_.languages;
        if (words.empty()) break;
        const std::string word = Pick(words, random);
        timed(byType ? Op::kType : Op::kLanguage, [&] {
          data::ClientDataSet& songs = *dm.songClientDataSet;
          data::RunCatalogueQuery(songs, byType ? data::SongsOfTypeStatement(word)
                                                : data::SongsOfLanguageStatement(word));
          ReadPage(songs, 7, "SINGID", "SINGNAME", "SINGER");
        });
        break;
      }
      case 4: {
        if (catalogue_.prefixes.empty()) break;
        const std::string letters = Pick(catalogue_.prefixes, random);
        timed(Op::kLetters, [&] {
          data::ClientDataSet& songs = *dm.songClientDataSet;
          data::RunCatalogueQuery(songs, data::SongsByLettersStatement(letters));
          ReadPage(songs, 7, "SINGID", "SINGNAME", "SINGER");
        });
        break;
      }
      default:
        ++pressed_;
        timed(Op::kRoom, [&] { data::SendRoomRequest(*dm.tempClientDataSet, room); });
        break;
    }
  }

  // What the change log still holds goes until the server confirms it (the
  // guest would press again); a few tries, a second apart.
  data::ClientDataSet& temp = *dm.tempClientDataSet;
  for (int attempt = 0; attempt < 20 && temp.Active() && temp.ChangeCount() > 0; ++attempt) {
    try {
      temp.ApplyUpdates(-1);
    } catch (const std::exception&) {
      loop.Pump();
      std::this_thread::sleep_for(std::chrono::seconds(1));
    }
  }
  unconfirmed_ = temp.Active() ? temp.ChangeCount() : 0;
  loop.Pump();
}

// ---- before and after the run ----------------------------------------------

namespace {

// One connection of the client stack for the tool's own questions.
struct Asker {
  TerminalLoop loop;
  data::DataModule dm{loop};
  Asker(const std::string& host, std::uint16_t port) {
    dm.SocketConnection->SetHost(host);
    dm.SocketConnection->SetPort(port);
  }
  // The first `columns` values of every row, as text (GBK).
  std::vector<std::vector<std::string>> Rows(const std::string& sql, std::size_t columns) {
    data::ClientDataSet& ds = *dm.singerClientDataSet;
    data::RunCatalogueQuery(ds, sql);
    std::vector<std::vector<std::string>> rows;
    while (!ds.Eof()) {
      std::vector<std::string> row;
      for (std::size_t c = 0; c < columns && c < ds.Fields().size(); ++c)
        row.push_back(ds.Fields()[c]->AsString());
      row.resize(columns);
      rows.push_back(std::move(row));
      ds.Next();
    }
    return rows;
  }
};

}  // namespace

Catalogue LearnCatalogue(const std::string& host, std::uint16_t port) {
  Asker ask(host, port);
  Catalogue c;
  const auto range = ask.Rows("select min(SINGID), max(SINGID) from vodinfo", 2);
  if (!range.empty() && !range[0][0].empty()) {
    c.firstSong = std::stoll(range[0][0]);
    c.lastSong = std::stoll(range[0][1]);
  }
  for (const auto& row : ask.Rows("select distinct TYPE from vodinfo", 1))
    if (!row[0].empty()) c.types.push_back(row[0]);
  for (const auto& row : ask.Rows("select distinct SONGLANGUAGE from vodinfo", 1))
    if (!row[0].empty()) c.languages.push_back(row[0]);
  // Initial letters a guest types: one letter, or two of a title's.
  for (const auto& row : ask.Rows("select distinct substr(FIRSTWORD, 1, 2) from vodinfo", 1)) {
    const std::string& p = row[0];
    const bool letters = !p.empty() && std::all_of(p.begin(), p.end(),
                                                   [](char ch) { return ch >= 'A' && ch <= 'Z'; });
    if (!letters) continue;
    c.prefixes.push_back(p);
    if (std::find(c.prefixes.begin(), c.prefixes.end(), p.substr(0, 1)) == c.prefixes.end())
      c.prefixes.push_back(p.substr(0, 1));
  }
  return c;
}

std::map<std::string, int> StoredRoomRequests(const std::string& host, std::uint16_t port,
                                              const std::string& prefix) {
  Asker ask(host, port);
  std::map<std::string, int> stored;
  for (const auto& row :
       ask.Rows("select ClientName, count(*) from roomcall where ClientName like \"" + prefix +
                    "%\" group by ClientName",
                2))
    stored[row[0]] = std::stoi(row[1]);
  return stored;
}

std::string NthAddress(const std::string& first, int n) {
  unsigned b[4] = {};
  char end = 0;
  if (std::sscanf(first.c_str(), "%u.%u.%u.%u%c", &b[0], &b[1], &b[2], &b[3], &end) != 4 ||
      b[0] > 255 || b[1] > 255 || b[2] > 255 || b[3] > 255)
    throw std::invalid_argument("not a dotted address: " + first);
  std::uint32_t a = (b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
  auto usable = [](std::uint32_t x) { return (x & 0xFF) != 0 && (x & 0xFF) != 0xFF; };
  while (!usable(a)) ++a;
  for (int i = 0; i < n; ++i) {
    do ++a;
    while (!usable(a));
  }
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
         std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

}  // namespace quor::load
