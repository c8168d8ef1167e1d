// Two clips queued by touch play one after the other on the TV screen; the
// channel button changes what mpv plays.

#include <signal.h>

#include "PlayerE2eSupport.h"

namespace {

using namespace quor::e2e;

TEST_F(PlayerE2eTest, TwoClipsQueuedByTouchPlayOneAfterTheOtherOnTheTvScreen) {
  if (!NeedServer()) return;
  WriteConfiguration();
  Start({"QUORVOD_DRIVERS_INI=" + (room_ / "drivers.ini").string(),
         "QUORVOD_SHARE_ROOT=" + (serverDir_ / "media").string()});
  ASSERT_FALSE(WaitForWindow().empty());
  std::this_thread::sleep_for(500ms);

  // Two songs that play different clips.
  const std::vector<SongClip> songs = SongClips();
  ASSERT_FALSE(songs.empty());
  const SongClip one = songs.front();
  SongClip two;
  for (const SongClip& song : songs)
    if (song.video != one.video && two.id.empty()) two = song;
  ASSERT_GE(one.video, 1) << one.file;
  ASSERT_FALSE(two.id.empty());

  // The first song starts on its own within two ticks of being queued.
  QueueByNumber(one.id);
  const auto first = WaitForPath(one.file, 10s);
  ASSERT_TRUE(first) << "mpv did not play " << one.file
                     << "; it played: " << ::testing::PrintToString(paths_);
  ExpectTvShows(one.file, two.file, "tv-first");

  // The channel button (a stereo clip: the channel mix) changes what mpv
  // plays: left on both sides, right on both sides, then plain again.
  constexpr int kChannelX = 509 + 33, kChannelY = 515 + 19;
  EXPECT_EQ(Mpv("af").find("quormix"), std::string::npos) << Mpv("af");
  Touch(kChannelX, kChannelY);
  EXPECT_NE(Mpv("af").find("pan=stereo|c0=1*c0+0*c1|c1=1*c0+0*c1"), std::string::npos) << Mpv("af");
  Touch(kChannelX, kChannelY);
  EXPECT_NE(Mpv("af").find("pan=stereo|c0=0*c0+1*c1|c1=0*c0+1*c1"), std::string::npos) << Mpv("af");
  Touch(kChannelX, kChannelY);
  EXPECT_NE(Mpv("af").find("\"data\":[]"), std::string::npos) << Mpv("af");

  // The second song, queued while the first plays, follows when it ends.
  QueueByNumber(two.id);
  const auto second = WaitForPath(two.file, 15s);
  ASSERT_TRUE(second) << "mpv did not play " << two.file
                      << "; it played: " << ::testing::PrintToString(paths_);
  EXPECT_GE(*second - *first, std::chrono::seconds(kClipSeconds - 1));
  ExpectTvShows(two.file, one.file, "tv-second");
  for (const std::string& path : paths_) EXPECT_TRUE(path == one.file || path == two.file) << path;

  // Each song's path was looked up once: nothing failed and was tried again.
  const std::string log = ServerLog();
  for (const std::string& id : {one.id, two.id}) {
    const std::string statement =
        std::string("select PATH1 from vodinfo where SINGID=") + id + " \"";
    std::size_t count = 0;
    for (auto at = log.find(statement); at != std::string::npos; at = log.find(statement, at + 1))
      ++count;
    EXPECT_EQ(count, 1u) << id << "\n" << log;
  }
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

}  // namespace
