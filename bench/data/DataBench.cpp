// The terminal's side of the song list on the 200,000-song demo catalogue,
// each printed as a ratio against a baseline measured in the same run.
//
//   BM_SqliteStep   the baseline: bare sqlite3 stepping of
//                   `select SINGID,SINGNAME,SINGER from vodinfo`, reading the
//                   three columns
//   BM_OpenQuery    opening songClientDataSet on that statement through the
//                   whole stack: dataset, connection, transport thread,
//                   loopback TCP, a running server, SQLite, the packet back
//                   into the engine (the close and its reset are not timed)
//   BM_WalkRows     first, then next over every row, reading the three
//                   fields as text (rows per second)
//
// The two machine cores of a test host are shared and their speed drifts
// over seconds, so the separate runs above can see different machines. The
// opening is also measured in alternating pairs with the baseline (the order
// inside a pair alternating too), and the median of the pairs' ratios
// printed beside the ratio of the separate medians.
//
// After the runs it prints the memory the engine holds for the result
// against the packet's size, and the heap the whole held result costs the
// terminal (mallinfo2 before and after an opening).
//
// QUOR_BENCH_CATALOGUE=file uses an existing catalogue; otherwise one is made
// in a temporary folder. The engine is this build's bin/libdsengine.so.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchCatalogue.h"
#include "bench/BenchLoop.h"
#include "bench/BenchStats.h"
#include "data/Data.h"
#include "platform/EngineRegistry.h"
#include "platform/ProgramFolder.h"
#include "server/RequestLog.h"
#include "server/Server.h"

namespace {

using namespace quor;

constexpr const char* kStatement = bench::kBenchStatement;

std::string& CataloguePath() {
  static std::string path;
  return path;
}

using bench::BenchLoop;

// A running quorvod-server on a loopback port (in this process, on its own
// threads) and a terminal's data module connected to it.
struct Stack {
  std::unique_ptr<server::RequestLog> log = server::RequestLog::Open("/dev/null");
  std::unique_ptr<server::Server> srv;
  std::thread serving;
  BenchLoop loop;
  std::unique_ptr<data::DataModule> dm;

  Stack() {
    server::ServerOptions options;
    options.sqlitePath = CataloguePath();
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    srv = std::make_unique<server::Server>(options, *log);
    srv->Start();
    serving = std::thread([this] { srv->Serve(); });
    dm = std::make_unique<data::DataModule>(loop);
    dm->SocketConnection->SetHost("127.0.0.1");
    dm->SocketConnection->SetPort(static_cast<std::int32_t>(srv->Port()));
  }
  ~Stack() {
    dm.reset();
    srv->Stop();
    serving.join();
  }
};

void BM_SqliteStep(benchmark::State& state) {
  bench::StepBareStatement(state, CataloguePath());
}

void BM_OpenQuery(benchmark::State& state) {
  Stack stack;
  data::ClientDataSet& song = *stack.dm->songClientDataSet;
  song.SetCommandText(kStatement);
  try {
    for (auto _ : state) {
      song.Open();
      state.PauseTiming();
      if (song.RecordCount() < 1) state.SkipWithError("no rows");
      song.Close();  // the reset request is not part of the opening
      stack.loop.Pump();
      state.ResumeTiming();
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
}

void BM_WalkRows(benchmark::State& state) {
  Stack stack;
  data::ClientDataSet& song = *stack.dm->songClientDataSet;
  std::int64_t rows = 0;
  try {
    data::RunCatalogueQuery(song, kStatement);
    data::Field& id = song.FieldByName("SINGID");
    data::Field& name = song.FieldByName("SINGNAME");
    data::Field& singer = song.FieldByName("SINGER");
    for (auto _ : state) {
      song.First();
      std::size_t bytes = 0;
      while (!song.Eof()) {
        bytes += id.AsString().size() + name.AsString().size() + singer.AsString().size();
        ++rows;
        song.Next();
      }
      benchmark::DoNotOptimize(bytes);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  state.SetItemsProcessed(rows);
}

BENCHMARK(BM_SqliteStep)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_OpenQuery)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
BENCHMARK(BM_WalkRows)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly(true);

// Keeps the medians for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.aggregate_name != "median") continue;
      const std::string name = run.benchmark_name().substr(0, run.benchmark_name().find('/'));
      real[name] = run.GetAdjustedRealTime();
      auto items = run.counters.find("items_per_second");
      if (items != run.counters.end()) perSecond[name] = items->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> real;
  std::map<std::string, double> perSecond;
};

using quor::bench::Median;

// The opening against the baseline in alternating pairs (one warm-up pair
// not counted): the median ratio, and the 10th and 90th percentile ratios.
void ReportPairs() {
  constexpr int kPairs = 21;
  using Clock = std::chrono::steady_clock;
  Stack stack;
  data::ClientDataSet& song = *stack.dm->songClientDataSet;
  song.SetCommandText(kStatement);
  sqlite3* db = bench::OpenBare(CataloguePath());
  auto openOnce = [&] {
    const auto start = Clock::now();
    song.Open();
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    song.Close();
    stack.loop.Pump();
    return took;
  };
  auto bareOnce = [&] {
    const auto start = Clock::now();
    bench::StepBareOnce(db);
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  std::vector<double> ratios;
  std::vector<double> opens;
  try {
    for (int i = 0; i <= kPairs; ++i) {
      double open = 0;
      double bare = 0;
      if (i % 2 == 0) {
        open = openOnce();
        bare = bareOnce();
      } else {
        bare = bareOnce();
        open = openOnce();
      }
      if (i == 0) continue;
      ratios.push_back(open / bare);
      opens.push_back(open);
    }
  } catch (const std::exception& e) {
    std::printf("pairs failed: %s\n", e.what());
  }
  sqlite3_close(db);
  if (ratios.empty()) return;
  std::vector<double> sorted = ratios;
  std::sort(sorted.begin(), sorted.end());
  std::printf(
      "pairs BM_OpenQuery %.2f x bare sqlite3 stepping (median of %zu alternating pairs; "
      "10th-90th percentile %.2f-%.2f; opening %.1f ms)\n",
      Median(ratios), ratios.size(), sorted[sorted.size() / 10], sorted[sorted.size() * 9 / 10],
      Median(opens) * 1e3);
}

// Memory of the held result: the engine's own accounting against the
// packet, and the terminal's heap growth for one opening.
void ReportMemory() {
  Stack stack;
  data::ClientDataSet& song = *stack.dm->songClientDataSet;
  song.SetCommandText(kStatement);
  stack.dm->SocketConnection->SetConnected(true);
  const std::size_t before = mallinfo2().uordblks;
  song.Open();
  const std::size_t after = mallinfo2().uordblks;
  const double packet = static_cast<double>(song.RowDataBytes());
  std::printf(
      "memory  rows %d, packet rows %.1f MB, engine holds %.1f MB (%.2f x the packet), "
      "terminal heap +%.1f MB (%.2f x the packet)\n",
      song.RecordCount(), packet / 1e6, static_cast<double>(song.RowMemoryBytes()) / 1e6,
      static_cast<double>(song.RowMemoryBytes()) / std::max(packet, 1.0),
      static_cast<double>(after - before) / 1e6,
      static_cast<double>(after - before) / std::max(packet, 1.0));
  song.Close();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  server::TuneAllocator();
  platform::RecordEnginePath(platform::ProgramFolder() + "../bin/" + platform::kEngineLibraryName);
  const bench::BenchCatalogue catalogue("data");
  CataloguePath() = catalogue.Path();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double base = reporter.real["BM_SqliteStep"];
  if (base > 0 && reporter.real.count("BM_OpenQuery") != 0)
    std::printf(
        "ratio BM_OpenQuery %.2f x bare sqlite3 stepping (median real time; target <= 1.5)\n",
        reporter.real["BM_OpenQuery"] / base);
  if (base > 0 && reporter.perSecond.count("BM_WalkRows") != 0)
    std::printf(
        "walk  %.0f rows/s with three fields as text; one walk = %.2f x bare sqlite3 "
        "stepping\n",
        reporter.perSecond["BM_WalkRows"], reporter.real["BM_WalkRows"] / base);
  ReportPairs();
  ReportMemory();
  return 0;
}
