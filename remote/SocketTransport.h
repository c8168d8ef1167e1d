#pragma once
// Moves whole DataBlocks over one TCP connection.
//
// The client side connects to Host (looked up by name) or Address (dotted),
// on Port; the server side wraps a socket it accepted. The socket object has
// its own lock around send, receive and disconnect. Any failure of a send or
// receive closes the socket, so Connected() turns false by itself.
//
// Waits are bounded: ReplyTimeout (ms, 0 = none) limits a connect, a stalled
// send, and every silence while a block is awaited or half read; an optional
// cancel descriptor ends any wait at once (closing the connection from
// another thread). A transport is used by one thread at a time.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Socket.h"
#include "remote/DataBlock.h"
#include "remote/Ref.h"

namespace quor::remote {

class ClassRegistry;

class ITransport : public IUnknown {
 public:
  // A descriptor that turns readable when input (or the peer's close) is
  // waiting; -1 when not connected.
  virtual int WaitEvent() = 0;
  virtual bool Connected() const = 0;
  // true connects (raising the connect failure), false closes.
  virtual void SetConnected(bool value) = 0;
  // The next whole block; with waitForInput false, none when nothing is
  // readable at once. The context is the one Send returned.
  virtual Ref<IDataBlock> Receive(bool waitForInput, std::int32_t context) = 0;
  // Writes one whole block; returns the context for Receive (0 here).
  virtual std::int32_t Send(const Ref<IDataBlock>& block) = 0;
};

inline constexpr int kDefaultReplyTimeout = 30000;

// How a received block may arrive. The defaults suit a terminal reading its
// server's answers; a server facing every machine of a network tightens them
// (SessionThread).
struct BlockLimits {
  // A block must be whole this long after its first byte arrived (0: no
  // bound); a peer that trickles it a byte at a time does not extend it.
  int wholeBlockMs = 0;
  // The largest block taken; a larger announced size closes the connection
  // before anything is allocated for it.
  std::int32_t maxBlockBytes = kMaxBlockSize;
  // The buffer is sized to at most this before the block's bytes arrive and
  // grows (doubling) only as they do, so a size word costs nothing by itself.
  std::size_t firstChunkBytes = std::size_t{8} << 20;
};

class SocketTransport final : public ITransport {
 public:
  // `registry` creates the interceptor named by InterceptGUID (may be null:
  // no interceptor); it must outlive the transport.
  explicit SocketTransport(const ClassRegistry* registry = nullptr);
  // The server side: a transport over an accepted, connected socket.
  static Ref<SocketTransport> FromConnectedSocket(platform::TcpSocket socket,
                                                  const ClassRegistry* registry = nullptr);
  ~SocketTransport() override;

  const std::string& Host() const { return host_; }
  const std::string& Address() const { return address_; }
  std::int32_t Port() const { return port_; }
  const std::string& InterceptGUID() const { return interceptGuid_; }
  // ESocketError "Can't change value while socket is active" while connected.
  void SetHost(const std::string& host);
  void SetAddress(const std::string& address);
  void SetPort(std::int32_t port);
  void SetInterceptGUID(const std::string& guidText) { interceptGuid_ = guidText; }

  int ReplyTimeout() const { return replyTimeout_; }
  void SetReplyTimeout(int ms) { replyTimeout_ = ms; }
  const BlockLimits& Limits() const { return limits_; }
  void SetLimits(const BlockLimits& limits) { limits_ = limits; }
  // The local address (dotted) a connection leaves from; "" lets the system
  // choose. Taken at the next connect.
  void SetSourceAddress(const std::string& address) { sourceAddress_ = address; }
  // A descriptor (for example an eventfd) whose readability ends every wait.
  void SetCancelEvent(int fd) { cancelFd_ = fd; }

  // The peer's "address:port", for logs ("" when not connected).
  std::string PeerAddress() const;

  int WaitEvent() override;
  bool Connected() const override;
  void SetConnected(bool value) override;
  Ref<IDataBlock> Receive(bool waitForInput, std::int32_t context) override;
  std::int32_t Send(const Ref<IDataBlock>& block) override;

  class ClientWinSocket;

 private:
  void Connect();
  void Disconnect();
  IDataIntercept* Interceptor();
  // Closes the socket and raises ESocketConnectionError(message).
  [[noreturn]] void Lost(const char* message);
  [[noreturn]] void LostWholeBlock();
  // Reads exactly `count` bytes unless the peer closes (fewer returned);
  // `deadline` (steady clock ms, 0 = none) bounds the whole block.
  std::size_t ReadFully(std::uint8_t* buffer, std::size_t count, std::int64_t deadline);
  int WaitLimit() const { return replyTimeout_ > 0 ? replyTimeout_ : -1; }

  const ClassRegistry* registry_;
  std::string host_;
  std::string address_;
  std::int32_t port_ = 211;
  std::string interceptGuid_;
  int replyTimeout_ = kDefaultReplyTimeout;
  BlockLimits limits_;
  std::string sourceAddress_;
  int cancelFd_ = -1;
  std::unique_ptr<ClientWinSocket> socket_;
  Ref<IDataIntercept> interceptor_;
  bool interceptorTried_ = false;
};

}  // namespace quor::remote
