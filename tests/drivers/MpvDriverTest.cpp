// The mpv driver loaded for real and playing clips that the test makes with
// ffmpeg, with vo=null and ao=null. What the requests did is read back from
// mpv's own properties through the driver's diagnostics message.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/stat.h>

#include "drivers/DriverTestSupport.h"
#include "platform/Driver.h"
#include "platform/driver_api.h"

namespace quor::platform {
namespace {

using namespace std::chrono_literals;
using testing::ScopedEnv;
using testing::TempDir;

constexpr std::uint32_t kRequest = 0x4001;

std::intptr_t First(std::uint8_t command, std::uint8_t handle, std::uint16_t code) {
  return static_cast<std::intptr_t>(command | handle << 8 | static_cast<std::uint32_t>(code) << 16);
}

class MpvDriver : public ::testing::Test {
 protected:
  // Two 3-second clips: stereo.mkv with 440 Hz on the left and 1000 Hz on
  // the right; tracks.mkv with two audio tracks.
  static void SetUpTestSuite() {
    clips_ = new TempDir();
    const std::string video = "-f lavfi -i color=c=blue:s=64x48:r=10:d=3 ";
    const std::string tones =
        "-f lavfi -i sine=frequency=440:duration=3:sample_rate=22050 "
        "-f lavfi -i sine=frequency=1000:duration=3:sample_rate=22050 ";
    const std::string stereo =
        "ffmpeg -nostdin -v error -y " + video + tones +
        "-filter_complex \"[1:a][2:a]join=inputs=2:channel_layout=stereo[a]\" "
        "-map 0:v -map \"[a]\" -c:v mpeg4 -g 5 -c:a mp2 " +
        clips_->File("stereo.mkv");
    const std::string tracks = "ffmpeg -nostdin -v error -y " + video + tones +
                               "-map 0:v -map 1:a -map 2:a -ac 2 -c:v mpeg4 -g 5 -c:a mp2 " +
                               clips_->File("tracks.mkv");
    const std::string mono = "ffmpeg -nostdin -v error -y " + video + tones +
                             "-map 0:v -map 1:a -ac 1 -c:v mpeg4 -g 5 -c:a mp2 " +
                             clips_->File("mono.mkv");
    ASSERT_EQ(std::system(stereo.c_str()), 0) << stereo;
    ASSERT_EQ(std::system(mono.c_str()), 0) << mono;
    ASSERT_EQ(std::system(tracks.c_str()), 0) << tracks;
  }
  static void TearDownTestSuite() {
    delete clips_;
    clips_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(clips_, nullptr);
    OpenWith("ao=null\n");
  }
  // (Re)opens the driver with these options besides vo=null.
  void OpenWith(const std::string& options) {
    CloseDriver(driver_, 0, 0);
    SetDriversIniPath(
        dir_.Write("drivers.ini",
                   testing::DriversIni(testing::BinDir() + "/libreeldrv-mpv.so",
                                       "[reeldrv-mpv]\nvo=null\nopen-timeout=8000\n" + options)));
    driver_ = OpenDriver(u"reeldrv", u"Drivers32", 0);
    ASSERT_NE(driver_, nullptr);
  }
  void TearDown() override {
    CloseDriver(driver_, 0, 0);
    SetDriversIniPath({});
  }

  std::uint32_t Open(const std::string& path) {
    return static_cast<std::uint32_t>(SendDriverMessage(driver_, kRequest, First(1, 0, 1),
                                                        reinterpret_cast<intptr_t>(path.c_str())));
  }
  std::uint32_t Send(std::uint8_t command, std::uint32_t stream, std::uint16_t code,
                     std::uint32_t argument = 0) {
    return static_cast<std::uint32_t>(SendDriverMessage(
        driver_, kRequest, First(command, static_cast<std::uint8_t>(stream), code), argument));
  }
  std::uint32_t Get(std::uint32_t stream, std::uint16_t code) { return Send(10, stream, code); }
  std::string Property(const char* name) {
    char buffer[512] = {};
    QuorDriverText text{buffer, sizeof buffer};
    if (SendDriverMessage(driver_, kDrvQueryProperty, reinterpret_cast<intptr_t>(name),
                          reinterpret_cast<intptr_t>(&text)) == 0) {
      return "<none>";
    }
    return buffer;
  }
  // Polls the position until pred holds or the time is up; returns the last.
  template <typename Pred>
  std::uint32_t WaitPosition(std::uint32_t stream, Pred pred, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::uint32_t position = Get(stream, 518);
    while (!pred(position) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(20ms);
      position = Get(stream, 518);
    }
    return position;
  }

  static TempDir* clips_;
  TempDir dir_;
  ScopedEnv noEnv_{"QUORVOD_DRIVERS_INI", std::nullopt};
  DriverHandle driver_ = nullptr;
};

TempDir* MpvDriver::clips_ = nullptr;

// Zero crossings per second of each channel of a 16-bit stereo WAV file: about
// twice the frequency of the tone the channel carries.
std::pair<double, double> CrossingRates(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (data.size() < 44) return {0, 0};
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::memcpy(&channels, data.data() + 22, 2);
  std::memcpy(&rate, data.data() + 24, 4);
  if (channels != 2 || rate == 0) return {0, 0};
  const std::size_t frames = (data.size() - 44) / 4;
  long crossings[2] = {0, 0};
  std::int16_t last[2] = {0, 0};
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c) {
      std::int16_t sample = 0;
      std::memcpy(&sample, data.data() + 44 + i * 4 + c * 2, 2);
      if ((sample < 0) != (last[c] < 0)) ++crossings[c];
      last[c] = sample;
    }
  }
  const double seconds = static_cast<double>(frames) / rate;
  return {crossings[0] / seconds, crossings[1] / seconds};
}

TEST_F(MpvDriver, PlaysPausesSeeksAndEnds) {
  const std::uint32_t stream = Open(clips_->File("stereo.mkv"));
  ASSERT_GE(stream, 1u);
  ASSERT_LE(stream, 255u);
  const std::uint32_t length = Get(stream, 531);
  EXPECT_NEAR(length, 3000, 200);
  EXPECT_EQ(Get(stream, 1538), 2u);
  // Loaded paused: live, so not 0, and not moving.
  EXPECT_LE(Get(stream, 518), 100u);
  EXPECT_NE(Get(stream, 518), 0u);

  EXPECT_EQ(Send(3, stream, 768), 1u);
  EXPECT_EQ(Send(6, stream, 514, 100), 1u);
  const std::uint32_t running = WaitPosition(
      stream, [](auto p) { return p >= 400; }, 3s);
  EXPECT_GE(running, 400u);
  EXPECT_LT(running, length);

  EXPECT_EQ(Send(4, stream, 0), 1u);
  // Once the pause has taken hold the position stays where it is.
  std::uint32_t paused = Get(stream, 518);
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(100ms);
    const std::uint32_t now = Get(stream, 518);
    if (now == paused) break;
    paused = now;
  }
  EXPECT_NE(paused, 0u);
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(Get(stream, 518), paused);

  EXPECT_EQ(Send(6, stream, 512, 2000), 1u);
  EXPECT_EQ(Send(3, stream, 2, 512), 1u);
  const std::uint32_t landed = WaitPosition(
      stream, [](auto p) { return p >= 1800 && p <= 2300; }, 2s);
  EXPECT_NEAR(landed, 2000, 250);

  EXPECT_EQ(Send(3, stream, 4), 1u);  // resume; about a second remains
  EXPECT_EQ(WaitPosition(
                stream, [](auto p) { return p == 0; }, 4s),
            0u);
  EXPECT_EQ(Get(stream, 531), 0u);  // the ended stream answers nothing
}

TEST_F(MpvDriver, ChannelMixBecomesAPanFilter) {
  const std::uint32_t stream = Open(clips_->File("stereo.mkv"));
  ASSERT_NE(stream, 0u);
  Send(3, stream, 768);
  EXPECT_EQ(Property("af"), "");
  // Both outputs take the left input, then both the right, then plain stereo.
  Send(9, stream, 1297, 100);
  Send(9, stream, 1298, 100);
  EXPECT_NE(Property("af").find("c0=1*c0+0*c1|c1=1*c0+0*c1"), std::string::npos) << Property("af");
  Send(9, stream, 1297, 6553600);
  Send(9, stream, 1298, 6553600);
  EXPECT_NE(Property("af").find("c0=0*c0+1*c1|c1=0*c0+1*c1"), std::string::npos) << Property("af");
  Send(9, stream, 1297, 100);
  Send(9, stream, 1298, 6553600);
  EXPECT_EQ(Property("af"), "");
  // The filter works: playback goes on with audio.
  EXPECT_GE(WaitPosition(
                stream, [](auto p) { return p >= 300; }, 3s),
            300u);
  EXPECT_NE(Property("audio-params/channel-count"), "<none>");

  // A new song starts with the plain mix.
  Send(9, stream, 1297, 6553600);
  EXPECT_NE(Property("af"), "");
  const std::uint32_t next = Open(clips_->File("stereo.mkv"));
  EXPECT_EQ(Property("af"), "");
  EXPECT_EQ(Get(next, 1297), 100u);
}

// The mix and the track choice as heard: the audio goes to a WAV file.
TEST_F(MpvDriver, MixAndTrackReachTheSound) {
  const std::string wav = dir_.File("out.wav");
  OpenWith("ao=pcm\nao-pcm-file=" + wav + "\naudio-format=s16\naudio-channels=stereo\n");
  auto playToTheEnd = [&](const std::string& clip, auto setUp) {
    const std::uint32_t stream = Open(clip);
    EXPECT_NE(stream, 0u);
    setUp(stream);
    Send(6, stream, 512, 1800);  // the last 1.2 s are enough to tell the tones
    Send(3, stream, 2, 512);
    Send(3, stream, 768);
    EXPECT_EQ(WaitPosition(
                  stream, [](auto p) { return p == 0; }, 8s),
              0u);
    OpenWith("ao=pcm\nao-pcm-file=" + dir_.File("next.wav") + "\naudio-format=s16\n");
    return CrossingRates(wav);  // complete once the instance that wrote it is closed
  };
  // 440 Hz crosses about 880 times a second, 1000 Hz about 2000 times. The
  // player is a process of its own: on a loaded machine a new mix can reach
  // the output a few tenths of a second into the measured stretch, so the
  // tone that holds most of it decides (the midpoint is 1440).
  auto isLow = [](double r) { return r > 700 && r < 1300; };
  auto isHigh = [](double r) { return r > 1500 && r < 2300; };

  auto [left, right] = playToTheEnd(clips_->File("stereo.mkv"), [](std::uint32_t) {});
  EXPECT_TRUE(isLow(left) && isHigh(right)) << left << " " << right;

  OpenWith("ao=pcm\nao-pcm-file=" + wav + "\naudio-format=s16\naudio-channels=stereo\n");
  std::tie(left, right) = playToTheEnd(clips_->File("stereo.mkv"), [&](std::uint32_t stream) {
    Send(9, stream, 1297, 6553600);  // both sides take the right input
    Send(9, stream, 1298, 6553600);
  });
  EXPECT_TRUE(isHigh(left) && isHigh(right)) << left << " " << right;

  OpenWith("ao=pcm\nao-pcm-file=" + wav + "\naudio-format=s16\naudio-channels=stereo\n");
  std::tie(left, right) = playToTheEnd(clips_->File("tracks.mkv"), [&](std::uint32_t stream) {
    Send(8, stream, 36, 2);  // the second track carries 1000 Hz
  });
  EXPECT_TRUE(isHigh(left) && isHigh(right)) << left << " " << right;
}

TEST_F(MpvDriver, AMonoSongIsLeftUnmixedAndEnds) {
  const std::uint32_t stream = Open(clips_->File("mono.mkv"));
  ASSERT_NE(stream, 0u);
  EXPECT_EQ(Get(stream, 1538), 2u);
  Send(9, stream, 1297, 6553600);
  Send(9, stream, 1298, 6553600);
  Send(9, stream, 1283, 100u << 16 | 200);
  EXPECT_EQ(Property("af"), "");  // nothing to mix on one channel
  Send(6, stream, 512, 2500);
  Send(3, stream, 2, 512);
  Send(3, stream, 768);
  EXPECT_EQ(WaitPosition(
                stream, [](auto p) { return p == 0; }, 4s),
            0u);
}

TEST_F(MpvDriver, TrackChoiceOnAFileWithTwoTracks) {
  const std::uint32_t stream = Open(clips_->File("tracks.mkv"));
  ASSERT_NE(stream, 0u);
  EXPECT_EQ(Get(stream, 1538), 3u);
  Send(3, stream, 768);
  EXPECT_EQ(Send(8, stream, 36, 2), 1u);
  EXPECT_EQ(Property("aid"), "2");
  EXPECT_EQ(Send(8, stream, 36, 3), 1u);  // the file lacks a third track
  EXPECT_EQ(Property("aid"), "1");
  EXPECT_EQ(Send(8, stream, 36, 2), 1u);
  EXPECT_EQ(Send(8, stream, 36, 1), 1u);
  EXPECT_EQ(Property("aid"), "1");
  EXPECT_EQ(Send(8, stream, 37, 2), 0u);  // only code 36 selects
}

TEST_F(MpvDriver, VolumeReadsBackAsSet) {
  EXPECT_EQ(Get(0, 1283), 200u << 16 | 200);
  EXPECT_EQ(Property("volume"), "100.000000");
  EXPECT_EQ(Send(9, 0, 1283, 120u << 16 | 120), 1u);
  EXPECT_EQ(Get(0, 1283), 120u << 16 | 120);
  EXPECT_EQ(Property("volume"), "60.000000");
  // Unequal levels: mpv takes the louder, the filter scales the other side.
  EXPECT_EQ(Send(9, 0, 1283, 200u << 16 | 100), 1u);
  EXPECT_EQ(Property("volume"), "100.000000");
  EXPECT_NE(Property("af").find("c0=0.5*c0+0*c1|c1=0*c0+1*c1"), std::string::npos)
      << Property("af");
  // The volume stays over the next song.
  const std::uint32_t stream = Open(clips_->File("stereo.mkv"));
  EXPECT_EQ(Get(stream, 1283), 200u << 16 | 100);
}

TEST_F(MpvDriver, SharePathsAndMissingFiles) {
  ScopedEnv root("QUORVOD_SHARE_ROOT", clips_->File(""));
  const std::uint32_t first = Open("\\\\ktvserver\\quorvod\\stereo.mkv");
  ASSERT_NE(first, 0u);
  EXPECT_NEAR(Get(first, 531), 3000, 200);
  Send(3, first, 768);

  // A missing file gives handle 0 and stops the song before.
  EXPECT_EQ(Open("\\\\ktvserver\\quorvod\\absent.mkv"), 0u);
  EXPECT_EQ(Get(first, 518), 0u);
  EXPECT_EQ(Get(0, 518), 0u);
  EXPECT_EQ(Open(dir_.Write("broken.mkv", "this is no video")), 0u);
  EXPECT_EQ(Open(""), 0u);
  EXPECT_EQ(Send(1, 0, 1, 0), 0u);

  // Requests for a stale handle change nothing on the live stream.
  const std::uint32_t live = Open(clips_->File("tracks.mkv"));
  ASSERT_NE(live, 0u);
  EXPECT_NE(live, first);
  EXPECT_EQ(Send(5, first, 0), 0u);
  EXPECT_EQ(Send(3, first, 768), 0u);
  EXPECT_NE(Get(live, 518), 0u);
  EXPECT_EQ(Send(5, live, 0), 1u);
  EXPECT_EQ(Get(live, 518), 0u);
}

// The player is a process of its own: killed or stopped in the middle of a
// song, it is noticed within 2 s (position 0, so the queue moves on), a new
// one takes the next song, and the room's volume carries over.
TEST_F(MpvDriver, AKilledOrHungPlayerIsReplacedWithinTwoSeconds) {
  Send(9, 0, 1283, 120u << 16 | 120);
  for (const int sig : {SIGKILL, SIGSTOP}) {
    const std::uint32_t stream = Open(clips_->File("stereo.mkv"));
    ASSERT_NE(stream, 0u);
    Send(3, stream, 768);
    ASSERT_NE(WaitPosition(
                  stream, [](auto p) { return p >= 200; }, 3s),
              0u);
    const std::string pid = Property("pid");
    ASSERT_NE(pid, "<none>");
    ASSERT_EQ(::kill(std::stoi(pid), sig), 0);
    // Every 500 ms the terminal asks for the position.
    const auto before = std::chrono::steady_clock::now();
    std::uint32_t position = 1;
    while (position != 0 && std::chrono::steady_clock::now() - before < 5s) {
      std::this_thread::sleep_for(500ms);
      position = Get(stream, 518);
    }
    EXPECT_EQ(position, 0u) << sig;
    EXPECT_LE(std::chrono::steady_clock::now() - before, 2s) << sig;
    EXPECT_EQ(Get(stream, 531), 0u);  // the stream went with its player

    const std::uint32_t next = Open(clips_->File("tracks.mkv"));
    ASSERT_NE(next, 0u) << sig;
    EXPECT_NE(Property("pid"), pid);
    EXPECT_EQ(Property("volume"), "60.000000");
    Send(3, next, 768);
    EXPECT_GE(WaitPosition(
                  next, [](auto p) { return p >= 200; }, 3s),
              200u);
    if (sig == SIGSTOP) ::kill(std::stoi(pid), SIGCONT);  // killed already; never left stopped
  }
}

// Without a working player program the driver answers at once and plays
// nothing; a program that writes what is no IPC is ended.
TEST_F(MpvDriver, APlayerThatIsMissingOrBrokenCostsNoTime) {
  const std::string babbler =
      dir_.Write("babbler.sh", "#!/bin/sh\nwhile :; do echo 'no json' >&3; sleep 0.05; done\n");
  ASSERT_EQ(::chmod(babbler.c_str(), 0755), 0);
  for (const std::string& program : {dir_.File("absent-player"), babbler}) {
    OpenWith("program=" + program + "\nstart-timeout=1000\n");
    const auto before = std::chrono::steady_clock::now();
    for (int song = 0; song < 3; ++song) {
      const std::uint32_t stream = Open(clips_->File("stereo.mkv"));
      EXPECT_EQ(stream, 0u) << program;
      EXPECT_EQ(Get(stream, 518), 0u);
    }
    EXPECT_EQ(Send(9, 0, 1283, 100u << 16 | 100), 1u);  // kept for a player to come
    EXPECT_EQ(Get(0, 1283), 100u << 16 | 100);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms) << program;
  }
}

}  // namespace
}  // namespace quor::platform
