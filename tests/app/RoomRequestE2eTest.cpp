// The room's service request when the server cannot store it: the catalogue
// database locked by another program, or its disk full. The real terminal
// under Xvfb presses 呼叫服务 against the real server; the row the server
// could not store stays in the terminal's change log and goes with the next
// press, once the database takes rows again.

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "TerminalE2eSupport.h"

namespace {

using namespace quor::e2e;

constexpr int kServiceX = 40 + 60, kServiceY = 336 + 24;

// Lines of a log that hold text.
int CountLines(const std::string& log, const std::string& text) {
  int count = 0;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);)
    if (line.find(text) != std::string::npos) ++count;
  return count;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int StoredCalls(const std::string& db) {
  sqlite3* handle = nullptr;
  int count = -1;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, "select count(*) from roomcall where ClientName='Room1'", -1,
                           &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
      count = sqlite3_column_int(statement, 0);
    sqlite3_finalize(statement);
  }
  sqlite3_close(handle);
  return count;
}

class RoomRequestE2eTest : public TerminalFixture {
 protected:
  // Waits until the log holds `count` lines with text; whether it did.
  static bool WaitForLines(const fs::path& log, const std::string& text, int count,
                           std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (CountLines(ReadText(log), text) >= count) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }
  void PressService() { Touch(kServiceX, kServiceY); }
};

TEST_F(RoomRequestE2eTest, ALockedDatabaseKeepsTheRequestForTheNextPress) {
  if (!NeedServer()) return;
  const fs::path log = serverDir_ / "server.log";
  const std::string db = (serverDir_ / "catalogue.db").string();
  WriteConfiguration();
  Start();
  ASSERT_FALSE(WaitForWindow().empty());
  std::this_thread::sleep_for(500ms);
  const int before = StoredCalls(db);
  ASSERT_GE(before, 0);

  // Another program holds the database's write lock.
  sqlite3* locker = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &locker), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(locker, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
  PressService();
  // The server waits out its busy time, then rejects the row.
  EXPECT_TRUE(WaitForLines(log, "rows rejected", 1, 15s)) << ServerLog();
  EXPECT_EQ(StoredCalls(db), before);
  sqlite3_exec(locker, "rollback", nullptr, nullptr, nullptr);
  sqlite3_close(locker);
  EXPECT_EQ(StoredCalls(db), before);

  // The next press sends the kept row and its own: both stored.
  PressService();
  EXPECT_TRUE(WaitForLines(log, "ROOM REQUEST", 2, 10s)) << ServerLog();
  EXPECT_EQ(StoredCalls(db), before + 2);
  EXPECT_EQ(CountLines(ServerLog(), "ClientName=Room1"), 2);
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

TEST_F(RoomRequestE2eTest, AFullDiskKeepsTheRequestForTheNextPress) {
  if (geteuid() != 0) GTEST_SKIP() << "a disk of its own needs root (a private mount)";
  const char* bin = std::getenv("QUOR_BIN_DIR");
  ASSERT_NE(bin, nullptr);
  if (serverDir_.empty()) GTEST_SKIP() << serverNote_;
  // A server of its own, on another loopback address, whose database lives
  // on a small disk of its own (a tmpfs in a mount namespace of its own).
  const std::string address = serverAddress_.substr(0, serverAddress_.rfind('.')) + ".8";
  const fs::path disk = room_ / "disk";
  const fs::path log = room_ / "full-server.log";
  fs::create_directories(disk);
  const std::uintmax_t size = fs::file_size(serverDir_ / "catalogue.db") + 2 * 1024 * 1024;
  const pid_t server =
      Spawn({"unshare", "-m", "sh", "-c",
             "mount -t tmpfs -o size=$1 tmpfs \"$2\" && cp \"$3\" \"$2/catalogue.db\" && "
             "exec \"$4\" --db \"$2/catalogue.db\" --port 211 --bind \"$5\" --log \"$6\"",
             "sh", std::to_string(size), disk.string(), (serverDir_ / "catalogue.db").string(),
             std::string(bin) + "/quorvod-server", address, log.string()},
            {});
  ASSERT_GT(server, 0);
  // Ended however the test ends.
  struct Reaper {
    pid_t pid;
    ~Reaper() {
      if (::kill(pid, 0) != 0) return;
      ::kill(pid, SIGKILL);
      WaitExit(pid, 5s);
    }
  } reaper{server};
  ASSERT_TRUE(WaitForLines(log, "listening", 1, 10s)) << ReadText(log);
  // The server's view of its disk, from outside its namespace.
  const fs::path inside =
      fs::path("/proc") / std::to_string(server) / "root" / disk.relative_path();

  WriteConfiguration("", address);
  Start();
  ASSERT_FALSE(WaitForWindow().empty());
  std::this_thread::sleep_for(500ms);

  // Fill the disk to the last byte.
  {
    std::FILE* filler = std::fopen((inside / "filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr) << std::strerror(errno);
    const std::string block(64 * 1024, 'x');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
    }
    for (int i = 0; i < 64 * 1024 && std::fputc('x', filler) != EOF; ++i) {
    }
    std::fclose(filler);
  }
  PressService();
  EXPECT_TRUE(WaitForLines(log, "rows rejected", 1, 10s)) << ReadText(log);
  EXPECT_EQ(CountLines(ReadText(log), "ROOM REQUEST"), 0);

  // Space again: the next press stores the kept row and its own.
  fs::remove(inside / "filler");
  PressService();
  EXPECT_TRUE(WaitForLines(log, "ROOM REQUEST", 2, 10s)) << ReadText(log);
  EXPECT_EQ(CountLines(ReadText(log), "ClientName=Room1"), 2);
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
  kill(server, SIGTERM);
  EXPECT_EQ(WaitExit(server, 10s), std::optional<int>(0)) << ReadText(log);
}

}  // namespace
