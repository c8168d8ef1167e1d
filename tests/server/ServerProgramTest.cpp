// The quorvod-server program itself: its command line, its start line, its
// log, and a clean stop on SIGTERM.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

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

Program Start(const std::vector<std::string>& args) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  Program p;
  p.pid = fork();
  if (p.pid == 0) {
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
    EXPECT_EQ(app->AS_GetRecords(u"singerDataSetProvider", -1, recsOut, 1, u"select * from singer",
                                 params, owner, packet),
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
      {{"--block-seconds", "0"}, 2, "--block-seconds must be at least 1"},
      {{"--max-result-mb", "500"}, 2, "--max-result-mb must be at most 200"},
      {{"--max-per-address", "x"}, 2, "--max-per-address needs a number, not \"x\""},
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

}  // namespace
}  // namespace quor::server
