#pragma once
// The server side of one connection: wraps an accepted socket, reads request
// blocks and hands them to its own interpreter, which answers on the same
// socket. The server object a terminal asks for is created through the class
// registry (with the may-create check on RegistryFlag, "Sockets" = "1").
//
// Run() occupies the calling thread (one thread per connection); Stop() may
// be called from any thread and ends Run() promptly. A server object may call
// back into the terminal from within a request (a nested call): the session
// then waits for that reply, handling any request the terminal sends first.

#include <atomic>
#include <memory>
#include <string>

#include "platform/EventFd.h"
#include "platform/Socket.h"
#include "remote/DataBlockInterpreter.h"
#include "remote/SocketTransport.h"

namespace quor::remote {

class ClassRegistry;

class ServerSession final : private ISendDataBlock {
 public:
  // `registry` must outlive the session.
  ServerSession(platform::TcpSocket socket, const ClassRegistry& registry,
                std::string registryFlag = "Sockets");
  ~ServerSession();
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // Serves requests until the peer closes, the connection fails or Stop();
  // returns "" for a close by the peer or Stop(), else the failure's text.
  std::string Run();
  void Stop();

  // Silence (ms) allowed inside a block and while a callback's reply is
  // awaited (default 30000; 0 = no limit). Idle time between requests is
  // never limited.
  void SetReplyTimeout(int ms) { transport_->SetReplyTimeout(ms); }
  std::string PeerAddress() const { return transport_->PeerAddress(); }
  DataBlockInterpreter& Interpreter() { return *interpreter_; }
  SocketTransport& Transport() { return *transport_; }

 private:
  Ref<IDataBlock> Send(const Ref<IDataBlock>& block, bool waitForResult) override;

  platform::EventFd stop_;
  std::atomic<bool> stopped_{false};
  Ref<SocketTransport> transport_;
  std::unique_ptr<DataBlockInterpreter> interpreter_;
};

}  // namespace quor::remote
