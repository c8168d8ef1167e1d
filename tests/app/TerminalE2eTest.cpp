// The real terminal under its own Xvfb: the window comes up 800x600 with its
// caption, and SIGTERM, SIGINT and the Ctrl+Alt+End chord each end the
// program through the window's close; without VODSet.ini the missing-file
// message comes first and the window follows it. The terminal talks to a
// real quorvod-server on its fixed port 211 over a small demo catalogue, as a
// room PC does; without that server it shows the connection message over
// its window. Against a server that never answers, the window is painted at
// once and usable after one reply bound.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <cstdio>
#include <thread>

#include "TerminalE2eSupport.h"
#include "platform/Display.h"
#include "platform/HotKeys.h"
#include "platform/ScreenSaver.h"

namespace {

using namespace quor::e2e;

class TerminalE2eTest : public TerminalFixture {
 protected:
  // A loopback address of this run's own, other than the server's.
  static std::string SilentAddress() {
    return "127." + std::to_string(2 + getpid() % 250) + "." +
           std::to_string((getpid() / 250) % 250 + 2) + ".7";
  }
  // Listens on port 211 of address and never accepts: the kernel completes
  // the connection, nobody ever reads or answers. The socket, or -1.
  static int ListenSilently(const std::string& address) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(211);
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(fd, 8) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  // The mean brightness (0..1) of a shot of screen 0, kept as name.png.
  double ScreenBrightness(const std::string& name) {
    const std::string shot = (room_ / (name + ".png")).string();
    X("import -window root '" + shot + "'");
    if (const char* keep = std::getenv("QUOR_E2E_SHOTS"))
      fs::copy_file(shot, fs::path(keep) / (name + ".png"), fs::copy_options::overwrite_existing);
    return std::atof(
        Capture("convert '" + shot + "' -colorspace Gray -format '%[fx:mean]' info:").c_str());
  }
};

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
  // Then the window; with every value empty there is no server address
  // either, so the connection message follows it, once.
  ExpectFullScreenWindow();
  const std::string second = X("xdotool search --sync --onlyvisible --name '^QuorVOD$'");
  ASSERT_FALSE(second.empty());
  X("xdotool windowfocus --sync " + second + " key Return");
  std::this_thread::sleep_for(500ms);
  EXPECT_TRUE(X("xdotool search --onlyvisible --name '^QuorVOD$'").empty());
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

// A server that takes the connection and never answers: the window is on
// screen at once, painted, and the guests can use it after one reply bound
// (the connection message), not after one for the connection and one for
// each dataset.
TEST_F(TerminalE2eTest, ASilentServerDelaysTheWindowByOneReplyBoundAtMost) {
  const std::string address = SilentAddress();
  const int silent = ListenSilently(address);
  ASSERT_GE(silent, 0) << "no port 211 on " << address;
  WriteConfiguration("", address);
  const auto started = std::chrono::steady_clock::now();
  Start();
  const std::string window = WaitForWindow();
  ASSERT_FALSE(window.empty());
  const auto mapped = std::chrono::steady_clock::now();
  // Painted: the screen is no longer black (a shot within a second).
  double brightness = 0;
  for (int i = 0; i < 10 && brightness < 0.05; ++i) {
    std::this_thread::sleep_for(100ms);
    brightness = ScreenBrightness("painted");
  }
  EXPECT_GT(brightness, 0.05);
  const auto painted = std::chrono::steady_clock::now();
  EXPECT_LT(painted - started, 15s);

  // One bound (30 s) later, the message; nothing before it.
  const std::string box = Capture("DISPLAY=" + display_ +
                                  " timeout 60 xdotool search --sync --onlyvisible --name "
                                  "'^QuorVOD$' 2>/dev/null");
  const auto boxed = std::chrono::steady_clock::now();
  ASSERT_FALSE(box.empty());
  const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(boxed - mapped);
  EXPECT_GT(waited, 25s);
  EXPECT_LT(waited, 45s);
  std::printf(
      "[ figures  ] silent server: window on screen %lld ms after start, painted; "
      "connection message %lld ms after the window\n",
      static_cast<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(mapped - started).count()),
      static_cast<long long>(waited.count()));
  X("xdotool windowfocus --sync " + box + " key Return");

  // Usable at once: a touch on 已点歌曲 (no server needed) changes the screen,
  // and no further message comes (no dataset is asked).
  std::this_thread::sleep_for(300ms);
  const double before = ScreenBrightness("before-touch");
  Touch(100, 424);
  std::this_thread::sleep_for(700ms);
  const double after = ScreenBrightness("after-touch");
  EXPECT_NE(before, after);
  std::this_thread::sleep_for(2s);
  EXPECT_TRUE(X("xdotool search --onlyvisible --name '^QuorVOD$'").empty());
  ::close(silent);
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
