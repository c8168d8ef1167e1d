#include "drivers/mpv/MpvProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace quor::drivers {
namespace {

using Clock = std::chrono::steady_clock;

// Children killed whose end was not seen yet (a process stuck in the kernel
// on a dead share dies only when the kernel lets it): reaped later, never
// waited for.
std::vector<pid_t>& Unreaped() {
  static std::vector<pid_t> pids;
  return pids;
}

void ReapLeftOvers() {
  auto& pids = Unreaped();
  for (auto it = pids.begin(); it != pids.end();) {
    const pid_t done = ::waitpid(*it, nullptr, WNOHANG);
    it = done == 0 ? it + 1 : pids.erase(it);
  }
}

int RemainingMs(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
  return true;
}

std::string Describe(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "stopped";
}

}  // namespace

std::string FindProgram(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = std::getenv("PATH");
  const std::string folders =
      path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= folders.size()) {
    const std::size_t colon = std::min(folders.find(':', from), folders.size());
    const std::string folder = folders.substr(from, colon - from);
    const std::string file = (folder.empty() ? "." : folder) + "/" + name;
    struct stat info {};
    if (::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(file.c_str(), X_OK) == 0)
      return file;
    from = colon + 1;
  }
  return {};
}

MpvProcess::MpvProcess(PlayerCommand command) : command_(std::move(command)) {}

MpvProcess::~MpvProcess() {
  Kill();
}

bool MpvProcess::Start() {
  if (pid_ > 0) return true;
  ReapLeftOvers();
  problem_.clear();
  const std::string program = FindProgram(command_.program);
  if (program.empty()) {
    problem_ = "no program " + command_.program + " to play with";
    return false;
  }
  int pair[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    problem_ = std::string("socketpair: ") + std::strerror(errno);
    return false;
  }
  const int options = ::memfd_create("quorvod-mpv-options", MFD_CLOEXEC);
  const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (options < 0 || devnull < 0 || !WriteAll(options, command_.includeText) ||
      ::lseek(options, 0, SEEK_SET) != 0) {
    problem_ = std::string("cannot pass the options: ") + std::strerror(errno);
    for (int fd : {pair[0], pair[1], options, devnull})
      if (fd >= 0) ::close(fd);
    return false;
  }

  // Everything the child needs is built here: after fork it may only make
  // async-signal-safe calls.
  std::vector<std::string> args = {program};
  args.insert(args.end(), command_.arguments.begin(), command_.arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string_view entry(*e);
    const std::string name(entry.substr(0, entry.find('=')));
    if (command_.environment.count(name) == 0) env.emplace_back(entry);
  }
  for (const auto& [name, value] : command_.environment) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int sig : {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP})
      ::sigaction(sig, &standard, nullptr);
    // Out of the way of 3 and 4 first, then into place (dup2 clears
    // close-on-exec on the copies).
    const int ipc = ::fcntl(pair[1], F_DUPFD, 10);
    const int include = ::fcntl(options, F_DUPFD, 10);
    if (ipc < 0 || include < 0 || ::dup2(devnull, 0) < 0 || ::dup2(ipc, 3) < 0 ||
        ::dup2(include, 4) < 0)
      ::_exit(127);
    ::syscall(SYS_close_range, 5u, ~0u, 0u);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  const int forkError = errno;
  ::close(pair[1]);
  ::close(options);
  ::close(devnull);
  if (child < 0) {
    ::close(pair[0]);
    problem_ = std::string("fork: ") + std::strerror(forkError);
    return false;
  }
  pid_ = child;
  socket_ = pair[0];
  return true;
}

bool MpvProcess::Write(std::string_view bytes) {
  if (socket_ < 0) return false;
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  while (!bytes.empty()) {
    const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A player that reads nothing for a second is as good as gone.
      pollfd p{socket_, POLLOUT, 0};
      if (RemainingMs(deadline) == 0 || ::poll(&p, 1, RemainingMs(deadline)) < 0) return false;
      continue;
    }
    return false;
  }
  return true;
}

long MpvProcess::Read(char* buffer, std::size_t size, int timeoutMs) {
  if (socket_ < 0) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pollfd p{socket_, POLLIN, 0};
    const int ready = ::poll(&p, 1, RemainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return -1;
    if (ready == 0) return 0;
    const ssize_t got = ::recv(socket_, buffer, size, MSG_DONTWAIT);
    if (got > 0) return static_cast<long>(got);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return -1;  // closed, or reset
  }
}

void MpvProcess::Stop(int graceMs) {
  if (pid_ <= 0) return;
  if (Write("{\"command\":[\"quit\"]}\n")) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
    char sink[4096];
    // The player closes its end as it quits.
    while (RemainingMs(deadline) > 0 && Read(sink, sizeof sink, RemainingMs(deadline)) > 0) {
    }
    while (RemainingMs(deadline) > 0) {
      Reap(false);
      if (pid_ <= 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  Kill();
}

void MpvProcess::Kill() {
  CloseSocket();
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  // Dies at once, unless it is stuck in the kernel (a dead network share):
  // then it is reaped later, and nothing waits for it here.
  for (int i = 0; i < 50 && pid_ > 0; ++i) {
    Reap(false);
    if (pid_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (pid_ > 0) {
    Unreaped().push_back(pid_);
    pid_ = -1;
  }
}

void MpvProcess::Reap(bool wait) {
  if (pid_ <= 0) return;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, wait ? 0 : WNOHANG);
  if (done == 0) return;
  if (done == pid_) {
    if (problem_.empty()) problem_ = Describe(status);
  }
  // done < 0: not our child any more (SIGCHLD ignored by the program).
  pid_ = -1;
  CloseSocket();
}

void MpvProcess::CloseSocket() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

}  // namespace quor::drivers
