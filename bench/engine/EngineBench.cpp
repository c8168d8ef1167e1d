// Engine benchmarks on the 200,000-song demo catalogue, each printed as a
// ratio against the baseline measured in the same run: stepping
// `select SINGID,SINGNAME,SINGER from vodinfo` with bare sqlite3 and reading
// the three columns.
//
//   packet_write   the same statement written into one data packet (the
//                  server's work without the network)
//   append_walk    the engine takes that packet and a cursor walks every row,
//                  copying it and reading its three fields
//   memory         bytes the store holds per byte of row data, per row, and
//                  as the allocator sees it
//
// QUOR_BENCH_CATALOGUE=file uses an existing catalogue; otherwise one is made
// in a temporary folder.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "DemoBuilder.h"
#include "engine/Packet.h"
#include "engine/Store.h"

namespace {

using namespace quor::engine;

constexpr const char* kStatement = "select SINGID,SINGNAME,SINGER from vodinfo";

std::string& CataloguePath() {
  static std::string path;
  return path;
}

sqlite3* OpenCatalogue() {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(CataloguePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "cannot open %s\n", CataloguePath().c_str());
    std::exit(1);
  }
  return db;
}

// Steps the statement; f(stmt) per row.
template <class F>
void Step(sqlite3* db, F&& f) {
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kStatement, -1, &s, nullptr);
  while (sqlite3_step(s) == SQLITE_ROW) f(s);
  sqlite3_finalize(s);
}

std::vector<std::uint8_t> WritePacket(sqlite3* db) {
  PacketWriter w(PacketKind::kData, {FieldDef{"SINGID", FieldType::kInt32, 4, 0, {}},
                                     FieldDef{"SINGNAME", FieldType::kText16, 100, 0, {}},
                                     FieldDef{"SINGER", FieldType::kText16, 40, 0, {}}});
  Step(db, [&](sqlite3_stmt* s) {
    w.BeginRow();
    w.AddInt64(sqlite3_column_int64(s, 0));
    for (int c = 1; c <= 2; ++c)
      w.AddTextUtf8(std::string_view(reinterpret_cast<const char*>(sqlite3_column_text(s, c)),
                                     static_cast<std::size_t>(sqlite3_column_bytes(s, c))));
    w.EndRow();
  });
  return w.Finish();
}

Ref<IDSBase> NewStore() {
  void* p = nullptr;
  CreateEngineObject(kClsidDSBase, kIidDSBase, &p);
  return Ref<IDSBase>::Adopt(static_cast<IDSBase*>(p));
}

void BM_SqliteStep(benchmark::State& state) {
  sqlite3* db = OpenCatalogue();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    std::size_t bytes = 0;
    std::int64_t ids = 0;
    Step(db, [&](sqlite3_stmt* s) {
      ids += sqlite3_column_int64(s, 0);
      bytes += static_cast<std::size_t>(sqlite3_column_bytes(s, 1)) +
               static_cast<std::size_t>(sqlite3_column_bytes(s, 2));
      benchmark::DoNotOptimize(sqlite3_column_text(s, 1));
      benchmark::DoNotOptimize(sqlite3_column_text(s, 2));
    });
    benchmark::DoNotOptimize(ids + static_cast<std::int64_t>(bytes));
  }
  sqlite3_close(db);
}

void BM_PacketWrite(benchmark::State& state) {
  sqlite3* db = OpenCatalogue();
  for (auto _ : state)  // NOLINT(clang-analyzer-deadcode.DeadStores)
    benchmark::DoNotOptimize(WritePacket(db).size());
  sqlite3_close(db);
}

void BM_EngineAppendWalk(benchmark::State& state) {
  sqlite3* db = OpenCatalogue();
  const std::vector<std::uint8_t> packet = WritePacket(db);
  sqlite3_close(db);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    auto store = NewStore();
    store->AppendPacket(packet.data(), static_cast<std::uint32_t>(packet.size()), -1);
    store->SetProp(kPropWideText, 1);
    void* p = nullptr;
    CreateEngineObject(kClsidDSCursor, kIidDSCursor, &p);
    auto cursor = Ref<IDSCursor>::Adopt(static_cast<IDSCursor*>(p));
    cursor->Attach(store.get());
    DSCursorProps props{};
    cursor->GetCursorProps(&props);
    std::vector<std::uint8_t> row(props.rowBufferSize);
    std::uint8_t value[256];
    bool blank = false;
    std::uint32_t rows = 0;
    while (cursor->MoveRelative(1) == kStatusOk) {
      cursor->CopyCurrentRow(row.data(), props.rowBufferSize);
      for (std::uint32_t f = 1; f <= 3; ++f)
        cursor->ReadField(row.data(), props.rowBufferSize, f, value, sizeof value, &blank);
      ++rows;
    }
    benchmark::DoNotOptimize(rows);
  }
}

BENCHMARK(BM_SqliteStep)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PacketWrite)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_EngineAppendWalk)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Keeps each benchmark's real time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration) {
        const std::string name = r.benchmark_name().substr(0, r.benchmark_name().find('/'));
        real[name] = r.GetAdjustedRealTime();
        cpu[name] = r.GetAdjustedCPUTime();
      }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> real;
  std::map<std::string, double> cpu;
};

void ReportMemory() {
  sqlite3* db = OpenCatalogue();
  const std::vector<std::uint8_t> packet = WritePacket(db);
  std::uint64_t valueBytes = 0;  // the values themselves: 4 + UTF-16 bytes of the two texts
  Step(db, [&](sqlite3_stmt* s) {
    (void)s;
    valueBytes += 4;
  });
  sqlite3_close(db);
  PacketReader reader(packet);
  for (std::uint32_t i = 0; i < reader.RowCount(); ++i) {
    const RowView row = reader.Row(i);
    valueBytes += row.Raw(1).size() + row.Raw(2).size();
  }
  const auto before = mallinfo2().uordblks;
  auto store = NewStore();
  store->AppendPacket(packet.data(), static_cast<std::uint32_t>(packet.size()), -1);
  const auto after = mallinfo2().uordblks;
  DSProps p{};
  store->GetProps(&p);
  std::printf("\nmemory: %u rows, %.1f bytes of row data per row (%.1f of bare values)\n",
              p.rowCount, static_cast<double>(p.rowDataBytes) / p.rowCount,
              static_cast<double>(valueBytes) / p.rowCount);
  std::printf("memory: store accounting %.3f bytes per byte of row data, %.3f per byte of values\n",
              static_cast<double>(p.rowMemoryBytes) / static_cast<double>(p.rowDataBytes),
              static_cast<double>(p.rowMemoryBytes) / static_cast<double>(valueBytes));
  std::printf("memory: allocator sees %.3f bytes per byte of row data (%.1f bytes per row)\n",
              static_cast<double>(after - before) / static_cast<double>(p.rowDataBytes),
              static_cast<double>(after - before) / p.rowCount);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::string temp;
  if (const char* given = std::getenv("QUOR_BENCH_CATALOGUE")) {
    CataloguePath() = given;
  } else {
    temp =
        (std::filesystem::temp_directory_path() / ("quor-engine-bench-" + std::to_string(getpid())))
            .string();
    quor::tools::demo::DemoOptions o;
    o.dir = temp;
    o.songs = 200000;
    o.photos = false;
    o.videos = false;
    std::printf("making a 200,000-song catalogue in %s\n", temp.c_str());
    quor::tools::demo::BuildDemo(o, [](const std::string&, std::int64_t, std::int64_t) {});
    CataloguePath() = temp + "/catalogue.db";
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // CPU time is the steadier figure on a shared machine; real time for reference.
  const double baseCpu = reporter.cpu["BM_SqliteStep"];
  const double baseReal = reporter.real["BM_SqliteStep"];
  for (const auto& [name, t] : reporter.cpu)
    if (baseCpu > 0 && name != "BM_SqliteStep")
      std::printf("ratio %-20s %.2f x bare sqlite3 stepping (CPU time; real time %.2f)\n",
                  name.c_str(), t / baseCpu, reporter.real[name] / baseReal);
  ReportMemory();
  if (!temp.empty()) std::filesystem::remove_all(temp);
  return 0;
}
