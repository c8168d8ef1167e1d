// The player's queue and timer on the sim driver and the real server: what
// each tick sends to the decoder (read back from the sim driver's log), what
// reaches the server, the states and the status line.

#include <gmock/gmock.h>

#include "PlayerFixture.h"

namespace quor::player::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kPath10001 = R"(\\quorvod\quorvod\songs\10001-1s.mp4)";
constexpr const char* kPath10002 = R"(\\quorvod\quorvod\songs\10002-1s-2a.mp4)";
constexpr const char* kPath10023 = R"(\\quorvod\quorvod\songs\10023.mp4)";

// What PlayNextSong sends for a song found at path, on stream h.
std::vector<std::string> StartRequests(const std::string& path, int h) {
  const std::string s = " h" + std::to_string(h) + " ";
  return {"OpenFile h0 1 " + path, "GetValue" + s + "531 0", "GetValue" + s + "1538 0",
          "Control" + s + "768 0", "SetParam" + s + "514 100"};
}

// What a tick sends that finds stream `ended` stopped and starts the song at
// path on stream h.
std::vector<std::string> MovesOn(int ended, const std::string& path, int h) {
  const std::string e = " h" + std::to_string(ended) + " ";
  std::vector<std::string> sent{"GetValue" + e + "518 0", "EndStream" + e + "0 0"};
  const auto start = StartRequests(path, h);
  sent.insert(sent.end(), start.begin(), start.end());
  return sent;
}

std::u16string Rotated(const std::u16string& text, std::size_t by = 1) {
  return text.substr(by) + text.substr(0, by);
}

std::u16string NowPlaying(const std::string& entry) {
  return kNowPlayingText + platform::GbkToUtf16(entry);
}

TEST_F(PlayerTest, AQueueFilledAfterStartUpPlaysThroughAsTheStatesSay) {
  // The first tick after start-up: nothing plays, nothing waits.
  EXPECT_EQ(status_.PlayerState, PlayerState::kNotStarted);
  player_->mainTimerTimer();
  EXPECT_EQ(Shown(), Rotated(kWelcomeText));
  EXPECT_THAT(Sent(), ElementsAre("GetValue h0 518 0"));
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleEmpty);
  EXPECT_EQ(status_.MarqueeText, kQueueEmptyText);
  // From then on the empty-queue text stands, rotated by its leading blank.
  for (int i = 0; i < 3; ++i) {
    player_->mainTimerTimer();
    EXPECT_EQ(Shown(), Rotated(kQueueEmptyText));
  }
  Sent();

  // One song picked: the next tick notes the idle decoder, the one after
  // starts the song; the queue is then empty, so the same tick puts the
  // empty-queue text in place of the now-playing text.
  const std::size_t statements = catalogue_->Lines().size();
  queue_.push_back(Entry10023());
  player_->mainTimerTimer();
  EXPECT_THAT(Sent(), ElementsAre("GetValue h0 518 0"));
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
  player_->mainTimerTimer();
  EXPECT_EQ(Sent(), MovesOn(0, kPath10023, 1));
  EXPECT_TRUE(queue_.empty());
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleEmpty);
  EXPECT_EQ(status_.MarqueeText, kQueueEmptyText);
  EXPECT_EQ(status_.StreamHandle, 1);
  EXPECT_EQ(status_.StreamLength, 180000);
  EXPECT_EQ(status_.AudioChannelInfo, 2);
  EXPECT_EQ(status_.PlayPosition, 0u);
  EXPECT_EQ(status_.ChannelStep, 0);
  // The path statement, byte for byte: it ends in the blank after the number.
  EXPECT_EQ(terminal_->dm->playClientDataSet->CommandText(),
            "select PATH1 from vodinfo where SINGID=10023 ");
  EXPECT_THAT(StatementsAfter(statements),
              ElementsAre(HasSubstr("songDataSetProvider  \"select PATH1 from vodinfo where "
                                    "SINGID=10023 \"  rows=1")));

  // While it plays the state stands.
  player_->mainTimerTimer();
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_GE(status_.PlayPosition, 1u);
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleEmpty);
  // State 2 sets the empty-queue text on every tick, also while a song plays.
  EXPECT_EQ(Shown(), Rotated(kQueueEmptyText));
  EXPECT_EQ(status_.MarqueeText, kQueueEmptyText);

  // Two more songs; the next-song button starts the first at once.
  queue_ = {Entry10001(), Entry10002()};
  player_->controlBitBtn3Click();
  EXPECT_EQ(Sent(), StartRequests(kPath10001, 2));
  EXPECT_EQ(status_.PlayerState, PlayerState::kStarted);
  EXPECT_EQ(status_.MarqueeText, NowPlaying(Entry10001()));
  EXPECT_THAT(queue_, ElementsAre(Entry10002()));
  player_->mainTimerTimer();
  EXPECT_EQ(Shown(), Rotated(NowPlaying(Entry10001())));
  EXPECT_EQ(status_.PlayerState, PlayerState::kStarted);
  Sent();

  // It ends while the state is 0: one tick to note it, the next moves on.
  RunToEnd();
  player_->mainTimerTimer();
  EXPECT_THAT(Sent(), ElementsAre("GetValue h2 518 0"));
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
  player_->mainTimerTimer();
  EXPECT_EQ(Sent(), MovesOn(2, kPath10002, 3));
  EXPECT_TRUE(queue_.empty());
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleEmpty);
  EXPECT_EQ(status_.MarqueeText, kQueueEmptyText);
  EXPECT_EQ(queuePage_.redraws, 0);  // the queue view is not on screen
}

TEST_F(PlayerTest, ASongThatEndsInStateThreeIsFollowedOnTheSameTick) {
  queue_ = {Entry10001(), Entry10002(), Entry10023()};
  player_->mainTimerTimer();
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
  player_->mainTimerTimer();
  // Songs still wait, so the state goes back to 3 at once while 10001 plays.
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
  EXPECT_EQ(status_.MarqueeText, NowPlaying(Entry10001()));
  player_->mainTimerTimer();
  EXPECT_EQ(Shown(), Rotated(NowPlaying(Entry10001())));
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
  Sent();

  RunToEnd();
  player_->mainTimerTimer();
  EXPECT_EQ(Sent(), MovesOn(1, kPath10002, 2));
  EXPECT_THAT(queue_, ElementsAre(Entry10023()));
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
}

TEST_F(PlayerTest, PlayStartsOnlyAnIdlePlayerAndResumesAPausedOne) {
  // Play in state 4 with nothing queued: a look at the queue, nothing sent.
  player_->controlBitBtn1Click();
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(status_.PlayerState, PlayerState::kNotStarted);
  // Pause without a stream: nothing.
  player_->controlBitBtn2Click();
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(status_.PlayerState, PlayerState::kNotStarted);
  // Next song with an empty queue: nothing.
  player_->controlBitBtn3Click();
  EXPECT_TRUE(Sent().empty());

  queue_ = {Entry10023(), Entry10001()};
  player_->controlBitBtn1Click();
  EXPECT_EQ(Sent(), StartRequests(kPath10023, 1));
  EXPECT_EQ(status_.PlayerState, PlayerState::kStarted);
  // Play while a song plays (state 0) leaves the decoder alone.
  player_->controlBitBtn1Click();
  EXPECT_TRUE(Sent().empty());

  player_->controlBitBtn2Click();
  EXPECT_THAT(Sent(), ElementsAre("Pause h1 0 0"));
  EXPECT_EQ(status_.PlayerState, PlayerState::kPaused);
  // Paused, the position holds and is not 0: the tick leaves the state.
  player_->mainTimerTimer();
  const std::uint32_t held = status_.PlayPosition;
  EXPECT_GE(held, 1u);
  EXPECT_EQ(status_.PlayerState, PlayerState::kPaused);
  Sent();
  // Play resumes with control code 4 and starts nothing.
  player_->controlBitBtn1Click();
  EXPECT_THAT(Sent(), ElementsAre("Control h1 4 0"));
  EXPECT_EQ(status_.PlayerState, PlayerState::kStarted);
  EXPECT_THAT(queue_, ElementsAre(Entry10001()));

  // In state 3 play does not touch the decoder either.
  status_.PlayerState = PlayerState::kIdleWaiting;
  player_->controlBitBtn1Click();
  EXPECT_TRUE(Sent().empty());
  // In state 2 it starts the next song.
  status_.PlayerState = PlayerState::kIdleEmpty;
  player_->controlBitBtn1Click();
  EXPECT_EQ(Sent(), StartRequests(kPath10001, 2));
  EXPECT_EQ(status_.PlayerState, PlayerState::kStarted);
}

TEST_F(PlayerTest, ASongWithoutAPathStaysFirstAndIsTriedAgainEveryTick) {
  for (const std::string& missing : {EntryUnknown(), EntryEmptyPath()}) {
    SCOPED_TRACE(platform::GbkToUtf8(missing));
    queue_ = {missing, Entry10001()};
    status_.PlayerState = PlayerState::kIdleWaiting;
    const std::size_t statements = catalogue_->Lines().size();
    for (int tick = 0; tick < 3; ++tick) {
      player_->mainTimerTimer();
      // No stream is opened; the finished stream is ended on each try.
      EXPECT_THAT(Sent(), ElementsAre("GetValue h0 518 0", "EndStream h0 0 0"));
      EXPECT_EQ(status_.MarqueeText, kSongNotFoundText);
      if (tick > 0) EXPECT_EQ(Shown(), Rotated(kSongNotFoundText));
      EXPECT_EQ(queue_.size(), 2u);
      EXPECT_EQ(queue_.front(), missing);
      EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
    }
    const std::string number = platform::GbkToUtf8(missing.substr(0, 6));
    const auto sentStatements = StatementsAfter(statements);
    ASSERT_EQ(sentStatements.size(), 3u);
    for (const std::string& line : sentStatements) {
      EXPECT_THAT(line, HasSubstr("\"select PATH1 from vodinfo where SINGID=" + number + "\""));
    }

    // Next song on it: the text again, and the state is 0 all the same.
    player_->controlBitBtn3Click();
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(status_.PlayerState, PlayerState::kStarted);
    EXPECT_EQ(queue_.front(), missing);
  }

  // Once the guest removes it, the next one plays.
  queue_.erase(queue_.begin());
  status_.PlayerState = PlayerState::kIdleWaiting;
  player_->mainTimerTimer();
  EXPECT_EQ(Sent(), MovesOn(0, kPath10001, 1));
}

TEST_F(PlayerTest, ASongTheDecoderCannotOpenIsNamedAndTheQueueGoesOn) {
  constexpr const char* kBroken = R"(\\quorvod\quorvod\songs\10003-broken.mp4)";
  queue_ = {EntryBroken(), Entry10001()};
  status_.PlayerState = PlayerState::kIdleWaiting;
  // The tick tries it: every request as for any song, the stream handle 0.
  player_->mainTimerTimer();
  EXPECT_EQ(Sent(), MovesOn(0, kBroken, 0));
  EXPECT_EQ(status_.StreamHandle, 0);
  EXPECT_EQ(status_.MarqueeText, kCannotPlayText + platform::GbkToUtf16(EntryBroken()));
  EXPECT_THAT(queue_, ElementsAre(Entry10001()));
  EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
  // The next tick shows it and moves on to the next song.
  player_->mainTimerTimer();
  EXPECT_EQ(Shown(), Rotated(kCannotPlayText + platform::GbkToUtf16(EntryBroken())));
  EXPECT_EQ(Sent(), MovesOn(0, kPath10001, 1));
  EXPECT_EQ(status_.MarqueeText, kQueueEmptyText);

  // The last song of the queue: its text stands three seconds before the
  // empty-queue text.
  queue_ = {EntryBroken()};
  player_->controlBitBtn3Click();
  EXPECT_TRUE(queue_.empty());
  const std::u16string named = kCannotPlayText + platform::GbkToUtf16(EntryBroken());
  for (int tick = 1; tick <= 5; ++tick) {
    player_->mainTimerTimer();
    EXPECT_EQ(status_.PlayerState, PlayerState::kIdleEmpty);
    EXPECT_EQ(Shown(), Rotated(named, tick)) << tick;
  }
  player_->mainTimerTimer();
  EXPECT_EQ(status_.MarqueeText, kQueueEmptyText);
}

// The catalogue server dies while songs wait.
class PlayerWithDyingServer : public PlayerTest {};

TEST_F(PlayerWithDyingServer, EachTickStillScrollsAndReadsThePositionBeforeTheFailure) {
  const std::uint16_t port = catalogue_->Port();
  queue_ = {Entry10001(), Entry10023()};
  player_->controlBitBtn3Click();  // connected, one song played
  RunToEnd();
  status_.PlayerState = PlayerState::kIdleWaiting;
  catalogue_->Server().Kill();

  for (int tick = 0; tick < 3; ++tick) {
    const std::u16string before = status_.MarqueeText;
    std::string failure;
    try {
      player_->mainTimerTimer();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    // The failure goes to the caller (the window's error report), with a
    // text; the status line and the position read came first.
    EXPECT_FALSE(failure.empty());
    EXPECT_EQ(Shown(), Rotated(before));
    EXPECT_THAT(Sent(), ElementsAre("GetValue h1 518 0", "EndStream h1 0 0"));
    EXPECT_EQ(status_.MarqueeText, NowPlaying(Entry10023()));
    EXPECT_THAT(queue_, ElementsAre(Entry10023()));
    EXPECT_EQ(status_.PlayerState, PlayerState::kIdleWaiting);
    terminal_->Pump(50);
  }

  // The server comes back: the next tick plays the song.
  catalogue_->Server().Start(port);
  player_->mainTimerTimer();
  EXPECT_EQ(Sent(), MovesOn(1, kPath10023, 2));
  EXPECT_TRUE(queue_.empty());
}

}  // namespace
}  // namespace quor::player::test
