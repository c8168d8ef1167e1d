#include "platform/EventFd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace quor::platform {

EventFd::EventFd() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

EventFd::~EventFd() {
  if (fd_ >= 0) close(fd_);
}

void EventFd::Signal() const {
  const std::uint64_t one = 1;
  // A full counter (2^64 - 2 signals) still leaves the descriptor readable,
  // which is all a signal promises, so the result needs no check.
  [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

void EventFd::Reset() const {
  std::uint64_t value = 0;
  [[maybe_unused]] const ssize_t n = read(fd_, &value, sizeof value);
}

bool EventFd::IsSignalled() const {
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

}  // namespace quor::platform
