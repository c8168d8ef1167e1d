#pragma once
// The real terminal under a private Xvfb, as the end-to-end tests drive it:
// a display of its own (probed free), quorvod-server on port 211 of a
// loopback address of its own (so two runs of the suite never meet) over a
// small demo catalogue, and a room folder with the program, its photo
// fallback, the engine and VODSet.ini pointing at that server. xdotool does
// the touching and typing.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quor::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Starts a program with extra environment variables (they replace inherited
// ones of the same name); its pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv);
// Waits for the process to end; its exit status, or nullopt on timeout.
std::optional<int> WaitExit(pid_t pid, std::chrono::milliseconds timeout);
// Runs a shell command; its output without the trailing newline.
std::string Capture(const std::string& command);

class TerminalFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    StartDisplay({"-screen", "0", "800x600x24"});
    StartServer({"--songs", "50", "--no-video", "--no-photos"});
  }
  // A private Xvfb with these screen arguments, on a display number nobody
  // uses (no socket, no lock file).
  static void StartDisplay(const std::vector<std::string>& screens) {
    for (int n = 93; n < 140 && display_.empty(); ++n) {
      if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n)) ||
          fs::exists("/tmp/.X" + std::to_string(n) + "-lock"))
        continue;
      const std::string name = ":" + std::to_string(n);
      std::vector<std::string> args = {"Xvfb", name};
      args.insert(args.end(), screens.begin(), screens.end());
      args.insert(args.end(), {"-nolisten", "tcp"});
      xvfb_ = Spawn(args, {});
      for (int i = 0; i < 100 && !fs::exists("/tmp/.X11-unix/X" + std::to_string(n)); ++i)
        std::this_thread::sleep_for(50ms);
      if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n))) display_ = name;
    }
  }
  static void TearDownTestSuite() {
    if (server_ > 0) {
      kill(server_, SIGTERM);
      WaitExit(server_, 5s);
    }
    if (xvfb_ > 0) {
      kill(xvfb_, SIGTERM);
      WaitExit(xvfb_, 5s);
    }
    if (!serverDir_.empty()) fs::remove_all(serverDir_);
    // Each test suite of the program starts its own display and server.
    server_ = xvfb_ = -1;
    display_.clear();
    serverDir_.clear();
    serverNote_.clear();
  }

  // The application server on port 211 (the terminal's fixed port) over a
  // small demo catalogue made with these options of quorvod-make-demo (its
  // videos, if any, under serverDir_/media); serverNote_ says why not.
  static void StartServer(const std::vector<std::string>& demoOptions) {
    const char* bin = std::getenv("QUOR_BIN_DIR");
    if (bin == nullptr) return;
    serverDir_ = fs::temp_directory_path() / ("quorvod-e2e-server-" + std::to_string(getpid()));
    fs::remove_all(serverDir_);
    std::vector<std::string> make = {std::string(bin) + "/quorvod-make-demo", serverDir_.string()};
    make.insert(make.end(), demoOptions.begin(), demoOptions.end());
    const pid_t maker = Spawn(make, {"QT_QPA_PLATFORM=offscreen"});
    if (maker < 0 || WaitExit(maker, 60s) != std::optional<int>(0)) {
      serverNote_ = "the demo catalogue could not be made";
      return;
    }
    const std::string log = (serverDir_ / "server.log").string();
    // Port 211 on a loopback address of this run's own: another run of the
    // suite, or a demo on 127.0.0.1, never takes it.
    serverAddress_ = "127." + std::to_string(2 + getpid() % 250) + "." +
                     std::to_string((getpid() / 250) % 250 + 2) + ".9";
    server_ =
        Spawn({std::string(bin) + "/quorvod-server", "--db", (serverDir_ / "catalogue.db").string(),
               "--port", "211", "--bind", serverAddress_, "--log", log},
              {});
    for (int i = 0; i < 100; ++i) {
      std::ifstream in(log);
      const std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
      if (text.find("listening") != std::string::npos) return;
      if (WaitExit(server_, 50ms)) break;  // it ended: the port is taken or not ours
    }
    server_ = -1;
    serverNote_ =
        "quorvod-server could not listen on " + serverAddress_ + ":211 (taken, or not root)";
  }

  void SetUp() override {
    if (display_.empty()) GTEST_SKIP() << "no Xvfb";
    const char* bin = std::getenv("QUOR_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    // A room folder of its own: the program, its photo fallback, its
    // configuration; the folder name holds a blank.
    room_ = fs::temp_directory_path() / ("quorvod e2e " + std::to_string(getpid()));
    fs::remove_all(room_);
    fs::create_directories(room_ / "Photo");
    fs::copy_file(fs::path(bin) / "quorvod", room_ / "quorvod");
    fs::copy_file(fs::path(bin) / "Photo" / "NONAME.BMP", room_ / "Photo" / "NONAME.BMP");
    fs::copy_file(fs::path(bin) / "libdsengine.so", room_ / "libdsengine.so");
  }
  // The cases that need the terminal to reach its server.
  bool NeedServer() {
    if (server_ > 0) return true;
    ADD_FAILURE() << "no application server: " << serverNote_;
    return false;
  }
  void TearDown() override {
    // A terminal still running after a failed case is ended here; one that
    // was reaped already (pid_ -1) is never signalled again.
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      WaitExit(pid_, 5s);
    }
    fs::remove_all(room_);
  }

  // Waits for the terminal to end and reaps it; its exit status.
  std::optional<int> WaitTerminal() {
    const std::optional<int> status = WaitExit(pid_, 20s);
    if (status) pid_ = -1;
    return status;
  }

  // VODSet.ini naming the test's server (or another address), and the
  // KeyMap lines given.
  void WriteConfiguration(const std::string& keyMap = "", const std::string& serverIp = "") {
    std::ofstream(room_ / "VODSet.ini")
        << "[LyraboxSet]\nRoomName=Room1\nServerIP="
        << (serverIp.empty() ? serverAddress_ : serverIp) << "\n[KeyMap]\n"
        << keyMap;
  }
  // A touch at a point of the window (client coordinates are screen ones:
  // the window fills the screen from its top-left corner).
  void Touch(int x, int y) {
    X("xdotool mousemove " + std::to_string(x) + " " + std::to_string(y) + " click 1");
    std::this_thread::sleep_for(250ms);
  }
  // The server's request log so far.
  static std::string ServerLog() {
    std::ifstream in(serverDir_ / "server.log");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  std::string X(const std::string& args) {
    return Capture("DISPLAY=" + display_ + " timeout 30 " + args + " 2>/dev/null");
  }
  // Starts the terminal of the room folder; extraEnv is added to its
  // environment.
  void Start(std::vector<std::string> extraEnv = {}) {
    // libxkbcommon-x11 (under Qt's xcb platform) hands strndup a buffer that
    // is not NUL-terminated, which is legal but trips ASan's strict string
    // checks; the terminal runs with them off, every other option kept.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions =
        std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":strict_string_checks=0";
    extraEnv.insert(extraEnv.end(), {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb", asanOptions});
    pid_ = Spawn({(room_ / "quorvod").string()}, extraEnv);
    ASSERT_GT(pid_, 0);
  }
  // Waits until the main window is mapped; its id.
  std::string WaitForWindow() {
    return X("xdotool search --sync --onlyvisible --name 'QuorVOD客户端'");
  }
  void ExpectFullScreenWindow() {
    const std::string id = WaitForWindow();
    ASSERT_FALSE(id.empty());
    const std::string geometry = X("xdotool getwindowgeometry " + id);
    EXPECT_NE(geometry.find("Geometry: 800x600"), std::string::npos) << geometry;
    EXPECT_NE(geometry.find("Position: 0,0"), std::string::npos) << geometry;
  }

  static inline std::string display_;
  static inline pid_t xvfb_ = -1;
  static inline pid_t server_ = -1;
  static inline fs::path serverDir_;
  static inline std::string serverAddress_;
  static inline std::string serverNote_;
  fs::path room_;
  pid_t pid_ = -1;
};

}  // namespace quor::e2e
