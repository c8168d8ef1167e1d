#pragma once
// A counting wake-up descriptor (Linux eventfd) that a poll() can wait on
// beside a socket. Signal() may be called from any thread; Reset() is called
// by the waiting thread after it woke. The descriptor is non-blocking and
// close-on-exec; the object owns it.

namespace quor::platform {

class EventFd {
 public:
  EventFd();  // throws std::system_error when the kernel refuses a descriptor
  ~EventFd();
  EventFd(const EventFd&) = delete;
  EventFd& operator=(const EventFd&) = delete;

  int Fd() const { return fd_; }
  // Makes Fd() readable until the next Reset().
  void Signal() const;
  // Drains the counter: Fd() is no longer readable.
  void Reset() const;
  // True when signalled and not reset since (does not reset).
  bool IsSignalled() const;

 private:
  int fd_ = -1;
};

}  // namespace quor::platform
