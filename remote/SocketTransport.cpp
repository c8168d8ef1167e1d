#include "remote/SocketTransport.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "remote/ClassRegistry.h"
#include "remote/Errors.h"

namespace quor::remote {
namespace {
constexpr char kNotReceived[] = "Expected return value not received";
constexpr char kReadError[] = "Error reading from socket";

std::int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::string SocketErrorText(int code, const char* api) {
  return Format("Windows socket error: %s (%d), on API '%s'", platform::NetErrorText(code).c_str(),
                code, api);
}
}  // namespace

// The socket object: one TCP socket, its connected flag and address, and the
// lock that serialises send, receive and disconnect on it.
class SocketTransport::ClientWinSocket {
 public:
  ClientWinSocket() = default;
  explicit ClientWinSocket(platform::TcpSocket socket)
      : socket_(std::move(socket)), connected_(socket_.Valid()) {}

  bool Connected() const {
    const std::lock_guard lock(lock_);
    return connected_;
  }
  int Fd() const {
    const std::lock_guard lock(lock_);
    return socket_.Fd();
  }
  std::string PeerAddress() const {
    const std::lock_guard lock(lock_);
    return socket_.PeerAddress();
  }

  // Opens the connection (Active := true).
  void Open(const std::string& host, const std::string& address, std::int32_t port, int timeoutMs,
            int cancelFd, const std::string& source) {
    const std::lock_guard lock(lock_);
    if (connected_) throw ESocketError("Socket already open");
    if (socket_.Create() != 0) throw ESocketError("Can't create new socket");
    try {
      if (!source.empty()) {
        if (const int rc = socket_.BindLocal(platform::DottedToIPv4(source)); rc != 0)
          throw ESocketError(SocketErrorText(rc, "bind"));
      }
      std::uint32_t ip = 0;
      if (!host.empty()) {
        int err = 0;
        // A name that finds nothing gives 0.0.0.0, which no connect reaches.
        ip = platform::LookupHostIPv4(host, err).value_or(0);
      } else if (!address.empty()) {
        ip = platform::DottedToIPv4(address);
      } else {
        throw ESocketError("No address specified");
      }
      // On this system a connect to 0.0.0.0 would reach the local host; the
      // address is not a usable peer, so it fails as it does elsewhere.
      const int rc =
          ip == 0 ? EADDRNOTAVAIL
                  : socket_.Connect(ip, static_cast<std::uint16_t>(port), timeoutMs, cancelFd);
      if (rc != 0) throw ESocketError(SocketErrorText(rc, "connect"));
      connected_ = true;
    } catch (...) {
      socket_.Close();
      throw;
    }
  }

  void Close() {
    const std::lock_guard lock(lock_);
    CloseLocked();
  }

  // Writes every byte; nothing when not connected.
  void SendBuf(const std::uint8_t* data, std::size_t count, int timeoutMs, int cancelFd) {
    const std::lock_guard lock(lock_);
    if (!connected_) return;
    while (count > 0) {
      int err = 0;
      const ssize_t n = socket_.SendSome(data, count, err);
      if (n > 0) {
        data += n;
        count -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && err == EAGAIN) {
        switch (platform::WaitFd(socket_.Fd(), POLLOUT, timeoutMs, cancelFd, err)) {
          case platform::WaitResult::kReady:
            continue;
          case platform::WaitResult::kTimeout:
            err = ETIMEDOUT;
            break;
          case platform::WaitResult::kCancelled:
            err = ECANCELED;
            break;
          case platform::WaitResult::kError:
            break;
        }
      }
      if (err == 0) err = EPIPE;
      CloseLocked();
      throw ESocketError(SocketErrorText(err, "send"));
    }
  }

  // One read: the count, 0 when the peer closed or the socket is not
  // connected, -1 when nothing is there yet.
  ssize_t ReceiveBuf(std::uint8_t* data, std::size_t count) {
    const std::lock_guard lock(lock_);
    if (!connected_) return 0;
    int err = 0;
    const ssize_t n = socket_.RecvSome(data, count, err);
    if (n >= 0 || err == EAGAIN) return n;
    CloseLocked();
    throw ESocketError(SocketErrorText(err, "recv"));
  }

 private:
  void CloseLocked() {
    const bool wasOpen = socket_.Valid();
    connected_ = false;
    const int rc = socket_.Close();
    if (wasOpen && rc != 0) throw ESocketError(SocketErrorText(rc, "closesocket"));
  }

  // Guarded by lock_.
  mutable std::mutex lock_;
  platform::TcpSocket socket_;
  bool connected_ = false;
};

SocketTransport::SocketTransport(const ClassRegistry* registry) : registry_(registry) {}

Ref<SocketTransport> SocketTransport::FromConnectedSocket(platform::TcpSocket socket,
                                                          const ClassRegistry* registry) {
  Ref<SocketTransport> t(new SocketTransport(registry));
  t->socket_ = std::make_unique<ClientWinSocket>(std::move(socket));
  return t;
}

SocketTransport::~SocketTransport() {
  try {
    Disconnect();
  } catch (const std::exception&) {  // a failing close has no one left to tell
  }
}

void SocketTransport::SetHost(const std::string& host) {
  if (Connected()) throw ESocketError("Can't change value while socket is active");
  host_ = host;
}

void SocketTransport::SetAddress(const std::string& address) {
  if (Connected()) throw ESocketError("Can't change value while socket is active");
  address_ = address;
}

void SocketTransport::SetPort(std::int32_t port) {
  if (Connected()) throw ESocketError("Can't change value while socket is active");
  port_ = port;
}

std::string SocketTransport::PeerAddress() const {
  return socket_ ? socket_->PeerAddress() : std::string();
}

int SocketTransport::WaitEvent() {
  return socket_ ? socket_->Fd() : -1;
}

bool SocketTransport::Connected() const {
  return socket_ && socket_->Connected();
}

void SocketTransport::SetConnected(bool value) {
  if (value == Connected()) return;
  if (value) {
    Connect();
  } else {
    Disconnect();
  }
}

void SocketTransport::Connect() {
  if (address_.empty() && host_.empty()) throw ESocketConnectionError("No address specified");
  socket_ = std::make_unique<ClientWinSocket>();
  try {
    socket_->Open(host_, address_, port_, WaitLimit(), cancelFd_, sourceAddress_);
  } catch (...) {
    socket_.reset();
    throw;
  }
}

void SocketTransport::Disconnect() {
  std::unique_ptr<ClientWinSocket> socket = std::move(socket_);
  if (socket) socket->Close();
}

IDataIntercept* SocketTransport::Interceptor() {
  if (!interceptor_ && !interceptGuid_.empty() && !interceptorTried_) {
    interceptorTried_ = true;
    try {
      const std::optional<platform::Guid> id = platform::Guid::Parse(interceptGuid_);
      if (id && registry_)
        interceptor_ = QueryInterface<IDataIntercept>(registry_->CreateObject(*id));
    } catch (const std::exception&) {
      // The transport goes on without an interceptor.
    }
  }
  return interceptor_.get();
}

void SocketTransport::LostWholeBlock() {
  Lost(Format("A block did not arrive whole within %d ms of its first byte", limits_.wholeBlockMs)
           .c_str());
}

void SocketTransport::Lost(const char* message) {
  try {
    Disconnect();
  } catch (const std::exception&) {  // the connection is gone either way
  }
  throw ESocketConnectionError(message);
}

std::size_t SocketTransport::ReadFully(std::uint8_t* buffer, std::size_t count,
                                       std::int64_t deadline) {
  std::size_t got = 0;
  while (got < count) {
    const ssize_t n = socket_ ? socket_->ReceiveBuf(buffer + got, count - got) : 0;
    if (n == 0) return got;
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      continue;
    }
    // Nothing yet: wait for more, at most ReplyTimeout of silence and never
    // past the block's deadline.
    int limit = WaitLimit();
    if (deadline != 0) {
      const std::int64_t left = deadline - SteadyMs();
      if (left <= 0) LostWholeBlock();
      if (limit < 0 || left < limit) limit = static_cast<int>(left);
    }
    int err = 0;
    switch (platform::WaitFd(socket_->Fd(), POLLIN, limit, cancelFd_, err)) {
      case platform::WaitResult::kReady:
        break;
      case platform::WaitResult::kTimeout:
        if (deadline != 0 && SteadyMs() >= deadline) LostWholeBlock();
        Lost(kNotReceived);
      case platform::WaitResult::kCancelled:
        Lost(kReadError);
      case platform::WaitResult::kError:
        Lost(platform::NetErrorText(err).c_str());
    }
  }
  return got;
}

Ref<IDataBlock> SocketTransport::Receive(bool waitForInput, std::int32_t /*context*/) {
  if (!Connected()) throw ESocketConnectionError(kReadError);
  int err = 0;
  switch (platform::WaitFd(socket_->Fd(), POLLIN, waitForInput ? WaitLimit() : 0, cancelFd_, err)) {
    case platform::WaitResult::kReady:
      break;
    case platform::WaitResult::kTimeout:
      if (!waitForInput) return nullptr;
      Lost(kNotReceived);  // a late reply would put the stream out of step: close it
    case platform::WaitResult::kCancelled:
      Lost(kReadError);
    case platform::WaitResult::kError:
      Lost(platform::NetErrorText(err).c_str());
  }
  std::uint8_t header[kBlockHeaderSize];
  // The first byte is there: from now on the whole block has its bound.
  const std::int64_t deadline = limits_.wholeBlockMs > 0 ? SteadyMs() + limits_.wholeBlockMs : 0;
  // Every failure below leaves the stream out of step, so it closes the socket.
  if (ReadFully(header, 4, deadline) != 4) Lost(kReadError);
  std::int32_t signature = 0;
  std::memcpy(&signature, header, 4);
  if (!IsValidSignature(signature)) Lost("Invalid data packet");
  if (ReadFully(header + 4, 4, deadline) != 4) Lost(kReadError);
  std::int32_t size = 0;
  std::memcpy(&size, header + 4, 4);
  if (size < 0 || size > kMaxBlockSize) Lost("Invalid data packet");
  if (size > limits_.maxBlockBytes) {
    Lost(Format("A block of %d bytes is larger than the %d bytes this connection takes", size,
                limits_.maxBlockBytes)
             .c_str());
  }

  Ref<DataBlock> block = DataBlock::Create();
  block->SetSignature(signature);
  // Straight into the block's buffer, after the header. A peer may announce
  // far more than it sends: the buffer is sized to at most the first chunk
  // at first and grows (doubling) only as the bytes really arrive, so a
  // silent or lying peer costs little memory. The bytes are not cleared
  // first: every one of them is read over. A terminal's first chunk holds
  // every result packet a catalogue sends in practice, read with no copy.
  const auto want = static_cast<std::size_t>(size);
  std::size_t sized = std::min(want, std::max<std::size_t>(limits_.firstChunkBytes, 1));
  std::size_t have = 0;
  block->SetSizeForFill(static_cast<std::int32_t>(sized));
  for (;;) {
    have += ReadFully(block->Memory() + kBlockHeaderSize + have, sized - have, deadline);
    if (have != sized) Lost(kReadError);
    if (sized == want) break;
    sized = std::min(want, sized * 2);
    block->SetSizeForFill(static_cast<std::int32_t>(sized));
  }
  if (IDataIntercept* interceptor = Interceptor()) interceptor->Incoming(*block);
  return block;
}

std::int32_t SocketTransport::Send(const Ref<IDataBlock>& block) {
  if (!block) return 0;
  if (IDataIntercept* interceptor = Interceptor()) interceptor->Outgoing(*block);
  if (!socket_) return 0;
  // Memory() refreshes the Size field; header and data go from one buffer.
  const std::uint8_t* data = block->Memory();
  const std::size_t count = static_cast<std::size_t>(block->Size()) + kBlockHeaderSize;
  socket_->SendBuf(data, count, WaitLimit(), cancelFd_);
  return 0;
}

}  // namespace quor::remote
