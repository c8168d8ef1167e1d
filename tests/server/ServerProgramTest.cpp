// The quorvod-server program itself: its command line, its start line, its
// log, and a clean stop on SIGTERM.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Socket.h"
#include "remote/Remote.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

using ::testing::HasSubstr;

struct Program {
  pid_t pid = -1;
  int out = -1;  // the program's standard output
  int err = -1;  // and standard error
};

std::string ServerPath() {
  const char* dir = std::getenv("QUOR_BIN_DIR");
  return std::string(dir != nullptr ? dir : "bin") + "/quorvod-server";
}

// `input` is written to the program's standard input, which then ends.
Program Start(const std::vector<std::string>& args, const std::string& input = "") {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) return {};
  Program p;
  p.pid = fork();
  if (p.pid == 0) {
    dup2(in[0], 0);
    close(in[1]);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    std::vector<std::string> all = {ServerPath()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  if (!input.empty()) EXPECT_EQ(write(in[1], input.data(), input.size()), ssize_t(input.size()));
  close(in[1]);
  close(out[1]);
  close(err[1]);
  p.out = out[0];
  p.err = err[0];
  return p;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// Exit status, or -1 when the program did not end within the time.
int Wait(pid_t pid, int seconds = 20) {
  for (int i = 0; i < seconds * 20; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

class NoLoop final : public remote::MessageLoop {
 public:
  void Post(std::function<void()>) override {}
  void ReportError(const std::exception&) override {}
};

// Starts the program on the catalogue, reads one provider through it and
// stops it with SIGTERM; returns the log.
std::string ServeOnce(const testing::SqlTestCatalogue& catalogue, const char* dbOption) {
  const std::string log = "/tmp/quor-server-program-" + std::to_string(getpid()) + ".log";
  std::remove(log.c_str());
  Program p = Start(
      {dbOption, catalogue.ServerArgument(), "--port", "0", "--bind", "127.0.0.1", "--log", log});
  const std::string line = ReadLine(p.out);
  EXPECT_THAT(line, HasSubstr("listening on 127.0.0.1:")) << ReadAll(p.err);
  const auto at = line.find("127.0.0.1:");
  const int port = at == std::string::npos ? 0 : std::atoi(line.substr(at + 10).c_str());
  EXPECT_THAT(
      line,
      HasSubstr(catalogue.Kind() == testing::Flavour::Sqlite ? "(SQLite " : "(MariaDB 127.0.0.1:"));
  if (port > 0) {
    NoLoop loop;
    remote::SocketConnection connection(loop);
    connection.SetSupportCallbacks(false);
    connection.SetHost("127.0.0.1");
    connection.SetPort(port);
    connection.SetServerName("Lyrahub.DM");
    connection.SetConnected(true);
    auto app = connection.ServerInterface();
    std::int32_t recsOut = 0;
    remote::Variant params = remote::Variant::Null(), owner, packet;
    EXPECT_EQ(
        app->AS_GetRecords(u"singerDataSetProvider", -1, recsOut, 1, u"", params, owner, packet),
        remote::S_OK);
    EXPECT_EQ(recsOut, 3);
  }
  kill(p.pid, SIGTERM);
  EXPECT_EQ(Wait(p.pid), 0);
  close(p.out);
  close(p.err);
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(log.c_str());
  return text.str();
}

TEST(ServerProgramTest, ServesOnTheChosenPortLogsAndStopsOnSigterm) {
  std::string whyNot;
  auto catalogue = testing::SqlTestCatalogue::Create(testing::Flavour::Sqlite, "", whyNot);
  const std::string log = ServeOnce(*catalogue, "--db");
  EXPECT_THAT(log, HasSubstr("singerDataSetProvider  \"select * from singer\"  rows=3"));
  EXPECT_THAT(log, HasSubstr("SIGTERM: stopping"));
}

TEST(ServerProgramTest, ServesAMariaDbCatalogue) {
  std::string whyNot;
  auto catalogue = testing::SqlTestCatalogue::Create(testing::Flavour::MariaDb, "program", whyNot);
  if (!catalogue) GTEST_SKIP() << "MariaDB tests skipped: " << whyNot;
  const std::string log = ServeOnce(*catalogue, "--mariadb");
  EXPECT_THAT(log, HasSubstr("singerDataSetProvider  \"select * from singer\"  rows=3"));
}

TEST(ServerProgramTest, ExplainsEveryBadStart) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--db", "/nonexistent/catalogue.db", "--port", "0"},
       1,
       "Cannot open the catalogue database /nonexistent/catalogue.db"},
      {{"--frobnicate"}, 2, "unknown option \"--frobnicate\""},
      {{"--port", "70000"}, 2, "--port must be at most 65535"},
      {{"--port"}, 2, "--port needs a value"},
      {{"--mariadb", "postgres://x/y"}, 2, "Invalid MariaDB URI: postgres://x/y"},
      {{"--db", "a.db", "--mariadb", "mariadb://h/d"}, 2, "give either --db or --mariadb"},
      {{"--log", "/nonexistent/dir/server.log"}, 1, "Cannot open the log file"},
      {{"--console", "8211"}, 2, "--console needs ADDR:PORT (for example 127.0.0.1:8211)"},
      {{"--console", "localhost:8211"}, 2, "not \"localhost:8211\""},
      {{"--console", "127.0.0.1:65536"}, 2, "--console needs ADDR:PORT"},
      {{"--console-session-minutes", "0"}, 2, "must be at least 1"},
      {{"--add-staff", ""}, 2, "--add-staff needs a name"},
  };
  for (const Case& c : cases) {
    Program p = Start(c.args);
    const std::string err = ReadAll(p.err);
    EXPECT_EQ(Wait(p.pid), c.status) << c.message;
    EXPECT_THAT(err, HasSubstr(c.message));
    close(p.out);
    close(p.err);
  }
  Program help = Start({"--help"});
  EXPECT_THAT(ReadAll(help.out), HasSubstr("usage: quorvod-server"));
  EXPECT_EQ(Wait(help.pid), 0);
}

TEST(ServerProgramTest, SaysWhenThePortIsTaken) {
  std::string whyNot;
  auto catalogue = testing::SqlTestCatalogue::Create(testing::Flavour::Sqlite, "", whyNot);
  Program first = Start({"--db", catalogue->ServerArgument(), "--port", "0", "--bind", "127.0.0.1",
                         "--log", "/dev/null"});
  const std::string line = ReadLine(first.out);
  const std::string port = line.substr(line.find("127.0.0.1:") + 10, 5);
  Program second = Start({"--db", catalogue->ServerArgument(), "--port",
                          std::to_string(std::atoi(port.c_str())), "--bind", "127.0.0.1"});
  EXPECT_THAT(ReadAll(second.err), HasSubstr("Cannot listen on 127.0.0.1:"));
  EXPECT_EQ(Wait(second.pid), 1);
  kill(first.pid, SIGTERM);
  EXPECT_EQ(Wait(first.pid), 0);
}

int PortAfter(const std::string& line, const std::string& marker) {
  const auto at = line.find(marker);
  return at == std::string::npos ? 0 : std::atoi(line.substr(at + marker.size()).c_str());
}

// What a plain TCP connection gets back for one HTTP request (in 2 s).
std::string HttpAnswer(int port, const std::string& request) {
  platform::TcpSocket socket;
  if (socket.Create() != 0 || socket.Connect(platform::DottedToIPv4("127.0.0.1"),
                                             static_cast<std::uint16_t>(port), 2000, -1) != 0) {
    return "(no connection)";
  }
  int err = 0;
  socket.SendSome(request.data(), request.size(), err);
  std::string answer;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < end) {
    if (platform::WaitFd(socket.Fd(), POLLIN, 100, -1, err) != platform::WaitResult::kReady) {
      continue;
    }
    char buffer[4096];
    const ssize_t n = socket.RecvSome(buffer, sizeof buffer, err);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return answer;
}

TEST(ServerProgramTest, AddsStaffAccountsAndServesTheConsoleOnlyWhereTold) {
  std::string whyNot;
  auto catalogue = testing::SqlTestCatalogue::Create(testing::Flavour::Sqlite, "", whyNot);
  const std::string db = catalogue->ServerArgument();
  auto addStaff = [&](const std::string& name, const std::string& input) {
    Program p = Start({"--db", db, "--add-staff", name}, input);
    const std::string out = ReadAll(p.out) + ReadAll(p.err);
    const int status = Wait(p.pid);
    close(p.out);
    close(p.err);
    return std::make_pair(status, out);
  };
  EXPECT_EQ(addStaff("前台", "desk-pass-1\ndesk-pass-1\n"),
            std::make_pair(0, std::string("Staff account 前台 added\n")));
  EXPECT_EQ(addStaff("前台", "desk-pass-2\n"),
            std::make_pair(0, std::string("Staff account 前台: password changed\n")));
  EXPECT_THAT(addStaff("x", "desk-pass-1\nother-pass\n").second, HasSubstr("differ"));
  EXPECT_THAT(addStaff("x", "short\n").second, HasSubstr("at least 8 characters"));
  EXPECT_THAT(addStaff("x", "").second, HasSubstr("no password given"));
  EXPECT_EQ(addStaff("x", "").first, 1);

  Program p = Start({"--db", db, "--port", "0", "--bind", "127.0.0.1", "--console", "127.0.0.1:0",
                     "--log", "/dev/null"});
  const int terminalPort = PortAfter(ReadLine(p.out), "127.0.0.1:");
  const std::string consoleLine = ReadLine(p.out);
  EXPECT_THAT(consoleLine, HasSubstr("front-desk console on http://127.0.0.1:"));
  const int consolePort = PortAfter(consoleLine, "http://127.0.0.1:");
  ASSERT_GT(consolePort, 0);
  const std::string get = "GET /login HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
  EXPECT_THAT(HttpAnswer(consolePort, get), HasSubstr("HTTP/1.1 200 OK"));
  // The terminals' port speaks the data protocol only.
  EXPECT_EQ(HttpAnswer(terminalPort, get).find("HTTP/"), std::string::npos);

  // A second server cannot take the console's port.
  Program second = Start({"--db", db, "--port", "0", "--bind", "127.0.0.1", "--console",
                          "127.0.0.1:" + std::to_string(consolePort), "--log", "/dev/null"});
  EXPECT_THAT(ReadAll(second.err),
              HasSubstr("Cannot listen on 127.0.0.1:" + std::to_string(consolePort) +
                        " for the front-desk console"));
  EXPECT_EQ(Wait(second.pid), 1);
  kill(p.pid, SIGTERM);
  EXPECT_EQ(Wait(p.pid), 0);
  close(p.out);
  close(p.err);
}

TEST(ServerProgramTest, WarnsWhenNobodyCanLogInToTheConsole) {
  std::string whyNot;
  auto catalogue = testing::SqlTestCatalogue::Create(testing::Flavour::Sqlite, "", whyNot);
  Program p = Start({"--db", catalogue->ServerArgument(), "--port", "0", "--bind", "127.0.0.1",
                     "--console", "127.0.0.1:0", "--log", "/dev/null"});
  ReadLine(p.out);
  ReadLine(p.out);
  EXPECT_THAT(ReadLine(p.out), HasSubstr("no staff account yet"));
  kill(p.pid, SIGTERM);
  EXPECT_EQ(Wait(p.pid), 0);
  close(p.out);
  close(p.err);
}

}  // namespace
}  // namespace quor::server
