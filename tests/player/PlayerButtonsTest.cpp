// The player buttons on the sim driver: winding, volume, the channel cycle and
// the queue view's refresh, read back from the sim driver's log.

#include <gmock/gmock.h>

#include <optional>

#include "PlayerFixture.h"
#include "platform/driver_api.h"

namespace quor::player::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PlayerButtons : public PlayerTest {
 protected:
  // Starts `entry` and forgets what that sent.
  void Start(const std::string& entry) {
    queue_ = {entry};
    player_->controlBitBtn3Click();
    ASSERT_NE(status_.StreamHandle, 0);
    Sent();
  }
  std::string H() const { return " h" + std::to_string(status_.StreamHandle & 0xFF) + " "; }
};

TEST_F(PlayerButtons, WindingSeeksByOneTwentiethOfTheLengthWithinTheSong) {
  Start(Entry10023());
  struct Case {
    std::uint32_t position;
    bool forwards;
    std::vector<std::string> sent;
  };
  const std::string h = H();
  const Case cases[] = {
      {960, true, {}},  // 1010 is not below 1000
      {900, true, {"SetParam" + h + "512 950", "Control" + h + "2 512"}},
      {30, false, {}},  // -20
      {100, false, {"SetParam" + h + "512 50", "Control" + h + "2 512"}},
      {50, false, {}},  // 0 is not above 0
      {949, true, {"SetParam" + h + "512 999", "Control" + h + "2 512"}},
      {950, true, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    status_.StreamLength = 1000;
    status_.PlayPosition = c.position;
    if (c.forwards)
      player_->controlBitBtn7Click();
    else
      player_->controlBitBtn8Click();
    EXPECT_EQ(Sent(), c.sent);
    // Winding leaves the position to the next tick.
    EXPECT_EQ(status_.PlayPosition, c.position);
  }

  // The decoder really went there: the next tick reads the last target, 999,
  // plus the little time since.
  player_->mainTimerTimer();
  EXPECT_GE(status_.PlayPosition, 999u);
  EXPECT_LT(status_.PlayPosition, 999u + 2000u);
  Sent();

  // With the song's own length (180 s): 9 s on from where it is.
  status_.StreamLength = 180000;
  status_.PlayPosition = 60000;
  player_->controlBitBtn7Click();
  player_->controlBitBtn8Click();
  EXPECT_EQ(Sent(),
            (std::vector<std::string>{"SetParam" + h + "512 69000", "Control" + h + "2 512",
                                      "SetParam" + h + "512 51000", "Control" + h + "2 512"}));
}

TEST_F(PlayerButtons, VolumeStepsByTwentyWithinTheLevelsRange) {
  Start(Entry10023());
  const std::string h = H();
  const std::uint16_t stream = status_.StreamHandle;
  struct Case {
    std::uint32_t level;  // set on the decoder first
    bool up;
    std::optional<std::uint32_t> after;  // the level sent, if any
  };
  const Case cases[] = {
      {200, true, 220},          {234, true, 254}, {235, true, std::nullopt},
      {240, true, std::nullopt},  // 260 is not below 255
      {128, false, 108},         {21, false, 1},   {20, false, std::nullopt},
      {10, false, std::nullopt},  // -10: nothing, no wrap to a huge level
      {0, false, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    decoder_.DecoderSetValue(stream, kDecoderCodeVolume, VolumeValue(c.level));
    Mark();
    if (c.up)
      player_->controlBitBtn5Click();
    else
      player_->controlBitBtn6Click();
    std::vector<std::string> expected{"GetValue" + h + "1283 0"};
    if (c.after)
      expected.push_back("SetValue" + h + "1283 " + std::to_string(VolumeValue(*c.after)));
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(decoder_.DecoderGetValue(stream, kDecoderCodeVolume),
              VolumeValue(c.after.value_or(c.level)));
  }
}

TEST_F(PlayerButtons, TheChannelButtonCyclesMixesOrChannels) {
  // One audio track (channel info 2): the three mixes, then the plain one.
  Start(Entry10001());
  ASSERT_EQ(status_.AudioChannelInfo, 2);
  std::string h = H();
  for (int press = 0; press < 3; ++press) player_->controlBitBtn4Click();
  EXPECT_EQ(Sent(), (std::vector<std::string>{
                        "SetValue" + h + "1297 100", "SetValue" + h + "1298 100",
                        "SetValue" + h + "1297 6553600", "SetValue" + h + "1298 6553600",
                        "SetValue" + h + "1297 100", "SetValue" + h + "1298 6553600"}));
  EXPECT_EQ(status_.ChannelStep, 0);
  player_->controlBitBtn4Click();
  EXPECT_EQ(status_.ChannelStep, 1);
  EXPECT_EQ(decoder_.DecoderGetValue(status_.StreamHandle, kDecoderCodeMixRight), 100u);

  // Two tracks (channel info 3): channels 2, 3, 1; a new song starts the
  // cycle afresh.
  Start(Entry10002());
  ASSERT_EQ(status_.AudioChannelInfo, 3);
  EXPECT_EQ(status_.ChannelStep, 0);
  h = H();
  for (int press = 0; press < 3; ++press) {
    player_->controlBitBtn4Click();
    if (press == 0) {
      // The sim driver took it: track 2 of the two.
      EXPECT_EQ(decoder_.DecoderGetValue(status_.StreamHandle, kDecoderCodeTrack), 2u);
    }
  }
  auto requests = Sent();
  requests.erase(requests.begin() + 1);  // the read-back above
  EXPECT_EQ(requests, (std::vector<std::string>{"Select" + h + "36 2", "Select" + h + "36 3",
                                                "Select" + h + "36 1"}));
  EXPECT_EQ(status_.ChannelStep, 0);

  // A step outside the cycle does nothing.
  status_.ChannelStep = 5;
  player_->controlBitBtn4Click();
  EXPECT_THAT(Sent(), IsEmpty());
  EXPECT_EQ(status_.ChannelStep, 5);
}

TEST_F(PlayerButtons, PlayAndNextSongRedrawTheQueueViewWhenItIsOnScreen) {
  queue_ = {Entry10023(), Entry10001(), Entry10002()};
  // The window is not shown yet: no redraw.
  player_->controlBitBtn3Click();
  EXPECT_EQ(queuePage_.redraws, 0);

  window_.show();
  player_->controlBitBtn3Click();
  EXPECT_EQ(queuePage_.redraws, 1);
  player_->controlBitBtn1Click();  // state 0: only the refresh
  EXPECT_EQ(queuePage_.redraws, 2);
  player_->controlBitBtn2Click();  // pause, resume: no refresh from pause
  player_->controlBitBtn1Click();
  EXPECT_EQ(queuePage_.redraws, 3);

  // The list's button hidden (another screen part shows): no redraw.
  selectedsongBitBtn1_->hide();
  player_->controlBitBtn3Click();
  player_->controlBitBtn1Click();
  EXPECT_EQ(queuePage_.redraws, 3);
  // Next song with an empty queue does nothing at all.
  selectedsongBitBtn1_->show();
  ASSERT_TRUE(queue_.empty());
  player_->controlBitBtn3Click();
  EXPECT_EQ(queuePage_.redraws, 3);
  window_.hide();
}

}  // namespace
}  // namespace quor::player::test
