// The sim driver loaded for real: simulated length and position, the stream
// handle rules and the log format.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "drivers/DriverTestSupport.h"
#include "platform/Driver.h"

namespace quor::platform {
namespace {

using namespace std::chrono_literals;
using testing::ScopedEnv;
using testing::TempDir;

constexpr std::uint32_t kRequest = 0x4001;

std::intptr_t First(std::uint8_t command, std::uint8_t handle, std::uint16_t code) {
  return static_cast<std::intptr_t>(command | handle << 8 | static_cast<std::uint32_t>(code) << 16);
}

class SimDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDriversIniPath(
        dir_.Write("drivers.ini", testing::DriversIni(testing::BinDir() + "/libreeldrv-sim.so")));
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

  TempDir dir_;
  ScopedEnv noEnv_{"QUORVOD_DRIVERS_INI", std::nullopt};
  ScopedEnv log_{"QUORVOD_DRIVER_LOG", dir_.File("sim.log")};
  DriverHandle driver_ = nullptr;
};

TEST_F(SimDriver, LengthAndTracksComeFromTheFileName) {
  struct Case {
    const char* path;
    std::uint32_t length;
    std::uint32_t channelInfo;
  };
  const Case cases[] = {
      {"\\\\srv\\quorvod\\song-3s.mpg", 3000, 2},
      {"/m/song-90s-2a.mpg", 90000, 3},
      {"/m/song-2a-90s.mpg", 90000, 3},
      {"/m/song-1a.vob", 180000, 2},
      {"/m/song.mpg", 180000, 2},
      {"/m/song-0s.mpg", 180000, 2},
      {"/m/song-12xs.mpg", 180000, 2},
      {"/m/song-99999999999999s.mpg", 180000, 2},
      {"/m/dir-5s/name.mpg", 180000, 2},
      {"/m/-7s", 7000, 2},
      {"-", 180000, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::uint32_t stream = Open(c.path);
    ASSERT_NE(stream, 0u);
    EXPECT_EQ(Get(stream, 531), c.length);
    EXPECT_EQ(Get(stream, 1538), c.channelInfo);
  }
  EXPECT_EQ(Send(1, 0, 1, 0), 0u);  // a null path opens nothing
  EXPECT_EQ(Open(""), 0u);

  // A file the decoder cannot play: handle 0, and the song before is over.
  const std::uint32_t playing = Open("/m/song-9s.mpg");
  ASSERT_NE(playing, 0u);
  EXPECT_EQ(Open("/m/song-broken-9s.mpg"), 0u);
  EXPECT_EQ(Get(playing, 518), 0u);
  EXPECT_NE(Open("/m/broken.mpg"), 0u);  // a token only after a dash
}

TEST_F(SimDriver, PositionRunsPausesSeeksAndEnds) {
  const std::uint32_t stream = Open("/m/short-5s.mpg");
  EXPECT_EQ(Get(stream, 518), 1u);  // held at the start until played
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(Get(stream, 518), 1u);

  EXPECT_EQ(Send(3, stream, 768), 1u);
  std::this_thread::sleep_for(200ms);
  const std::uint32_t running = Get(stream, 518);
  EXPECT_GE(running, 150u);
  EXPECT_LT(running, 4000u);

  EXPECT_EQ(Send(4, stream, 0), 1u);
  const std::uint32_t paused = Get(stream, 518);
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(Get(stream, 518), paused);

  // Seek: the target is stored, control 2 with 512 jumps there.
  EXPECT_EQ(Send(6, stream, 512, 4900), 1u);
  EXPECT_EQ(Get(stream, 518), paused);
  EXPECT_EQ(Send(3, stream, 2, 512), 1u);
  EXPECT_EQ(Get(stream, 518), 4900u);
  EXPECT_EQ(Send(3, stream, 2, 7), 0u);  // control 2 only takes 512

  EXPECT_EQ(Send(3, stream, 4), 1u);  // resume
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(Get(stream, 518), 0u);  // past the end: nothing plays
  EXPECT_EQ(Send(4, stream, 0), 0u);
}

TEST_F(SimDriver, OnlyTheLiveStreamAnswers) {
  const std::uint32_t first = Open("/m/a.mpg");
  const std::uint32_t second = Open("/m/b.mpg");
  EXPECT_EQ(second, first + 1);
  EXPECT_EQ(Get(first, 531), 0u);
  EXPECT_EQ(Send(3, first, 768), 0u);
  EXPECT_EQ(Send(5, first, 0), 0u);  // ending a stale stream leaves the live one alone
  EXPECT_EQ(Get(second, 518), 1u);
  EXPECT_EQ(Send(5, second, 0), 1u);
  EXPECT_EQ(Get(second, 518), 0u);
  EXPECT_EQ(Get(0, 518), 0u);

  // Handles wrap from 255 to 1 and never become 0.
  std::uint32_t last = second;
  for (int i = 0; i < 300; ++i) {
    last = Open("/m/c.mpg");
    ASSERT_GE(last, 1u);
    ASSERT_LE(last, 255u);
  }
  EXPECT_EQ(last, (second + 300 - 1) % 255 + 1);
}

TEST_F(SimDriver, SettingsReadBackAndTracksFallBack) {
  EXPECT_EQ(Get(0, 1283), 200u * 65536 + 200);
  EXPECT_EQ(Send(9, 0, 1283, 60u << 16 | 60), 1u);
  EXPECT_EQ(Get(0, 1283), 60u << 16 | 60);
  EXPECT_EQ(Send(9, 0, 1283, 9999u << 16 | 300), 1u);  // levels stop at 255
  EXPECT_EQ(Get(0, 1283), 255u << 16 | 255);
  EXPECT_EQ(Send(9, 0, 1297, 6553600), 1u);
  EXPECT_EQ(Get(0, 1297), 6553600u);
  EXPECT_EQ(Send(9, 0, 4444, 1), 0u);

  const std::uint32_t stream = Open("/m/duet-2a.mpg");
  EXPECT_EQ(Get(0, 1297), 100u);  // a new song starts with the plain mix
  EXPECT_EQ(Send(8, stream, 36, 2), 1u);
  EXPECT_EQ(Get(stream, 36), 2u);
  EXPECT_EQ(Send(8, stream, 36, 3), 1u);  // the file has two tracks
  EXPECT_EQ(Get(stream, 36), 1u);
  EXPECT_EQ(Send(6, stream, 514, 200), 1u);
  EXPECT_EQ(Get(stream, 514), 200u);
  EXPECT_EQ(Send(6, stream, 514, 0), 0u);
}

TEST_F(SimDriver, LogsEveryMessageAsOneLine) {
  const std::string path = "/m/\x01odd\nname-2s.mpg";
  const std::uint32_t stream = Open(path);
  Get(stream, 531);
  Send(9, stream, 1298, 6553600);
  SendDriverMessage(driver_, 0x77, -1, 5);
  const auto lines = testing::ReadLog(dir_.File("sim.log"));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1].message, kRequest);
  EXPECT_EQ(lines[1].lParam1, 65537u);
  EXPECT_EQ(lines[1].lParam2, reinterpret_cast<std::uintptr_t>(path.c_str()));
  EXPECT_EQ(lines[1].result, stream);
  EXPECT_EQ(lines[1].text, "/m/?odd?name-2s.mpg");
  EXPECT_EQ(lines[2].lParam1, 0x0213000Au | stream << 8);
  EXPECT_EQ(lines[2].result, 2000u);
  EXPECT_EQ(lines[3].lParam2, 6553600u);
  EXPECT_EQ(lines[3].result, 1u);
  EXPECT_EQ(lines[4].message, 0x77u);
  EXPECT_EQ(lines[4].lParam1, UINT64_MAX);  // pointer-sized, printed unsigned
  EXPECT_EQ(lines[4].result, 0u);
}

}  // namespace
}  // namespace quor::platform
