// A guest's evening by the remote alone: the real terminal under Xvfb gets
// real X key events (xdotool) while another window holds the keyboard focus,
// with the sim driver logging every decoder request and a real server over
// a demo catalogue with singer photos. Each step is checked on the wire (the
// server's log), in the driver's log, or on screen. The same keys pressed
// with Ctrl do nothing.

#include <signal.h>

#include <fstream>
#include <sstream>

#include "TerminalE2eSupport.h"

namespace {

using namespace quor::e2e;

// The demo's key map: function keys and the numeric keypad stand in for the
// remote (Windows virtual-key codes).
constexpr const char* kKeyMap =
    "Play=118\nPause=119\nNextSong=120\nFast=121\nFastBack=122\nChannel=123\nVolup=107\n"
    "Voldown=109\nNum0=96\nNum1=97\nNum2=98\nNum3=99\nNum4=100\nNum5=101\nNum6=102\nNum7=103\n"
    "Num8=104\nNum9=105\nSelected=112\nPriority=113\nDelete=46\nPageup=33\nPagedown=34\n"
    "Affirm=13\nReturn=8\nup=38\ndown=40\nLeft=37\nRight=39\nVinoserve=114\n";

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RemoteE2eTest : public TerminalFixture {
 protected:
  static void SetUpTestSuite() {
    StartDisplay({"-screen", "0", "800x600x24"});
    StartServer({"--songs", "60", "--no-video"});  // with the singer photos
  }
  void SetUp() override {
    TerminalFixture::SetUp();
    if (IsSkipped()) return;
    const char* bin = std::getenv("QUOR_BIN_DIR");
    fs::copy(serverDir_ / "Photo", room_ / "Photo",
             fs::copy_options::overwrite_existing | fs::copy_options::recursive);
    fs::copy_file(fs::path(bin) / "libreeldrv-sim.so", room_ / "libreeldrv-sim.so");
    std::ofstream(room_ / "drivers.ini") << "[Drivers32]\nreeldrv=libreeldrv-sim.so\n";
    driverLog_ = room_ / "driver.log";
  }
  // The remote's key: one X key press (the window does not have the focus).
  void Press(const std::string& keys) {
    X("xdotool key --delay 120 " + keys);
    std::this_thread::sleep_for(400ms);
  }
  std::string DriverLog() { return ReadAll(driverLog_); }
  // Decoder requests of one command and value code seen so far.
  int Requests(unsigned command, unsigned code) {
    std::istringstream in(DriverLog());
    int n = 0;
    for (std::string line; std::getline(in, line);) {
      unsigned long message = 0, first = 0;
      if (std::sscanf(line.c_str(), "%lu %lu", &message, &first) == 2 && message == 0x4001 &&
          (first & 0xFF) == command && (first >> 16) == code)
        ++n;
    }
    return n;
  }
  fs::path driverLog_;
};

TEST_F(RemoteE2eTest, AGuestsEveningByRemoteAlone) {
  if (!NeedServer()) return;
  WriteConfiguration(kKeyMap);
  Start({"QUORVOD_DRIVER_LOG=" + driverLog_.string(),
         "QUORVOD_DRIVERS_INI=" + (room_ / "drivers.ini").string()});
  ASSERT_FALSE(WaitForWindow().empty());
  std::this_thread::sleep_for(800ms);
  // Another window takes the keyboard focus: the remote's keys are grabbed
  // system-wide and still reach the terminal.
  const pid_t other = Spawn({"xlogo", "-geometry", "200x200+10+10"}, {"DISPLAY=" + display_});
  const std::string otherId = X("xdotool search --sync --onlyvisible --class xlogo");
  ASSERT_FALSE(otherId.empty());
  X("xdotool windowfocus --sync " + otherId);

  Press("Left Return");        // the top of the menu, Affirm: the singer buttons
  Press("Right Down Return");  // 男歌星, down to 女歌星, Affirm
  std::string log = ServerLog();
  EXPECT_NE(log.find("select * from singer where SEX=\\\"女\\\""), std::string::npos) << log;
  Press("KP_2");  // the second singer's songs
  log = ServerLog();
  EXPECT_NE(log.find("from vodinfo where Singer=\\\""), std::string::npos) << log;
  Press("KP_1 KP_2");  // two songs queued
  Press("F1");         // Selected: the queue view
  Press("KP_2 F2");    // the second to the front (Priority)
  Press("F7");         // Play: the song moved to the front starts
  log = ServerLog();
  EXPECT_NE(log.find("select PATH1 from vodinfo where SINGID="), std::string::npos) << log;
  EXPECT_EQ(Requests(1, 1), 1) << DriverLog();    // one file opened
  EXPECT_EQ(Requests(3, 768), 1) << DriverLog();  // and started
  Press("KP_Add");                                // Volup
  EXPECT_EQ(Requests(9, 1283), 1) << DriverLog();
  Press("F12");  // Channel
  EXPECT_EQ(Requests(9, 1297) + Requests(8, 36), 1) << DriverLog();
  Press("F9");  // NextSong: the other queued song
  EXPECT_EQ(Requests(1, 1), 2) << DriverLog();
  Press("F3");  // Vinoserve: the room request
  log = ServerLog();
  EXPECT_NE(log.find("ROOM REQUEST"), std::string::npos) << log;

  // With Ctrl held the same keys do nothing (the timer's position reads go
  // on; nothing else reaches the driver or the server).
  const std::string before = ServerLog();
  auto actions = [&] {
    return std::vector<int>{Requests(1, 1),  Requests(9, 1283), Requests(9, 1297),
                            Requests(8, 36), Requests(4, 0),    Requests(3, 4)};
  };
  const std::vector<int> counted = actions();
  Press("ctrl+F3 ctrl+F7 ctrl+F8 ctrl+F9 ctrl+KP_Add ctrl+F12 ctrl+F1 ctrl+Left");
  EXPECT_EQ(ServerLog(), before);
  EXPECT_EQ(actions(), counted);

  kill(other, SIGTERM);
  WaitExit(other, 5s);
  kill(pid_, SIGTERM);
  EXPECT_EQ(WaitTerminal(), std::optional<int>(0));
}

}  // namespace
