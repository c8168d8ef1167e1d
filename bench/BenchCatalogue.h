#pragma once
// The 200,000-song catalogue the whole-path benchmarks run on: the file named
// by $QUOR_BENCH_CATALOGUE, or a demo catalogue (no photos, no videos) made
// in a temporary folder for this run and removed with this object.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "DemoBuilder.h"
#include "server/SqlBackend.h"

namespace quor::bench {

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
