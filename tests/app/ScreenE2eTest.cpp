// The screens in the real terminal under Xvfb, touched with xdotool at the
// controls' places: what reaches the real server, and that a stop request
// ends the program cleanly while a message box is up or while the number
// search pauses inside its handler.

#include <signal.h>

#include <chrono>

#include "TerminalE2eSupport.h"

namespace {

using namespace quor::e2e;

// Middles of the controls the tests touch.
constexpr int kSelectX = 100;
constexpr int kSelectY[] = {0, 106, 168, 233, 296, 360, 424};
constexpr int kCategoryX = 237;

class ScreenE2eTest : public TerminalFixture {
 protected:
  void KeypadKey(int key) {  // keypad key 1..10 (10 is the 0 key)
    if (key <= 5)
      Touch(300 + 28 + 48 * (key - 1), 88);
    else
      Touch(300 + 29 + 48 * (key - 6), 140);
  }
  void StartAndWait() {
    Start();
    ASSERT_FALSE(WaitForWindow().empty());
    std::this_thread::sleep_for(500ms);
  }
};

TEST_F(ScreenE2eTest, ATouchedSingerAndSongReachTheServer) {
  if (!NeedServer()) return;
  WriteConfiguration();
  StartAndWait();
  Touch(kSelectX, kSelectY[1]);  // 歌星点歌
  Touch(kCategoryX, 115);        // 男歌星
  Touch(368, 129);               // the first photo
  Touch(397, 92);                // its first song
  const std::string log = ServerLog();
  EXPECT_NE(log.find("select * from singer where SEX=\\\"男\\\""), std::string::npos) << log;
  EXPECT_NE(log.find("select SINGID,SINGNAME,SINGER from vodinfo where SINGER=\\\""),
            std::string::npos)
      << log;
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

TEST_F(ScreenE2eTest, SigtermDuringTheNumberPauseEndsTheProgramAtOnce) {
  if (!NeedServer()) return;
  WriteConfiguration();
  StartAndWait();
  Touch(kSelectX, kSelectY[4]);              // 拼音/编号
  Touch(kCategoryX, 392);                    // 编号
  for (int i = 0; i < 5; ++i) KeypadKey(9);  // 99999: no such song
  // The handler now pauses for a second with the digits on screen.
  const auto asked = std::chrono::steady_clock::now();
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
  EXPECT_NE(ServerLog().find("where SINGID=99999"), std::string::npos);
}

TEST_F(ScreenE2eTest, CtrlAltEndDuringTheNumberPauseEndsTheProgram) {
  if (!NeedServer()) return;
  WriteConfiguration();
  StartAndWait();
  Touch(kSelectX, kSelectY[4]);
  Touch(kCategoryX, 392);
  for (int i = 0; i < 4; ++i) KeypadKey(9);
  X("xdotool mousemove 521 88 click 1 key ctrl+alt+End");
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

TEST_F(ScreenE2eTest, SigtermWhileTheConnectionMessageIsUpEndsTheProgram) {
  // An address where nothing listens: the connection message comes.
  WriteConfiguration("", "127.0.0.77");
  Start();
  ASSERT_FALSE(X("xdotool search --sync --onlyvisible --name '^QuorVOD$'").empty());
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

}  // namespace
