// The real terminal under its own Xvfb: the window comes up 800x600 with its
// caption, and SIGTERM, SIGINT and the Ctrl+Alt+End chord each end the
// program through the window's close; without VODSet.ini the missing-file
// message comes first and the window follows it. The terminal talks to a
// real quorvod-server on its fixed port 211 over a small demo catalogue, as a
// room PC does; without that server it would first show the connection
// message.

#include <signal.h>

#include <thread>

#include "TerminalE2eSupport.h"
#include "platform/Display.h"
#include "platform/HotKeys.h"
#include "platform/ScreenSaver.h"

namespace {

using namespace quor::e2e;

class TerminalE2eTest : public TerminalFixture {};

TEST_F(TerminalE2eTest, WindowComesUpFullScreenAndSigtermEndsIt) {
  if (!NeedServer()) return;
  WriteConfiguration();
  Start();
  ExpectFullScreenWindow();
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

TEST_F(TerminalE2eTest, SigintEndsIt) {
  if (!NeedServer()) return;
  WriteConfiguration();
  Start();
  ASSERT_FALSE(WaitForWindow().empty());
  kill(pid_, SIGINT);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

TEST_F(TerminalE2eTest, CtrlAltEndEndsIt) {
  if (!NeedServer()) return;
  WriteConfiguration();
  Start();
  ASSERT_FALSE(WaitForWindow().empty());
  std::this_thread::sleep_for(300ms);
  X("xdotool key ctrl+alt+End");
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

TEST_F(TerminalE2eTest, MissingConfigurationIsReportedThenTheWindowComes) {
  Start();
  const std::string box = X("xdotool search --sync --onlyvisible --name '^QuorVOD$'");
  ASSERT_FALSE(box.empty());
  // The window does not come before the message is acknowledged.
  EXPECT_TRUE(X("xdotool search --onlyvisible --name 'QuorVOD客户端'").empty());
  X("xdotool windowfocus --sync " + box + " key Return");
  // With every value empty there is no server address either: the
  // connection message follows, once, and then the window.
  const std::string second = X("xdotool search --sync --onlyvisible --name '^QuorVOD$'");
  ASSERT_FALSE(second.empty());
  X("xdotool windowfocus --sync " + second + " key Return");
  ExpectFullScreenWindow();
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

TEST_F(TerminalE2eTest, GrabbedKeysArriveAloneAndNotWithAModifier) {
  ::setenv("DISPLAY", display_.c_str(), 1);
  const auto keys = quor::platform::CreateHotKeys();
  ASSERT_GE(keys->EventDescriptor(), 0);
  ASSERT_TRUE(keys->Register(1006, 0, 107));   // keypad plus
  ASSERT_TRUE(keys->Register(1000, 0, 0x74));  // F5
  ASSERT_TRUE(keys->Register(2000, quor::platform::kModControl | quor::platform::kModAlt, 0x23));
  // A code given to a second remote key works for the first only.
  EXPECT_FALSE(keys->Register(1007, 0, 107));
  EXPECT_FALSE(keys->Register(1008, 0, 0));  // the code 0 registers nothing
  // A key that another client holds is refused, and the process lives on.
  const auto other = quor::platform::CreateHotKeys();
  EXPECT_FALSE(other->Register(1, 0, 107));
  EXPECT_TRUE(other->Register(2, 0, 0x75));  // F6 is free
  X("xdotool key KP_Add F5 ctrl+F5 ctrl+alt+End");
  std::vector<int> got;
  for (int i = 0; i < 40 && got.size() < 3; ++i) {
    std::this_thread::sleep_for(50ms);
    for (int id : keys->TakePressed()) got.push_back(id);
  }
  EXPECT_EQ(got, (std::vector<int>{1006, 1000, 2000}));
  EXPECT_TRUE(keys->Unregister(1000));
  X("xdotool key F5");
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(keys->TakePressed().empty());
}

TEST_F(TerminalE2eTest, DisplayModeAndScreenSaverLayersWorkOnARealServer) {
  ::setenv("DISPLAY", display_.c_str(), 1);
  // The virtual screen offers exactly its own mode: asking for it succeeds
  // without a change, asking for a mode it lacks changes nothing.
  EXPECT_TRUE(quor::platform::SetDisplayMode(800, 600));
  EXPECT_FALSE(quor::platform::SetDisplayMode(1234, 567));
  EXPECT_NE(X("xdpyinfo").find("dimensions:    800x600 pixels"), std::string::npos);
  EXPECT_TRUE(quor::platform::SuppressScreenSaver());
}

TEST_F(TerminalE2eTest, SigtermDuringTheMissingFileMessageEndsTheProgram) {
  Start();
  ASSERT_FALSE(X("xdotool search --sync --onlyvisible --name '^QuorVOD$'").empty());
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

}  // namespace
