#pragma once
// The front-desk console of quorvod-server: a web page for the desk's
// browser with the room calls as tickets, the rooms and today's figures,
// pushed live with server-sent events. It watches the sessions through
// SessionObserver, keeps the tickets in the catalogue database (several
// servers over one MariaDB database show the same calls) and serves HTTP on
// threads of its own, only on the address it is given.
//
// Start, Stop and the destructor belong to one thread; the observer calls
// come from the session threads and return at once.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "server/SessionObserver.h"
#include "server/SqlBackend.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace quor::server {
class RequestLog;
}

namespace quor::server::console {

class ConsoleHttp;
class Desk;
class EventHub;
class LiveRooms;
class LoginLimiter;
class StaffSessions;

struct ConsoleOptions {
  std::string address = "127.0.0.1";  // IPv4 address to listen on
  std::uint16_t port = 8211;          // 0 = any free port
  std::chrono::seconds sessionLifetime{std::chrono::hours(12)};
  std::chrono::seconds sessionIdle{std::chrono::hours(2)};
  std::string serverName;  // this server among others over one database
  bool mariadb = false;    // the dialect of the database
};

class Console final : public SessionObserver {
 public:
  Console(ConsoleOptions options, std::function<std::unique_ptr<SqlBackend>()> openDatabase,
          RequestLog& log);
  ~Console() override;
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Opens the database, makes the desk's tables, starts listening and
  // serving. std::runtime_error with a clear message when it cannot.
  void Start();
  // The port listened on (the chosen one for port 0); valid after Start.
  std::uint16_t Port() const { return port_; }
  // Ends the event streams, stops serving and stores what is still queued.
  void Stop();
  // Staff accounts in the database at Start.
  std::int64_t StaffAccounts() const { return staffAccounts_; }

  void SessionStarted(const std::string& peer) override;
  void SessionActive(const std::string& peer) override;
  void SessionEnded(const std::string& peer) override;
  void RoomRequestStored(const std::string& peer, const std::string& clientName) override;
  void SongStarted(const std::string& peer, std::int64_t singId) override;

 private:
  void Serve(const httplib::Request& request, httplib::Response& response);
  void Stream(const std::string& token, httplib::Response& response);

  ConsoleOptions options_;
  std::function<std::unique_ptr<SqlBackend>()> openDatabase_;
  RequestLog& log_;
  std::unique_ptr<EventHub> hub_;
  std::unique_ptr<LiveRooms> rooms_;
  std::unique_ptr<StaffSessions> sessions_;
  std::unique_ptr<LoginLimiter> limiter_;
  std::unique_ptr<Desk> desk_;
  std::unique_ptr<ConsoleHttp> http_;
  std::unique_ptr<httplib::Server> server_;
  std::thread listener_;
  std::uint16_t port_ = 0;
  std::int64_t staffAccounts_ = 0;
  std::atomic<int> streams_{0};
  bool started_ = false;
};

}  // namespace quor::server::console
