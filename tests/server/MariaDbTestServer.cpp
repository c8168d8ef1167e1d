#include "tests/server/MariaDbTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <mysql.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace quor::server::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kUser[] = "quor";
constexpr char kPassword[] = "quor-test-pw";

std::string FindProgram(const std::string& name) {
  std::vector<std::string> dirs = {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"};
  if (const char* path = std::getenv("PATH")) {
    std::stringstream list(path);
    std::string dir;
    while (std::getline(list, dir, ':')) dirs.insert(dirs.begin(), dir);
  }
  for (const auto& dir : dirs) {
    const fs::path candidate = fs::path(dir) / name;
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

// Starts a program with its output in `log`; it gets SIGKILL should this
// process die first, so no server outlives a crashed test.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    dup2(fd, 1);
    dup2(fd, 2);
    close(fd);
  }
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

std::string Tail(const std::string& file) {
  std::ifstream in(file);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return all.size() > 600 ? all.substr(all.size() - 600) : all;
}

unsigned FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  unsigned port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

struct AdminConnection {
  MYSQL* mysql = nullptr;
  explicit AdminConnection(const std::string& socket) {
    mysql = mysql_init(nullptr);
    const unsigned timeout = 2;
    mysql_optionsv(mysql, MYSQL_OPT_CONNECT_TIMEOUT, &timeout);
    mysql_optionsv(mysql, MYSQL_SET_CHARSET_NAME, "utf8mb4");
    if (mysql_real_connect(mysql, nullptr, "root", "", nullptr, 0, socket.c_str(),
                           CLIENT_MULTI_STATEMENTS) == nullptr) {
      const std::string why = mysql_error(mysql);
      mysql_close(mysql);
      mysql = nullptr;
      throw std::runtime_error("cannot connect as root: " + why);
    }
  }
  ~AdminConnection() { mysql_close(mysql); }

  void Run(const std::string& sql) const {
    if (mysql_real_query(mysql, sql.data(), sql.size()) != 0) {
      throw std::runtime_error(std::string(mysql_error(mysql)) + " in: " + sql);
    }
    do {  // drain every result of a multi-statement text
      if (MYSQL_RES* res = mysql_store_result(mysql)) mysql_free_result(res);
    } while (mysql_next_result(mysql) == 0);
    if (mysql_errno(mysql) != 0) {
      throw std::runtime_error(std::string(mysql_error(mysql)) + " in: " + sql);
    }
  }
};

}  // namespace

MariaDbTestServer* MariaDbTestServer::Shared(std::string& whyNot) {
  static std::string failure;
  static std::unique_ptr<MariaDbTestServer> server = [] {
    mysql_library_init(0, nullptr, nullptr);
    std::unique_ptr<MariaDbTestServer> s(new MariaDbTestServer());
    if (!s->Start(failure)) s.reset();
    return s;
  }();
  whyNot = failure;
  return server.get();
}

bool MariaDbTestServer::Start(std::string& whyNot) {
  const std::string installer = FindProgram("mariadb-install-db");
  const std::string daemon = FindProgram("mariadbd");
  if (installer.empty() || daemon.empty()) {
    whyNot = "MariaDB is not installed (mariadb-install-db and mariadbd not found)";
    return false;
  }
  char pattern[] = "/tmp/quor-mariadb-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    whyNot = "cannot create a temporary folder";
    return false;
  }
  folder_ = pattern;
  socket_ = folder_ + "/mariadb.sock";
  const std::string data = folder_ + "/data";
  const std::string log = folder_ + "/server.log";
  const bool root = geteuid() == 0;

  std::vector<std::string> install = {installer, "--no-defaults", "--datadir=" + data,
                                      "--auth-root-authentication-method=normal", "--skip-test-db"};
  if (root) install.push_back("--user=root");
  const pid_t installPid = Spawn(install, log);
  int status = 0;
  if (installPid < 0 || waitpid(installPid, &status, 0) != installPid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    whyNot = "mariadb-install-db failed: " + Tail(log);
    return false;
  }

  for (int attempt = 0; attempt < 3; ++attempt) {
    port_ = FreeLoopbackPort();
    std::vector<std::string> args = {daemon,
                                     "--no-defaults",
                                     "--datadir=" + data,
                                     "--socket=" + socket_,
                                     "--port=" + std::to_string(port_),
                                     "--bind-address=127.0.0.1",
                                     "--pid-file=" + folder_ + "/mariadb.pid",
                                     "--tmpdir=" + folder_,
                                     "--skip-name-resolve",
                                     "--skip-log-bin",
                                     "--max-connections=700",
                                     "--innodb-buffer-pool-size=32M",
                                     "--innodb-flush-log-at-trx-commit=2",
                                     "--innodb-doublewrite=0"};
    if (root) args.push_back("--user=root");
    pid_ = Spawn(args, log);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      try {
        AdminConnection admin(socket_);
        admin.Run(std::string("create user if not exists '") + kUser +
                  "'@'127.0.0.1' identified by '" + kPassword + "'");
        return true;
      } catch (const std::exception&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
  }
  whyNot = "mariadbd did not start: " + Tail(log);
  return false;
}

MariaDbTestServer::~MariaDbTestServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  if (!folder_.empty()) {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
}

MariaDbAddress MariaDbTestServer::Address(const std::string& database) const {
  MariaDbAddress address;
  address.host = "127.0.0.1";
  address.port = port_;
  address.user = kUser;
  address.password = kPassword;
  address.database = database;
  return address;
}

void MariaDbTestServer::Admin(const std::string& sql) const {
  AdminConnection(socket_).Run(sql);
}

std::string MariaDbTestServer::AdminValue(const std::string& sql) const {
  AdminConnection admin(socket_);
  if (mysql_real_query(admin.mysql, sql.data(), sql.size()) != 0) {
    throw std::runtime_error(std::string(mysql_error(admin.mysql)) + " in: " + sql);
  }
  MYSQL_RES* res = mysql_store_result(admin.mysql);
  if (res == nullptr) throw std::runtime_error("no result for: " + sql);
  MYSQL_ROW row = mysql_fetch_row(res);
  std::string value = row != nullptr && row[0] != nullptr ? row[0] : "";
  mysql_free_result(res);
  return value;
}

void MariaDbTestServer::FreshDatabase(const std::string& name) const {
  Admin("drop database if exists `" + name + "`; create database `" + name +
        "` character set utf8mb4; grant all on `" + name + "`.* to '" + kUser + "'@'127.0.0.1'");
}

}  // namespace quor::server::testing
