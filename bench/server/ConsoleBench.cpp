// console_bench: 200 terminals press the room request button at once, on a
// server with the front-desk console and on one without, both over the
// 200,000-song demo catalogue. Prints whether every press reached the
// console and the database, and a terminal's catalogue query time with the
// console on against off (the same query, the same load, alternated in one
// run), as ratios.
//
// Each round: the 200 terminals of one server press at once while a 201st
// terminal of that server runs the catalogue query again and again; then
// the same on the other server. A browser keeps the console's event stream
// open throughout. Afterwards the query is timed on the idle servers.
//
// QUOR_BENCH_CATALOGUE=file uses an existing catalogue; QUOR_BENCH_LOG=file
// keeps the servers' logs (file.A without the console, file.B with it).

#include <httplib.h>
#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchCatalogue.h"
#include "bench/BenchLoop.h"
#include "bench/BenchStats.h"
#include "data/Data.h"
#include "platform/Codepage.h"
#include "platform/EngineRegistry.h"
#include "platform/ProgramFolder.h"
#include "server/RequestLog.h"
#include "server/Server.h"
#include "server/console/Console.h"
#include "server/console/DeskStore.h"
#include "server/console/StaffAuth.h"

namespace {

using namespace quor;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

constexpr int kTerminals = 200;
constexpr int kRounds = 20;
constexpr int kIdlePairs = 40;
constexpr char kStaff[] = "bench";
constexpr char kPassword[] = "bench-pass-1";

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

using quor::bench::Median;

struct Terminal {
  bench::BenchLoop loop;
  std::unique_ptr<data::DataModule> dm;
  std::string name;
  // Connected, with no dataset open yet: the room request opens the one it
  // needs, the query its own (a window's start would open all four).
  Terminal(std::uint16_t port, std::string roomName) : name(std::move(roomName)) {
    dm = std::make_unique<data::DataModule>(loop);
    dm->SocketConnection->SetHost("127.0.0.1");
    dm->SocketConnection->SetPort(port);
    dm->SocketConnection->SetConnected(true);
  }
  void Press() { data::SendRoomRequest(*dm->tempClientDataSet, name); }
};

// quorvod-server in this process, with or without its console.
struct Venue {
  std::unique_ptr<server::RequestLog> log;
  std::unique_ptr<server::Server> srv;
  std::unique_ptr<server::console::Console> console;
  std::thread serving;
  std::vector<std::unique_ptr<Terminal>> terminals;
  std::unique_ptr<Terminal> measuring;
  Clock::duration lastBurst{};     // from the first press to the last answer
  Clock::time_point lastAnswer{};  // when the last press of the last burst was answered

  Venue(const std::string& catalogue, bool withConsole, const std::string& prefix) {
    const char* logPath = std::getenv("QUOR_BENCH_LOG");
    log = server::RequestLog::Open(logPath != nullptr ? logPath + ("." + prefix) : "/dev/null");
    server::ServerOptions options;
    options.sqlitePath = catalogue;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.maxSessions = 1000;
    srv = std::make_unique<server::Server>(options, *log);
    srv->Start();
    if (withConsole) {
      server::console::ConsoleOptions settings;
      settings.address = "127.0.0.1";
      settings.port = 0;
      settings.serverName = "bench";
      console = std::make_unique<server::console::Console>(settings,
                                                           server::DatabaseOpener(options), *log);
      console->Start();
      srv->SetObserver(console.get());
    }
    serving = std::thread([this] { srv->Serve(); });
    for (int i = 0; i < kTerminals; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "%s-%03d", prefix.c_str(), i + 1);
      terminals.push_back(std::make_unique<Terminal>(srv->Port(), name));
    }
    measuring = std::make_unique<Terminal>(srv->Port(), prefix + "-measure");
  }
  ~Venue() {
    terminals.clear();
    measuring.reset();
    srv->Stop();
    serving.join();
    if (console) console->Stop();
  }

  double Query() {
    static const std::string statement = data::SongsOfTypeStatement(platform::Utf8ToGbk("怀旧"));
    const auto start = Clock::now();
    data::RunCatalogueQuery(*measuring->dm->songClientDataSet, statement);
    const double ms = Ms(Clock::now() - start);
    if (measuring->dm->songClientDataSet->RecordCount() < 1000) throw std::runtime_error("no rows");
    return ms;
  }

  // All terminals press at once; the query runs meanwhile. Returns the
  // query times that overlapped the presses.
  std::vector<double> Burst() {
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::atomic<int> finished{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (auto& terminal : terminals) {
      threads.emplace_back([&, t = terminal.get()] {
        ++ready;
        while (!go) std::this_thread::yield();
        try {
          t->Press();
        } catch (const std::exception& e) {
          ++failed;
          std::fprintf(stderr, "%s: %s\n", t->name.c_str(), e.what());
        }
        ++finished;
      });
    }
    while (ready < kTerminals) std::this_thread::yield();
    const auto start = Clock::now();
    go = true;
    std::vector<double> times;
    Clock::time_point answered{};
    while (finished < kTerminals || times.size() < 3) {
      times.push_back(Query());
      if (finished == kTerminals && answered == Clock::time_point{}) answered = Clock::now();
    }
    for (auto& t : threads) t.join();
    if (answered == Clock::time_point{}) answered = Clock::now();
    lastAnswer = answered;
    lastBurst = answered - start;
    if (failed > 0) std::printf("  %d room requests failed\n", failed.load());
    return times;
  }
};

// The desk's browser: logged in, its event stream open.
class Browser {
 public:
  explicit Browser(std::uint16_t port) : http_("127.0.0.1", port) {
    const json login = {{"name", kStaff}, {"password", kPassword}};
    auto answer = http_.Post("/api/login", login.dump(), "application/json");
    if (!answer || answer->status != 200) throw std::runtime_error("login failed");
    const std::string cookie = answer->get_header_value("Set-Cookie");
    headers_ = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
    stream_ = std::thread([this, port] {
      httplib::Client events("127.0.0.1", port);
      events.set_read_timeout(60, 0);
      events.Get("/api/events", headers_, [this](const char*, std::size_t size) {
        bytes_ += size;
        return !stop_;
      });
    });
  }
  ~Browser() {
    stop_ = true;
    stream_.join();
  }
  json Calls() {
    auto answer = http_.Get("/api/calls", headers_);
    return answer && answer->status == 200 ? json::parse(answer->body) : json();
  }
  std::size_t StreamedBytes() const { return bytes_; }

 private:
  httplib::Client http_;
  httplib::Headers headers_;
  std::thread stream_;
  std::atomic<bool> stop_{false};
  std::atomic<std::size_t> bytes_{0};
};

// Calls of the console's terminals that show `presses` presses.
int Shown(Browser& browser, int presses) {
  int shown = 0;
  const json calls = browser.Calls();
  if (calls.is_null()) return 0;
  for (const json& call : calls["calls"]) {
    if (call["room"].get<std::string>().rfind("B-", 0) == 0 && call["presses"] == presses) ++shown;
  }
  return shown;
}

long Count(const std::string& catalogue, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(catalogue.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  const long n = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
  sqlite3_finalize(s);
  sqlite3_close(db);
  return n;
}

}  // namespace

int main() {
  bench::BenchCatalogue catalogue("console");
  platform::RecordEnginePath(platform::ProgramFolder() + "../bin/" + platform::kEngineLibraryName);
  {
    server::console::DeskStore store(server::OpenSqliteBackend(catalogue.Path()), false);
    store.EnsureTables();
    store.PutStaff(kStaff, server::console::HashPassword(kPassword), 0);
  }
  const long before =
      Count(catalogue.Path(), "select count(*) from roomcall where ClientName like 'B-%'");
  std::printf("starting two servers with %d terminals each (one with the console)\n", kTerminals);
  Venue off(catalogue.Path(), false, "A");
  Venue on(catalogue.Path(), true, "B");
  Browser browser(on.console->Port());

  std::vector<double> burstRatios, shownMs, answeredOff, answeredOn;
  int lost = 0;
  for (int round = 1; round <= kRounds; ++round) {
    double onMedian = 0;
    double offMedian = 0;
    auto runOn = [&] {
      onMedian = Median(on.Burst());
      answeredOn.push_back(Ms(on.lastBurst));
      // Every terminal's call shows this round's press; timed from the
      // moment the last terminal had its answer (the query loop may see it
      // a query late: the time is an upper bound).
      while (Shown(browser, round) < kTerminals &&
             Clock::now() - on.lastAnswer < std::chrono::seconds(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      shownMs.push_back(Ms(Clock::now() - on.lastAnswer));
      lost += kTerminals - Shown(browser, round);
    };
    auto runOff = [&] {
      offMedian = Median(off.Burst());
      answeredOff.push_back(Ms(off.lastBurst));
    };
    if (round % 2 == 1) {
      runOff();
      runOn();
    } else {
      runOn();
      runOff();
    }
    burstRatios.push_back(onMedian / offMedian);
  }
  const long stored =
      Count(catalogue.Path(), "select count(*) from roomcall where ClientName like 'B-%'") - before;

  // Idle: the two servers' queries in adjacent pairs, so that what the
  // machine's other work does to one does it to the other too.
  std::vector<double> idleRatios;
  for (int i = 0; i < kIdlePairs; ++i) {
    double offMs = 0;
    double onMs = 0;
    if (i % 2 == 0) {
      offMs = off.Query();
      onMs = on.Query();
    } else {
      onMs = on.Query();
      offMs = off.Query();
    }
    idleRatios.push_back(onMs / offMs);
  }

  const int presses = kTerminals * kRounds;
  std::printf("\n%d rounds of %d room requests at once (%d presses on the console's server)\n",
              kRounds, kTerminals, presses);
  std::printf("  on the console: %d of %d calls show all %d presses; presses not shown: %d\n",
              Shown(browser, kRounds), kTerminals, kRounds, lost);
  std::printf("  in the database: %ld of %d rows\n", stored, presses);
  std::printf(
      "  after the last press was answered, all %d calls were on the console within\n"
      "  %.2f of the 1 s bound at most (median %.2f)\n",
      kTerminals, *std::max_element(shownMs.begin(), shownMs.end()) / 1000.0,
      Median(shownMs) / 1000.0);
  std::printf("  time until all %d presses were answered, console on / off: %.3f\n", kTerminals,
              Median(answeredOn) / Median(answeredOff));
  std::printf("  event stream: %zu bytes reached the browser\n", browser.StreamedBytes());
  std::printf("\ncatalogue query (TYPE='怀旧') time, console on / console off:\n");
  std::printf(
      "  while 200 room requests arrive:   %.3f  (median of %d rounds' ratios of medians)\n",
      Median(burstRatios), kRounds);
  std::printf("  idle, 200 terminals connected:    %.3f  (median of %d adjacent pairs)\n",
              Median(idleRatios), kIdlePairs);
  std::printf("  target: at most 1.1\n");
  return lost == 0 && stored == presses ? 0 : 1;
}
