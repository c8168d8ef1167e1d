// A room never goes dark, tried on the real terminal with the real player:
// the player process killed in the middle of a song, songs whose files are
// garbage or missing, and the share gone from under the terminal. Each is
// left within 2 s, the queue goes on, and the terminal is the same process
// all along.

#include <signal.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "PlayerE2eSupport.h"

namespace {

using namespace quor::e2e;

constexpr int kPauseX = 143 + 33, kNextX = 234 + 33, kPlayerRowY = 515 + 19;

long NowMsOfDay() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return ((local.tm_hour * 60L + local.tm_min) * 60L + local.tm_sec) * 1000L + ms;
}

class RoomE2eTest : public PlayerE2eTest {
 protected:
  // Songs that play different clips from the song before them.
  std::vector<SongClip> Playable(std::size_t count) {
    std::vector<SongClip> picked;
    for (const SongClip& song : SongClips()) {
      if (song.video < 1) continue;
      if (!picked.empty() && picked.back().video == song.video) continue;
      picked.push_back(song);
      if (picked.size() == count) break;
    }
    return picked;
  }
  void StartRoom(const fs::path& shareRoot) {
    WriteConfiguration();
    Start({"QUORVOD_DRIVERS_INI=" + (room_ / "drivers.ini").string(),
           "QUORVOD_SHARE_ROOT=" + shareRoot.string()});
    ASSERT_FALSE(WaitForWindow().empty());
    std::this_thread::sleep_for(500ms);
  }
  bool TerminalAlive() { return pid_ > 0 && ::kill(pid_, 0) == 0 && !WaitExit(pid_, 1ms); }
  long PlayerPid() {
    const std::string reply = Mpv("pid");
    const auto at = reply.find("\"data\":");
    return at == std::string::npos ? -1 : std::atol(reply.c_str() + at + 7);
  }
};

TEST_F(RoomE2eTest, APlayerKilledMidSongIsReplacedAndTheNextSongPlays) {
  if (!NeedServer()) return;
  const std::vector<SongClip> songs = Playable(2);
  ASSERT_EQ(songs.size(), 2u);
  StartRoom(serverDir_ / "media");
  const pid_t terminal = pid_;

  QueueByNumber(songs[0].id);
  ASSERT_TRUE(WaitForPath(songs[0].file, 10s));
  QueueByNumber(songs[1].id);
  const long player = PlayerPid();
  ASSERT_GT(player, 0);
  const long killedAt = NowMsOfDay();
  ASSERT_EQ(::kill(static_cast<pid_t>(player), SIGKILL), 0);

  // The next song is looked up within 2 s and plays on a new player, long
  // before the first would have ended.
  const auto next = WaitForPath(songs[1].file, 8s);
  ASSERT_TRUE(next) << "it played: " << ::testing::PrintToString(paths_);
  const long lookedUp = LookedUpAt(songs[1].id);
  EXPECT_GE(lookedUp, killedAt);
  EXPECT_LE(lookedUp - killedAt, 2000) << ServerLog();
  std::printf("[ figures  ] player killed: next song looked up after %ld ms\n",
              lookedUp - killedAt);
  EXPECT_NE(PlayerPid(), player);
  ExpectTvShows(songs[1].file, songs[0].file, "tv-after-kill");
  EXPECT_TRUE(TerminalAlive());
  EXPECT_EQ(pid_, terminal);
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

TEST_F(RoomE2eTest, GarbageMissingAndUnmountedSongsAreLeftWithinTwoSeconds) {
  if (!NeedServer()) return;
  std::vector<SongClip> songs = SongClips();
  ASSERT_GE(songs.size(), 12u);
  // Songs from the end of the catalogue: one whose file is garbage, one
  // whose file is gone; the rest play.
  const SongClip garbage = songs[songs.size() - 1];
  const SongClip missing = songs[songs.size() - 2];
  fs::remove(garbage.file);
  {
    std::ofstream out(garbage.file, std::ios::binary);
    std::mt19937 random(18);
    for (int i = 0; i < 200000; ++i) out.put(static_cast<char>(random()));
  }
  fs::remove(missing.file);
  const std::vector<SongClip> good = Playable(4);
  ASSERT_EQ(good.size(), 4u);

  // The share as the room sees it: a mount point that can lose its mount.
  const fs::path share = room_ / "share";
  const fs::path empty = room_ / "unmounted";
  fs::create_directories(empty);
  fs::create_directory_symlink(serverDir_ / "media", share);
  StartRoom(share);
  const pid_t terminal = pid_;

  // A song plays and is paused while the guests queue more.
  QueueByNumber(good[0].id);
  ASSERT_TRUE(WaitForPath(good[0].file, 10s));
  Touch(kPauseX, kPlayerRowY);
  QueueByNumber(garbage.id);
  QueueByNumber(missing.id);
  QueueByNumber(good[1].id);
  Touch(kNextX, kPlayerRowY);
  ASSERT_TRUE(WaitForPath(good[1].file, 10s)) << "it played: " << ::testing::PrintToString(paths_);
  const long garbageAt = LookedUpAt(garbage.id);
  const long missingAt = LookedUpAt(missing.id);
  const long goodAt = LookedUpAt(good[1].id);
  ASSERT_GT(garbageAt, 0);
  EXPECT_LE(missingAt - garbageAt, 2000) << "garbage";
  EXPECT_LE(goodAt - missingAt, 2000) << "missing";
  std::printf("[ figures  ] garbage file left after %ld ms, missing file after %ld ms\n",
              missingAt - garbageAt, goodAt - missingAt);

  // The share goes away under two queued songs, and comes back.
  Touch(kPauseX, kPlayerRowY);
  QueueByNumber(good[2].id);
  QueueByNumber(good[3].id);
  fs::remove(share);
  fs::create_directory_symlink(empty, share);
  Touch(kNextX, kPlayerRowY);
  long firstAt = -1, secondAt = -1;
  for (int i = 0; i < 60 && secondAt < 0; ++i) {
    std::this_thread::sleep_for(100ms);
    firstAt = LookedUpAt(good[2].id);
    secondAt = LookedUpAt(good[3].id);
  }
  ASSERT_GT(firstAt, 0);
  ASSERT_GT(secondAt, 0);
  EXPECT_LE(secondAt - firstAt, 2000) << "unmounted";
  std::printf("[ figures  ] song on an unmounted share left after %ld ms\n", secondAt - firstAt);
  fs::remove(share);
  fs::create_directory_symlink(serverDir_ / "media", share);
  // The next song finds the share back and plays.
  QueueByNumber(good[0].id);
  EXPECT_TRUE(WaitForPath(good[0].file, 10s))
      << "it played: " << ::testing::PrintToString(paths_) << "\n"
      << ServerLog();
  EXPECT_TRUE(TerminalAlive());
  EXPECT_EQ(pid_, terminal);
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

}  // namespace
