#pragma once
// The body of one session thread (internal to server/).

#include <functional>
#include <memory>

#include "platform/Socket.h"
#include "server/SqlBackend.h"

namespace quor::server {

class RequestLog;
class SessionObserver;

// Descriptors one session may hold at once: its socket, and the database
// files of its connections (SQLite: the file and its write-ahead log for each
// live statement and the writer).
inline constexpr unsigned kDescriptorsPerSession = 10;

struct SessionSettings {
  RequestLog& log;
  // Opens a backend for the session (on its first database request).
  std::function<std::unique_ptr<SqlBackend>()> openDatabase;
  unsigned statementTimeLimitMs;
  int stopFd;                           // readable: the server stops, the session ends
  SessionObserver* observer = nullptr;  // told what the session does; may be null
  // A request block must arrive whole this long after its first byte, and
  // the first one begin this long after the connection was made.
  unsigned blockMs = 10000;
  std::size_t maxRequestBytes = std::size_t{1} << 20;
  std::size_t maxResultBytes = std::size_t{16} << 20;  // row data of one packet
  std::size_t maxValueBytes = std::size_t{1} << 20;    // one string or blob
  std::size_t sqlHeapBytes = std::size_t{512} << 20;   // MariaDB: the session's
};

// Serves the connection until the terminal closes it, the stream breaks, or
// the stop descriptor turns readable. Never throws.
void RunSession(platform::TcpSocket socket, const SessionSettings& settings);

}  // namespace quor::server
