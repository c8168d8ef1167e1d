// quorvod-import on a tree of 200,000 empty song files with realistic names
// (<language>/<singer>/<singer>-<title>[-<language>]-<category>.mpg, 1,200
// singers), each measure printed as a ratio against baselines run in the same
// process, interleaved, median of five rounds:
//
//   find          `find TREE -type f -printf '%s %T@ %p\n'`: every song file
//                 with its size and time, the facts a re-run compares, the
//                 output thrown away (a warm cache: the tree is walked once
//                 before the rounds). For reference the plain
//                 `find TREE -type f`, which reads no file's size or time, is
//                 timed too and its ratios printed beside.
//   bare insert   the rows the import wrote, inserted into a new SQLite file
//                 with one prepared statement in one transaction (no index)
//   first import  RunImport into a new catalogue, no probing: walk, parse,
//                 initials, numbers, rows, indexes, commit
//   re-import     RunImport again on the unchanged tree: walk, parse, read
//                 the catalogue, compare, nothing to write
//
// Targets: first import / (find + bare insert) at most 3.0; re-import / find
// at most 2.0. QUOR_BENCH_FILES=n makes a smaller tree (a quick look);
// QUOR_BENCH_TREE=dir makes the tree there once and keeps it for later runs.

#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "Import.h"
#include "Names.h"
#include "bench/BenchStats.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace quor::tools;

double Seconds(const std::function<void()>& f) {
  const auto start = Clock::now();
  f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

using quor::bench::Median;

void MakeTree(const std::string& root, long files) {
  demo::NameGenerator gen(20261208);
  const std::vector<demo::Singer> singers = gen.Singers(600, 500, 100);
  std::set<std::string> taken;
  long made = 0;
  while (made < files) {
    const demo::Song song = gen.NextSong(singers.size());
    const std::string& singer = singers[song.singer].name;
    // Half the names carry their language, as venues' names do.
    const std::string name = singer + "-" + song.title +
                             (made % 2 == 0 ? "-" + song.language : std::string()) + "-" +
                             song.type + ".mpg";
    const std::string folder = root + "/" + song.language + "/" + singer;
    if (!taken.insert(folder + "/" + name).second) continue;
    if (taken.size() == 1 || !fs::exists(folder)) fs::create_directories(folder);
    if (!std::ofstream(folder + "/" + name)) throw std::runtime_error("cannot write " + folder);
    ++made;
  }
}

void Find(const std::string& root, bool withFacts) {
  std::vector<std::string> args = {"find", root, "-type", "f"};
  if (withFacts) {
    args.emplace_back("-printf");
    args.emplace_back("%s %T@ %p\n");
  }
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "find", &actions, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot run find");
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
}

struct Row {
  std::int64_t number, size, mtime, missing;
  std::string title, singer, type, language, letters, path;
};

std::vector<Row> ReadRows(const std::string& db) {
  sqlite3* h = nullptr;
  sqlite3_open(db.c_str(), &h);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(h,
                     "select SINGID, SINGNAME, SINGER, TYPE, SONGLANGUAGE, FIRSTWORD, PATH1, "
                     "FILESIZE, FILETIME, MISSING from vodinfo",
                     -1, &s, nullptr);
  std::vector<Row> rows;
  auto text = [&](int i) {
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, i)));
  };
  while (sqlite3_step(s) == SQLITE_ROW)
    rows.push_back(Row{sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 7),
                       sqlite3_column_int64(s, 8), sqlite3_column_int64(s, 9), text(1), text(2),
                       text(3), text(4), text(5), text(6)});
  sqlite3_finalize(s);
  sqlite3_close(h);
  return rows;
}

// The same rows with bare sqlite3: one prepared insert, one transaction.
void BareInsert(const std::string& db, const std::vector<Row>& rows) {
  fs::remove(db);
  sqlite3* h = nullptr;
  sqlite3_open(db.c_str(), &h);
  sqlite3_exec(h,
               "CREATE TABLE vodinfo (SINGID INTEGER PRIMARY KEY, SINGNAME VARCHAR(100), SINGER "
               "VARCHAR(100), TYPE VARCHAR(8), SONGLANGUAGE VARCHAR(8), FIRSTWORD VARCHAR(100), "
               "PATH1 VARCHAR(512), FILESIZE INTEGER, FILETIME INTEGER, DURATION INTEGER, VOCAL "
               "VARCHAR(8), MISSING INTEGER); BEGIN",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(h, "INSERT INTO vodinfo VALUES (?1,?2,?3,?4,?5,?6,?7,?8,?9,NULL,NULL,?10)", -1,
                     &s, nullptr);
  for (const Row& r : rows) {
    sqlite3_bind_int64(s, 1, r.number);
    sqlite3_bind_text(s, 2, r.title.data(), static_cast<int>(r.title.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 3, r.singer.data(), static_cast<int>(r.singer.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 4, r.type.data(), static_cast<int>(r.type.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 5, r.language.data(), static_cast<int>(r.language.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 6, r.letters.data(), static_cast<int>(r.letters.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 7, r.path.data(), static_cast<int>(r.path.size()), SQLITE_STATIC);
    sqlite3_bind_int64(s, 8, r.size);
    sqlite3_bind_int64(s, 9, r.mtime);
    sqlite3_bind_int64(s, 10, r.missing);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(h);
}

}  // namespace

int main() {
  const long files = std::getenv("QUOR_BENCH_FILES") != nullptr
                         ? std::atol(std::getenv("QUOR_BENCH_FILES"))
                         : 200000;
  const std::string temp =
      (fs::temp_directory_path() / ("quor-import-bench-" + std::to_string(getpid()))).string();
  const char* kept = std::getenv("QUOR_BENCH_TREE");
  const std::string tree = kept != nullptr ? kept : temp + "/songs";
  fs::create_directories(temp);
  if (!fs::exists(tree)) {
    std::printf("making a tree of %ld empty song files in %s\n", files, tree.c_str());
    std::fflush(stdout);
    const double making = Seconds([&] { MakeTree(tree, files); });
    std::printf("  made in %.1f s\n", making);
  }

  catalogue::ImportOptions o;
  o.sources = {tree};
  o.share = "\\\\ktv\\quorvod";
  o.shareRoot = tree;
  Find(tree, true);  // warm the cache for every measure alike
  std::vector<double> find, plainFind, insert, first, again;
  std::size_t rows = 0;
  for (int round = 0; round < 5; ++round) {
    find.push_back(Seconds([&] { Find(tree, true); }));
    plainFind.push_back(Seconds([&] { Find(tree, false); }));
    o.db = temp + "/catalogue-" + std::to_string(round) + ".db";
    catalogue::ImportReport report;
    first.push_back(Seconds([&] { report = catalogue::RunImport(o, nullptr); }));
    if (report.added != static_cast<std::uint64_t>(files))
      std::printf("  the import added %llu songs, not %ld\n",
                  static_cast<unsigned long long>(report.added), files);
    const std::vector<Row> written = ReadRows(o.db);
    rows = written.size();
    insert.push_back(Seconds([&] { BareInsert(temp + "/bare.db", written); }));
    again.push_back(Seconds([&] { report = catalogue::RunImport(o, nullptr); }));
    if (report.unchanged != static_cast<std::uint64_t>(files))
      std::printf("  the re-import found %llu unchanged songs, not %ld\n",
                  static_cast<unsigned long long>(report.unchanged), files);
    fs::remove(o.db);
  }
  const double f = Median(find), p = Median(plainFind), i = Median(insert), a = Median(first),
               r = Median(again);
  std::printf("rows: %zu\n", rows);
  std::printf(
      "median seconds: find %.3f (plain find %.3f), bare insert %.3f, first import %.3f, "
      "re-import %.3f\n",
      f, p, i, a, r);
  std::printf(
      "ratio first import / (find + bare insert): %.2f (target at most 3.0; %.2f with plain "
      "find)\n",
      a / (f + i), a / (p + i));
  std::printf(
      "ratio re-import / find:                    %.2f (target at most 2.0; %.2f against plain "
      "find)\n",
      r / f, r / p);
  fs::remove_all(temp);
  return 0;
}
