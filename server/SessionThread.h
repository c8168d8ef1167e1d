#pragma once
// The body of one session thread (internal to server/).

#include <functional>
#include <memory>

#include "platform/Socket.h"
#include "server/SqlBackend.h"

namespace quor::server {

class RequestLog;
class SessionObserver;

struct SessionSettings {
  RequestLog& log;
  // Opens a backend for the session (on its first database request).
  std::function<std::unique_ptr<SqlBackend>()> openDatabase;
  unsigned statementTimeLimitMs;
  int stopFd;                           // readable: the server stops, the session ends
  SessionObserver* observer = nullptr;  // told what the session does; may be null
};

// Serves the connection until the terminal closes it, the stream breaks, or
// the stop descriptor turns readable. Never throws.
void RunSession(platform::TcpSocket socket, const SessionSettings& settings);

}  // namespace quor::server
