// quorvod-load as a venue's night would run it, in small: the real
// quorvod-server program with a demo catalogue, simulated terminals from
// their own loopback addresses, and each of the hostile floods, the start
// storm, and room requests through a server killed and one stalled. Each
// run reports in JSON; the figures of the full-size runs are in
// docs/reliability.md.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string Bin(const std::string& name) {
  return std::string(std::getenv("QUOR_BIN_DIR")) + "/" + name;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A number of the JSON report: the first `"key": number` after `after`.
double Number(const std::string& json, const std::string& key, const std::string& after = "") {
  const std::size_t from = after.empty() ? 0 : json.find("\"" + after + "\"");
  if (from == std::string::npos) return -1;
  std::smatch m;
  const std::string rest = json.substr(from);
  if (!std::regex_search(rest, m, std::regex("\"" + key + "\": (-?[0-9.]+)"))) return -1;
  return std::stod(m[1]);
}

class LoadToolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::string(fs::temp_directory_path() / ("quor-load-" + std::to_string(getpid())));
    fs::remove_all(*dir_);
    const std::string make = "QT_QPA_PLATFORM=offscreen " + Bin("quorvod-make-demo") + " " + *dir_ +
                             " --songs 2000 --no-video --no-photos >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
  }
  static void TearDownTestSuite() {
    fs::remove_all(*dir_);
    delete dir_;
  }

  // Runs the tool against a server it starts itself; the exit status, and
  // the JSON report in json_.
  int Run(const std::string& args, const std::string& serverArgs = "") {
    const std::string report = *dir_ + "/report.json";
    fs::remove(report);
    const std::string cmd = Bin("quorvod-load") + " " + args + " --json " + report + " -- " +
                            Bin("quorvod-server") + " --db " + *dir_ +
                            "/catalogue.db --port 0 --bind 127.0.0.1 --log " + *dir_ +
                            "/server.log " + serverArgs + " > " + *dir_ + "/out.txt 2>&1";
    const int rc = std::system(cmd.c_str());
    json_ = ReadFile(report);
    output_ = ReadFile(*dir_ + "/out.txt");
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  static std::string* dir_;
  std::string json_;
  std::string output_;
};
std::string* LoadToolTest::dir_ = nullptr;

TEST_F(LoadToolTest, TerminalsAreServedWhileOneMachineFloodsTheServer) {
  // Each way one machine can try to take the places: every terminal is
  // served throughout, without one error.
  for (const char* flood : {"idle", "half-header", "trickle", "big-header"}) {
    SCOPED_TRACE(flood);
    EXPECT_EQ(Run(std::string("--terminals 12 --seconds 2 --ramp-ms 500 --interval-ms 300 "
                              "--flood ") +
                  flood + " --flood-connections 80"),
              0)
        << output_;
    EXPECT_EQ(Number(json_, "errors"), 0) << output_;
    EXPECT_EQ(Number(json_, "count", "start"), 12) << output_;
    EXPECT_GT(Number(json_, "opened", "flood"), 80) << output_;  // refused, and again
  }
}

TEST_F(LoadToolTest, TerminalsAreServedWhileOthersSendTheCostliestStatements) {
  EXPECT_EQ(Run("--terminals 6 --seconds 4 --ramp-ms 500 --interval-ms 300 --flood costly "
                "--flood-connections 4",
                "--statement-seconds 2"),
            0)
      << output_;
  EXPECT_EQ(Number(json_, "errors"), 0) << output_;
  EXPECT_GT(Number(json_, "failed", "flood"), 0) << output_;  // stopped by their bounds
}

TEST_F(LoadToolTest, AStartStormIsServed) {
  EXPECT_EQ(Run("--terminals 40 --seconds 0 --ramp-ms 2000 --start-only"), 0) << output_;
  EXPECT_EQ(Number(json_, "count", "start"), 40) << output_;
  EXPECT_EQ(Number(json_, "errors"), 0) << output_;
  EXPECT_LT(Number(json_, "max", "start"), 2000) << output_;
}

TEST_F(LoadToolTest, RoomRequestsAreStoredOnceThroughAKilledAndAStalledServer) {
  // Killed mid-request and started again: presses whose answers were lost
  // are sent again and stored once (exit status 4 otherwise).
  EXPECT_EQ(Run("--terminals 6 --seconds 5 --ramp-ms 300 --interval-ms 60 --room-percent 60 "
                "--kill-every 2 --allow-errors"),
            0)
      << output_;
  EXPECT_GT(Number(json_, "pressed", "roomRequests"), 20) << output_;
  EXPECT_EQ(Number(json_, "stored", "roomRequests"), Number(json_, "pressed", "roomRequests"));
  // Stalled past the terminals' wait, then going on with what it had read;
  // the first stall (3 to 5 s) leaves the terminals 3 s to send their kept
  // presses again, time enough on a machine busy with other tests.
  EXPECT_EQ(Run("--terminals 4 --seconds 9 --ramp-ms 300 --interval-ms 60 --room-percent 60 "
                "--stall-every 3 --stall-ms 2000 --reply-timeout-ms 1000 --allow-errors"),
            0)
      << output_;
  EXPECT_EQ(Number(json_, "stored", "roomRequests"), Number(json_, "pressed", "roomRequests"));
  EXPECT_THAT(ReadFile(*dir_ + "/server.log"),
              ::testing::HasSubstr("room request already stored, acknowledged again"));
}

}  // namespace
