// The server as this tool sees it: a process whose memory and threads /proc
// tells, and, when the tool starts it, a child it can kill, stall and start
// again.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "Load.h"

namespace quor::load {

std::optional<ProcessSample> SampleProcess(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  if (!in) return std::nullopt;
  ProcessSample s;
  for (std::string line; std::getline(in, line);) {
    auto value = [&](const char* key) { return std::stol(line.substr(std::strlen(key))); };
    if (line.rfind("VmRSS:", 0) == 0) s.rssKb = value("VmRSS:");
    if (line.rfind("VmHWM:", 0) == 0) s.peakKb = value("VmHWM:");
    if (line.rfind("RssAnon:", 0) == 0) s.anonKb = value("RssAnon:");
    if (line.rfind("RssFile:", 0) == 0) s.fileKb = value("RssFile:");
    if (line.rfind("Threads:", 0) == 0) s.threads = static_cast<int>(value("Threads:"));
  }
  // /proc/PID/stat: fields 14 and 15 (user, system time in clock ticks)
  // follow the command name, which ends at the last ')'.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close != std::string::npos) {
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip;
    unsigned long long user = 0, system = 0;
    fields >> user >> system;
    s.cpuSeconds = static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }
  return s;
}

ServerChild::ServerChild(std::vector<std::string> argv) : argv_(std::move(argv)) {
  if (argv_.empty()) throw std::invalid_argument("no server command given");
}

ServerChild::~ServerChild() {
  try {
    Stop();
  } catch (const std::exception&) {
  }
}

void ServerChild::Start() {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<char*> args;
  for (std::string& a : argv_) args.push_back(a.data());
  args.push_back(nullptr);
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    dup2(out[1], 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  // "quorvod-server listening on ADDR:PORT (...)"
  std::string line;
  char c = 0;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  const std::size_t on = line.find(" on ");
  const std::size_t colon = on == std::string::npos ? on : line.find(':', on);
  if (colon == std::string::npos) {
    Stop();
    throw std::runtime_error("the server did not start: " + (line.empty() ? argv_[0] : line));
  }
  port_ = static_cast<std::uint16_t>(std::stoi(line.substr(colon + 1)));
}

void ServerChild::Restart() {
  // On the port it had: the terminals know no other.
  auto at = std::find(argv_.begin(), argv_.end(), std::string("--port"));
  if (at == argv_.end() || at + 1 == argv_.end()) {
    argv_.push_back("--port");
    argv_.push_back(std::to_string(port_));
  } else {
    *(at + 1) = std::to_string(port_);
  }
  for (int attempt = 0;; ++attempt) {
    try {
      Start();
      return;
    } catch (const std::runtime_error&) {
      if (attempt == 20) throw;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
  }
}

void ServerChild::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

void ServerChild::Stall(int ms) {
  Pause();
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  Resume();
}

void ServerChild::Pause() {
  if (pid_ > 0) kill(pid_, SIGSTOP);
}

void ServerChild::Resume() {
  if (pid_ > 0) kill(pid_, SIGCONT);
}

void ServerChild::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGCONT);
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace quor::load
