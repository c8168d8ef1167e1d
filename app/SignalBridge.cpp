#include "app/SignalBridge.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "ui/QtChild.h"

namespace quor::app {
namespace {

// The pipe's ends; written by the handler only (async-signal-safe write).
int gPipe[2] = {-1, -1};

extern "C" void OnSignal(int signo) {
  const int saved = errno;
  const char byte = static_cast<char>(signo);
  // A full pipe means a close request is already pending; dropping is fine.
  [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

SignalBridge::SignalBridge(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error("cannot create the signal pipe");
  notifier_ = ui::MakeChild<QSocketNotifier>(this, gPipe[0], QSocketNotifier::Read);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char buf[64];
    while (::read(gPipe[0], buf, sizeof buf) > 0) {
    }
    onSignal_();
  });
  struct sigaction sa {};
  sa.sa_handler = &OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

SignalBridge::~SignalBridge() {
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
  ::close(gPipe[0]);
  ::close(gPipe[1]);
  gPipe[0] = gPipe[1] = -1;
}

}  // namespace quor::app
