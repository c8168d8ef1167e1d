#pragma once
// POSIX TCP sockets for the remote data path: the only place above the C
// library that calls socket(), connect(), send(), recv(), poll() and the name
// lookup. Functions report failures as errno codes (0 = success) and never
// throw; the remote layer turns codes into its own messages with
// NetErrorText(). IPv4 only: addresses are 32-bit values in network byte
// order, as the wire protocol's peers use them.
//
// A TcpSocket or ListenSocket is used by one thread at a time; the cancel
// descriptor passed to a wait may be signalled from any thread.

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quor::platform {

// The system's text for an errno code ("Connection refused").
std::string NetErrorText(int code);

// The first IPv4 address of a name lookup of `host` (a name or a dotted
// address), or nullopt when the lookup finds none; `err` gets the errno-style
// reason (EHOSTUNREACH for "no such name").
std::optional<std::uint32_t> LookupHostIPv4(const std::string& host, int& err);

// Dotted "a.b.c.d" text to an address; 0xFFFFFFFF (255.255.255.255) for text
// that is not a dotted address, as the classic conversion does.
std::uint32_t DottedToIPv4(const std::string& text);

// Dotted text of an address in network byte order.
std::string IPv4ToDotted(std::uint32_t address);

// Result of a bounded wait on a socket.
enum class WaitResult { kReady, kTimeout, kCancelled, kError };

// timeoutMs < 0 waits without limit; cancelFd < 0 means no cancel descriptor.
// A signal does not end the wait (the bound restarts, which only lengthens
// it); kError comes with the errno code in `err` (EBADF for a descriptor that
// is not open). Error and hang-up conditions count as ready: the next call on
// the descriptor reports them.
WaitResult WaitFd(int fd, short events, int timeoutMs, int cancelFd, int& err);

// One descriptor of a wait on several: `events` as poll() takes them;
// after a kReady wait, `ready` tells whether this one is.
struct WaitItem {
  int fd = -1;
  short events = 0;
  bool ready = false;
};
// The same wait on several descriptors at once; kCancelled wins over them.
WaitResult WaitFd(std::span<WaitItem> items, int timeoutMs, int cancelFd, int& err);

class TcpSocket {
 public:
  TcpSocket() = default;
  explicit TcpSocket(int fd) : fd_(fd) {}  // takes ownership of a connected or accepted fd
  ~TcpSocket();
  TcpSocket(TcpSocket&& other) noexcept;
  TcpSocket& operator=(TcpSocket&& other) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // A new IPv4 stream socket (close-on-exec); errno code or 0.
  int Create();
  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // Binds the socket to a local address (network order) before Connect, so
  // that the connection leaves from it (one machine playing many); 0 or the
  // errno code.
  int BindLocal(std::uint32_t address);

  // Connects to address:port (network order address, host order port),
  // waiting at most timeoutMs (< 0: no limit) and returning early with
  // ECANCELED when cancelFd becomes readable. Returns 0 or the errno code.
  int Connect(std::uint32_t address, std::uint16_t port, int timeoutMs, int cancelFd);

  // One send()/recv() without blocking: the byte count, or -1 with `err` set
  // (EAGAIN when the call would block). Send never raises SIGPIPE.
  ssize_t SendSome(const void* data, std::size_t count, int& err);
  ssize_t RecvSome(void* data, std::size_t count, int& err);

  // Closes the descriptor; 0 or the errno code of close().
  int Close();
  // No more sends: the peer reads what was sent, then the end.
  void ShutdownSend();

  // TCP keep-alive: a peer that vanished without a word (power cut, cable)
  // is found after about idle + interval * count seconds of silence.
  void SetKeepAlive(int idleSeconds, int intervalSeconds, int count);

  // The peer's dotted address and port ("" when unknown), and the address
  // alone.
  std::string PeerAddress() const;
  std::string PeerHost() const;

 private:
  int fd_ = -1;
};

// A listening IPv4 socket for the application server and the loopback tests.
class ListenSocket {
 public:
  ListenSocket() = default;
  ~ListenSocket();
  ListenSocket(ListenSocket&& other) noexcept;
  ListenSocket& operator=(ListenSocket&& other) noexcept;
  ListenSocket(const ListenSocket&) = delete;
  ListenSocket& operator=(const ListenSocket&) = delete;

  // Binds to bindAddress (dotted, "" or "0.0.0.0" = every interface) and port
  // (0 = a free port chosen by the system, read back with Port()) and listens.
  // Returns 0 or the errno code; `api` names the call that failed.
  int Listen(const std::string& bindAddress, std::uint16_t port, int backlog = 64,
             const char** api = nullptr);
  bool Valid() const { return fd_ >= 0; }
  int Fd() const { return fd_; }
  std::uint16_t Port() const { return port_; }

  // Waits up to timeoutMs (< 0: no limit) for a connection, returning early
  // when cancelFd becomes readable. An invalid socket with err = ETIMEDOUT or
  // ECANCELED when none came.
  TcpSocket Accept(int timeoutMs, int cancelFd, int& err);

  void Close();

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace quor::platform
