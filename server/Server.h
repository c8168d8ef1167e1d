#pragma once
// quorvod-server: the application server the room terminals talk to.
//
// One listening socket; every accepted connection is a session on a thread
// of its own with its own interpreter, server objects and database
// connection. At most `maxSessions` sessions run at once: a connection
// beyond that is closed at once. Start, Serve and the destructor belong to
// one thread; Stop may be called from any thread.

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/EventFd.h"
#include "platform/Socket.h"
#include "server/SqlBackend.h"

namespace quor::server {

class RequestLog;
class SessionObserver;

inline constexpr std::uint16_t kDefaultPort = 211;
inline constexpr unsigned kDefaultMaxSessions = 512;

struct ServerOptions {
  std::string sqlitePath = "catalogue.db";  // used when mariadb is not set
  std::optional<MariaDbAddress> mariadb;    // --mariadb URI
  std::string mariadbUri;                   // as given, for messages (password hidden)
  std::string bindAddress;                  // "" = every interface
  std::uint16_t port = kDefaultPort;        // 0 = any free port
  std::string logPath;                      // "" = standard error
  unsigned maxSessions = kDefaultMaxSessions;
  unsigned statementTimeLimitMs = kDefaultStatementTimeLimitMs;
  // --console ADDR:PORT: the front-desk console; off while the address is "".
  std::string consoleAddress;
  std::uint16_t consolePort = 0;  // 0 = any free port
  unsigned consoleSessionMinutes = 720;
  std::string addStaff;  // --add-staff NAME: store a staff account and exit
};

// Reads the command line (without the program name). Throws
// std::invalid_argument with the reason for a bad one; `help` is set for
// --help (the options are then not meaningful).
ServerOptions ParseServerOptions(int argc, const char* const* argv, bool& help);
// The usage text of --help and of a bad command line.
std::string ServerUsage();

// Opens a new connection to the catalogue the options name (SQLite or
// MariaDB); each call is one more connection.
std::function<std::unique_ptr<SqlBackend>()> DatabaseOpener(const ServerOptions& options);

// Process-wide allocator settings for serving: large packet buffers are
// taken from and returned to the heap instead of being mapped and unmapped
// per request, so a packet of several megabytes does not pay fresh page
// faults every time. Call once, before serving.
void TuneAllocator();

class Server {
 public:
  Server(ServerOptions options, RequestLog& log);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the database (creating the room request table when it is missing)
  // and starts listening. Throws std::runtime_error with a clear message.
  void Start();
  // The port listened on (the chosen one for port 0); valid after Start.
  std::uint16_t Port() const { return listener_.Port(); }
  // "SQLite catalogue.db" or "MariaDB host:port/db", for the start line.
  std::string DatabaseText() const;

  // Accepts connections until Stop; then ends every session and returns
  // when all have ended.
  void Serve();
  void Stop();

  // Sessions running now.
  unsigned ActiveSessions() const;

  // Tells `observer` what every session does from then on (null: nobody).
  // Set before Serve; the observer must outlive the sessions.
  void SetObserver(SessionObserver* observer) { observer_ = observer; }

 private:
  struct Session;
  void Reap(bool all);

  ServerOptions options_;
  RequestLog& log_;
  std::function<std::unique_ptr<SqlBackend>()> openDatabase_;
  platform::ListenSocket listener_;
  platform::EventFd stop_;  // signalled: the accept loop and every session end
  SessionObserver* observer_ = nullptr;

  // Guarded by mutex_.
  mutable std::mutex mutex_;
  std::list<std::unique_ptr<Session>> sessions_;
  unsigned active_ = 0;
};

}  // namespace quor::server
