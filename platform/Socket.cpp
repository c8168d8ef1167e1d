#include "platform/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace quor::platform {

std::string NetErrorText(int code) {
  char buf[256];
  // The GNU strerror_r returns the text, which may or may not live in buf.
  const char* text = strerror_r(code, buf, sizeof buf);
  return text ? std::string(text) : std::string("Unknown error");
}

std::optional<std::uint32_t> LookupHostIPv4(const std::string& host, int& err) {
  err = 0;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &result);
  if (rc != 0 || result == nullptr) {
    err = rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
    if (result) freeaddrinfo(result);
    return std::nullopt;
  }
  std::uint32_t address = 0;
  for (addrinfo* a = result; a; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr) {
      sockaddr_in sin{};
      std::memcpy(&sin, a->ai_addr, sizeof sin);
      address = sin.sin_addr.s_addr;
      freeaddrinfo(result);
      return address;
    }
  }
  freeaddrinfo(result);
  err = EHOSTUNREACH;
  return std::nullopt;
}

std::uint32_t DottedToIPv4(const std::string& text) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) == 1) return a.s_addr;
  return 0xFFFFFFFFu;
}

std::string IPv4ToDotted(std::uint32_t address) {
  char buf[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = address;
  inet_ntop(AF_INET, &a, buf, sizeof buf);
  return buf;
}

WaitResult WaitFd(int fd, short events, int timeoutMs, int cancelFd, int& err) {
  WaitItem item{fd, events, false};
  return WaitFd(std::span<WaitItem>(&item, 1), timeoutMs, cancelFd, err);
}

WaitResult WaitFd(std::span<WaitItem> items, int timeoutMs, int cancelFd, int& err) {
  err = 0;
  // The waited descriptors, then the cancel descriptor when there is one.
  std::vector<pollfd> p;
  p.reserve(items.size() + 1);
  for (const WaitItem& item : items) p.push_back({item.fd, item.events, 0});
  if (cancelFd >= 0) p.push_back({cancelFd, POLLIN, 0});
  for (;;) {
    const int rc = poll(p.data(), p.size(), timeoutMs < 0 ? -1 : timeoutMs);
    if (rc < 0) {
      if (errno == EINTR) continue;  // a signal; the bound restarts, which only lengthens it
      err = errno;
      return WaitResult::kError;
    }
    if (rc == 0) return WaitResult::kTimeout;
    if (cancelFd >= 0 && (p.back().revents & POLLIN)) return WaitResult::kCancelled;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (p[i].revents & POLLNVAL) {
        err = EBADF;
        return WaitResult::kError;
      }
      // POLLERR and POLLHUP count as ready: the next call reports what happened.
      items[i].ready = p[i].revents != 0;
    }
    return WaitResult::kReady;
  }
}

TcpSocket::~TcpSocket() {
  Close();
}

TcpSocket::TcpSocket(TcpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

int TcpSocket::Create() {
  Close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return fd_ < 0 ? errno : 0;
}

int TcpSocket::Connect(std::uint32_t address, std::uint16_t port, int timeoutMs, int cancelFd) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = address;
  // A blocking connect cannot be bounded or cancelled, so connect without
  // blocking and wait for the outcome; the socket is blocking again after.
  const int flags = fcntl(fd_, F_GETFL);
  if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) < 0) return errno;
  int result = 0;
  if (connect(fd_, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) < 0) {
    result = errno;
    if (result == EINPROGRESS || result == EINTR) {
      int err = 0;
      switch (WaitFd(fd_, POLLOUT, timeoutMs, cancelFd, err)) {
        case WaitResult::kReady: {
          socklen_t len = sizeof result;
          if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &result, &len) < 0) result = errno;
          break;
        }
        case WaitResult::kTimeout:
          result = ETIMEDOUT;
          break;
        case WaitResult::kCancelled:
          result = ECANCELED;
          break;
        case WaitResult::kError:
          result = err;
          break;
      }
    }
  }
  if (fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) < 0 && result == 0) result = errno;
  if (result == 0) {
    const int one = 1;  // one request block is one write; do not hold it back
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  return result;
}

ssize_t TcpSocket::SendSome(const void* data, std::size_t count, int& err) {
  for (;;) {
    const ssize_t n = send(fd_, data, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    err = errno == EWOULDBLOCK ? EAGAIN : errno;
    return -1;
  }
}

ssize_t TcpSocket::RecvSome(void* data, std::size_t count, int& err) {
  for (;;) {
    const ssize_t n = recv(fd_, data, count, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EINTR) continue;
    err = errno == EWOULDBLOCK ? EAGAIN : errno;
    return -1;
  }
}

int TcpSocket::Close() {
  if (fd_ < 0) return 0;
  const int fd = std::exchange(fd_, -1);
  return close(fd) < 0 && errno != EINTR ? errno : 0;
}

int TcpSocket::BindLocal(std::uint32_t address) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = 0;
  sin.sin_addr.s_addr = address;
  return bind(fd_, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) < 0 ? errno : 0;
}

void TcpSocket::ShutdownSend() {
  if (fd_ >= 0) shutdown(fd_, SHUT_WR);
}

void TcpSocket::SetKeepAlive(int idleSeconds, int intervalSeconds, int count) {
  if (fd_ < 0) return;
  const int on = 1;
  setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
  setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
  setsockopt(fd_, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

std::string TcpSocket::PeerHost() const {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&sin), &len) < 0) return "";
  return IPv4ToDotted(sin.sin_addr.s_addr);
}

std::string TcpSocket::PeerAddress() const {
  sockaddr_in sin{};
  socklen_t len = sizeof sin;
  if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&sin), &len) < 0) return "";
  return IPv4ToDotted(sin.sin_addr.s_addr) + ":" + std::to_string(ntohs(sin.sin_port));
}

ListenSocket::~ListenSocket() {
  Close();
}

ListenSocket::ListenSocket(ListenSocket&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), port_(other.port_) {}

ListenSocket& ListenSocket::operator=(ListenSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    port_ = other.port_;
  }
  return *this;
}

int ListenSocket::Listen(const std::string& bindAddress, std::uint16_t port, int backlog,
                         const char** api) {
  Close();
  const char* failed = "socket";
  auto fail = [&](int code) {
    if (api) *api = failed;
    Close();
    return code;
  };
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return fail(errno);
  const int one = 1;
  setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_port = htons(port);
  sin.sin_addr.s_addr = INADDR_ANY;
  if (!bindAddress.empty() && inet_pton(AF_INET, bindAddress.c_str(), &sin.sin_addr) != 1) {
    failed = "inet_pton";
    return fail(EINVAL);
  }
  failed = "bind";
  if (bind(fd_, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) < 0) return fail(errno);
  failed = "listen";
  if (listen(fd_, backlog) < 0) return fail(errno);
  socklen_t len = sizeof sin;
  failed = "getsockname";
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len) < 0) return fail(errno);
  port_ = ntohs(sin.sin_port);
  return 0;
}

TcpSocket ListenSocket::Accept(int timeoutMs, int cancelFd, int& err) {
  err = 0;
  for (;;) {
    switch (WaitFd(fd_, POLLIN, timeoutMs, cancelFd, err)) {
      case WaitResult::kReady:
        break;
      case WaitResult::kTimeout:
        err = ETIMEDOUT;
        return TcpSocket();
      case WaitResult::kCancelled:
        err = ECANCELED;
        return TcpSocket();
      case WaitResult::kError:
        return TcpSocket();
    }
    const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return TcpSocket(fd);
    }
    // A connection that was reset before it was taken is not the listener's failure.
    if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
    err = errno;
    return TcpSocket();
  }
}

void ListenSocket::Close() {
  if (fd_ >= 0) close(std::exchange(fd_, -1));
  port_ = 0;
}

}  // namespace quor::platform
