// One terminal connection: its interpreter answers create-object, get-id,
// invoke and free-object requests until the terminal goes or the server stops.

#include "server/SessionThread.h"

#include <poll.h>

#include <algorithm>

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
  context.limits.maxResultBytes = settings.maxResultBytes;
  context.limits.timeLimitMs = settings.statementTimeLimitMs;
  context.observer = observer;
  context.database = [&]() -> SqlBackend& {
    if (!backend) {
      backend = settings.openDatabase();
      backend->SetStatementTimeLimit(settings.statementTimeLimitMs);
      backend->SetValueLimits(settings.maxValueBytes, settings.sqlHeapBytes);
    }
    return *backend;
  };
  std::string ending = "disconnected";
  // A room PC that lost its power or its cable says nothing: after two
  // quiet minutes the system asks, and ends the session when no one answers.
  socket.SetKeepAlive(60, 10, 6);
  try {
    Ref<remote::SocketTransport> transport =
        remote::SocketTransport::FromConnectedSocket(std::move(socket));
    // A request comes whole within its bound from its first byte, however
    // slowly its bytes trickle in, and its memory is taken as they arrive;
    // waiting for the next request has no bound (a terminal stays connected
    // all day) once the first one came.
    transport->SetReplyTimeout(remote::kDefaultReplyTimeout);
    remote::BlockLimits limits;
    limits.wholeBlockMs = static_cast<int>(settings.blockMs);
    limits.maxBlockBytes = static_cast<std::int32_t>(
        std::min<std::size_t>(settings.maxRequestBytes, remote::kMaxBlockSize));
    limits.firstChunkBytes = 64 << 10;
    transport->SetLimits(limits);
    transport->SetCancelEvent(settings.stopFd);
    remote::ClassRegistry registry;
    registry.Register(kServerClassId, kServerProgId,
                      [&context]() { return Ref<remote::IUnknown>(new AppServerObject(context)); });
    registry.SetValue(kServerClassId, kSocketsFlag, "1");
    SessionSender sender(*transport);
    SessionInterpreter interpreter(sender, kSocketsFlag, &registry);

    bool first = true;
    while (transport->Connected()) {
      int err = 0;
      const int wait = first ? static_cast<int>(settings.blockMs) : -1;
      const auto woke =
          platform::WaitFd(transport->WaitEvent(), POLLIN, wait, settings.stopFd, err);
      if (woke == platform::WaitResult::kCancelled) {
        ending = "closed (server stopping)";
        break;
      }
      if (woke == platform::WaitResult::kTimeout) {
        ending = "closed: nothing was asked within " + std::to_string(settings.blockMs / 1000) +
                 " s of connecting";
        break;
      }
      if (woke != platform::WaitResult::kReady) break;
      first = false;
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
      // The answer is out (or there was none): the backend may finish now
      // what the answer did not need to wait for.
      if (backend) backend->Idle();
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
