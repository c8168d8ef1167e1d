// One terminal connection: its interpreter answers create-object, get-id,
// invoke and free-object requests until the terminal goes or the server stops.

#include "server/SessionThread.h"

#include <poll.h>

#include "platform/Codepage.h"
#include "remote/Remote.h"
#include "server/AppServerObject.h"
#include "server/RequestLog.h"
#include "server/SessionObserver.h"

namespace quor::server {
namespace {

using remote::Ref;

// The may-create flag a class needs before a terminal may create it.
constexpr char kSocketsFlag[] = "Sockets";

// The session's side of ISendDataBlock: replies go straight out on the
// transport (the server never waits for a reply of the terminal).
class SessionSender final : public remote::ISendDataBlock {
 public:
  explicit SessionSender(remote::SocketTransport& transport) : transport_(transport) {}
  Ref<remote::IDataBlock> Send(const Ref<remote::IDataBlock>& block, bool waitForResult) override {
    transport_.Send(block);
    return waitForResult ? transport_.Receive(true, 0) : nullptr;
  }

 private:
  remote::SocketTransport& transport_;
};

// A program id that no class has is refused in the same words as a class
// that may not be created.
class SessionInterpreter final : public remote::DataBlockInterpreter {
 public:
  using DataBlockInterpreter::DataBlockInterpreter;
  remote::Variant CreateObjectByName(const std::string& progId) override {
    try {
      return DataBlockInterpreter::CreateObjectByName(progId);
    } catch (const remote::EOleSysError& e) {
      if (e.ErrorCode() != remote::CO_E_CLASSSTRING) throw;
      throw remote::Exception(remote::Format("Object not available: %s", progId.c_str()));
    }
  }
};

}  // namespace

void RunSession(platform::TcpSocket socket, const SessionSettings& settings) {
  RequestLog& log = settings.log;
  const std::string peer = socket.PeerAddress();
  log.Notice("connected: " + peer);
  SessionObserver* observer = settings.observer;
  if (observer != nullptr) observer->SessionStarted(peer);
  // Declared first, destroyed last: the server objects the interpreter holds
  // use the context, and their open cursors the backend.
  std::unique_ptr<SqlBackend> backend;
  SessionContext context;
  context.peer = peer;
  context.log = &log;
  context.observer = observer;
  context.database = [&]() -> SqlBackend& {
    if (!backend) {
      backend = settings.openDatabase();
      backend->SetStatementTimeLimit(settings.statementTimeLimitMs);
    }
    return *backend;
  };
  std::string ending = "disconnected";
  try {
    Ref<remote::SocketTransport> transport =
        remote::SocketTransport::FromConnectedSocket(std::move(socket));
    // Bounds a block that stalls half-way; waiting for the next request has
    // no bound (a terminal stays connected all day).
    transport->SetReplyTimeout(remote::kDefaultReplyTimeout);
    transport->SetCancelEvent(settings.stopFd);
    remote::ClassRegistry registry;
    registry.Register(kServerClassId, kServerProgId,
                      [&context]() { return Ref<remote::IUnknown>(new AppServerObject(context)); });
    registry.SetValue(kServerClassId, kSocketsFlag, "1");
    SessionSender sender(*transport);
    SessionInterpreter interpreter(sender, kSocketsFlag, &registry);

    while (transport->Connected()) {
      int err = 0;
      const auto woke = platform::WaitFd(transport->WaitEvent(), POLLIN, -1, settings.stopFd, err);
      if (woke == platform::WaitResult::kCancelled) {
        ending = "closed (server stopping)";
        break;
      }
      if (woke != platform::WaitResult::kReady) break;
      Ref<remote::IDataBlock> block = transport->Receive(true, 0);
      if (!block) break;
      if (observer != nullptr) observer->SessionActive(peer);
      try {
        interpreter.HandleBlock(block);
      } catch (const remote::ESocketConnectionError&) {
        throw;
      } catch (const remote::Exception& e) {
        // An error block from the terminal, or a block the interpreter could
        // not act on: the stream itself is intact, the session goes on.
        log.Notice("from " + peer + ": " + e.what());
      }
    }
  } catch (const remote::ESocketConnectionError& e) {
    if (std::string(e.what()) != "Error reading from socket")
      ending += std::string(": ") + e.what();
  } catch (const std::exception& e) {
    ending = std::string("closed after an error: ") + e.what();
  }
  log.Notice(ending + ": " + peer);
  if (observer != nullptr) observer->SessionEnded(peer);
}

}  // namespace quor::server
