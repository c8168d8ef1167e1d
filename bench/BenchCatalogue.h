#pragma once
// The 200,000-song catalogue the whole-path benchmarks run on, and the
// baseline they share (bare sqlite3 on the same statement). The catalogue is
// the file named by $QUOR_BENCH_CATALOGUE, or a demo catalogue (no photos, no
// videos) made in a temporary folder for this run and removed with this
// object.

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "DemoBuilder.h"
#include "server/SqlBackend.h"

namespace quor::bench {

// The song list every whole-path benchmark asks for.
inline constexpr const char* kBenchStatement = "select SINGID,SINGNAME,SINGER from vodinfo";

// The baseline those benchmarks are measured against: bare sqlite3 stepping
// kBenchStatement on the catalogue at `path` and reading its three columns.
// One run of the baseline on an open connection.
inline void StepBareOnce(sqlite3* db) {
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kBenchStatement, -1, &s, nullptr);
  std::int64_t sum = 0;
  std::size_t bytes = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    sum += sqlite3_column_int64(s, 0);
    benchmark::DoNotOptimize(sqlite3_column_text(s, 1));
    bytes += static_cast<std::size_t>(sqlite3_column_bytes(s, 1));
    benchmark::DoNotOptimize(sqlite3_column_text(s, 2));
    bytes += static_cast<std::size_t>(sqlite3_column_bytes(s, 2));
  }
  sqlite3_finalize(s);
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(bytes);
}

inline sqlite3* OpenBare(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  return db;
}

inline void StepBareStatement(benchmark::State& state, const std::string& path) {
  sqlite3* db = OpenBare(path);
  for (auto _ : state) StepBareOnce(db);
  sqlite3_close(db);
}

class BenchCatalogue {
 public:
  // tag names the temporary folder ("quor-<tag>-bench-<pid>").
  explicit BenchCatalogue(const std::string& tag) {
    if (const char* given = std::getenv("QUOR_BENCH_CATALOGUE")) {
      path_ = given;
    } else {
      temp_ = (std::filesystem::temp_directory_path() /
               ("quor-" + tag + "-bench-" + std::to_string(getpid())))
                  .string();
      tools::demo::DemoOptions o;
      o.dir = temp_;
      o.songs = 200000;
      o.photos = false;
      o.videos = false;
      std::printf("making a 200,000-song catalogue in %s\n", temp_.c_str());
      tools::demo::BuildDemo(o, [](const std::string&, std::int64_t, std::int64_t) {});
      path_ = temp_ + "/catalogue.db";
    }
    // The server switches the file to write-ahead logging at its first
    // start; do it before any baseline so that every measure reads the same
    // file in the same mode.
    server::OpenSqliteBackend(path_)->EnsureRoomCallTable();
  }
  ~BenchCatalogue() {
    if (!temp_.empty()) std::filesystem::remove_all(temp_);
  }
  BenchCatalogue(const BenchCatalogue&) = delete;
  BenchCatalogue& operator=(const BenchCatalogue&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::string temp_;
};

}  // namespace quor::bench
