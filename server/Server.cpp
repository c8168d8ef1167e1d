#include "server/Server.h"

#include <malloc.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "server/Provider.h"
#include "server/RequestLog.h"
#include "server/SessionThread.h"

namespace quor::server {

void TuneAllocator() {
  // Up to 256 MB (a packet's largest block) from the heap; keep up to 128 MB
  // of freed heap for the next requests rather than giving it back at once.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

struct Server::Session {
  std::thread thread;
  bool done = false;  // guarded by Server::mutex_
};

std::function<std::unique_ptr<SqlBackend>()> DatabaseOpener(const ServerOptions& options) {
  if (options.mariadb) {
    const MariaDbAddress address = *options.mariadb;
    return [address] { return OpenMariaDbBackend(address); };
  }
  const std::string path = options.sqlitePath;
  return [path] { return OpenSqliteBackend(path); };
}

Server::Server(ServerOptions options, RequestLog& log)
    : options_(std::move(options)), log_(log), openDatabase_(DatabaseOpener(options_)) {}

Server::~Server() {
  Stop();
  Reap(true);
}

std::string Server::DatabaseText() const {
  if (!options_.mariadb) return "SQLite " + options_.sqlitePath;
  const MariaDbAddress& a = *options_.mariadb;
  const std::string where = a.socket.empty() ? a.host + ":" + std::to_string(a.port) : a.socket;
  return "MariaDB " + where + "/" + a.database;
}

void Server::Start() {
  std::unique_ptr<SqlBackend> database;
  try {
    database = openDatabase_();
  } catch (const std::exception& e) {
    throw std::runtime_error(e.what());
  }
  // The catalogue serves without the room request table, but every room
  // request would then be refused: say so loudly, once, at start.
  try {
    database->EnsureRoomCallTable();
  } catch (const std::exception& e) {
    log_.Notice(std::string("WARNING: room requests cannot be stored: ") + e.what());
  }
  for (const ProviderDefinition& definition : StandardProviders()) {
    try {
      database->OpenReadOnly(definition.defaultStatement);
    } catch (const std::exception& e) {
      log_.Notice("WARNING: provider " + definition.name + " cannot run " +
                  RequestLog::Quote(definition.defaultStatement) + ": " + e.what());
    }
  }
  const char* api = nullptr;
  const int err = listener_.Listen(options_.bindAddress, options_.port, 128, &api);
  if (err != 0) {
    const std::string where = (options_.bindAddress.empty() ? "0.0.0.0" : options_.bindAddress) +
                              ":" + std::to_string(options_.port);
    throw std::runtime_error("Cannot listen on " + where + ": " + platform::NetErrorText(err) +
                             (api != nullptr ? std::string(" (") + api + ")" : std::string()));
  }
}

void Server::Serve() {
  const SessionSettings settings{log_, openDatabase_, options_.statementTimeLimitMs, stop_.Fd(),
                                 observer_};
  while (!stop_.IsSignalled()) {
    int err = 0;
    platform::TcpSocket socket = listener_.Accept(-1, stop_.Fd(), err);
    Reap(false);
    if (!socket.Valid()) {
      if (err == ECANCELED || stop_.IsSignalled()) break;
      if (err != ETIMEDOUT && err != EINTR) {
        // Out of descriptors and the like: say so, and give the sessions a
        // moment to give some back instead of spinning.
        log_.Notice("accept failed: " + platform::NetErrorText(err));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      continue;
    }
    const std::lock_guard lock(mutex_);
    if (active_ >= options_.maxSessions) {
      log_.Notice("refused " + socket.PeerAddress() + ": " + std::to_string(active_) +
                  " sessions are running, the most this server takes");
      socket.Close();
      continue;
    }
    auto session = std::make_unique<Session>();
    Session* self = session.get();
    try {
      session->thread = std::thread([this, self, &settings, s = std::move(socket)]() mutable {
        RunSession(std::move(s), settings);
        const std::lock_guard done(mutex_);
        --active_;
        self->done = true;
      });
    } catch (const std::system_error& e) {
      log_.Notice(std::string("cannot start a session: ") + e.what());
      continue;
    }
    ++active_;
    sessions_.push_back(std::move(session));
  }
  listener_.Close();
  Reap(true);
}

void Server::Stop() {
  stop_.Signal();
}

unsigned Server::ActiveSessions() const {
  const std::lock_guard lock(mutex_);
  return active_;
}

void Server::Reap(bool all) {
  std::list<std::unique_ptr<Session>> finished;
  {
    const std::lock_guard lock(mutex_);
    for (auto it = sessions_.begin(); it != sessions_.end();) {
      if (all || (*it)->done) {
        finished.push_back(std::move(*it));
        it = sessions_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& session : finished) {
    if (session->thread.joinable()) session->thread.join();
  }
}

}  // namespace quor::server
