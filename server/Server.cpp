#include "server/Server.h"

#include <malloc.h>

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "platform/Codepage.h"
#include "remote/Remote.h"
#include "server/Provider.h"
#include "server/RequestLog.h"
#include "server/SessionThread.h"

namespace quor::server {

void TuneAllocator() {
  // Up to 256 MB (a packet's largest block) from the heap; keep some freed
  // heap for the next requests rather than giving it back at once. Each
  // arena keeps its own: with a thread a session the allocator would make
  // eight arenas a core, and freed answers would stay in each of them, so
  // the arenas are two a core and each keeps at most 32 MB.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 32 << 20);
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  mallopt(M_ARENA_MAX, static_cast<int>(std::min(2 * cores, 16u)));
}

namespace {

// A refused connection hears why: an error block, as if it had asked for
// something, which a terminal raises with this text when it reads the
// answer to its first request.
void SendRefusal(platform::TcpSocket& socket, const std::string& why) {
  std::uint8_t drain[4096];
  int err = 0;
  // What the peer sent already is read away, so that the close below ends
  // the connection with the error block delivered rather than a reset.
  for (int i = 0; i < 16 && socket.RecvSome(drain, sizeof drain, err) > 0; ++i) {
  }
  const std::u16string text = platform::Utf8ToUtf16(why);
  std::vector<std::uint8_t> block(8 + 8 + text.size() * 2);
  const std::int32_t words[4] = {remote::ResultMark | remote::ActionError,
                                 static_cast<std::int32_t>(block.size() - 8), remote::VT_BSTR,
                                 static_cast<std::int32_t>(text.size())};
  std::memcpy(block.data(), words, sizeof words);
  std::memcpy(block.data() + 16, text.data(), text.size() * 2);
  socket.SendSome(block.data(), block.size(), err);  // a fresh socket takes it whole
  socket.ShutdownSend();
  socket.Close();
}

}  // namespace

struct Server::Session {
  std::thread thread;
  std::string host;   // the peer's address
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
  if (!options_.mariadb) SetSqliteHeapLimit(options_.sqlHeapBytes);
  // Each session holds its socket and a few database files: a thousand rooms
  // need far more descriptors than a process gets by default.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 &&
      files.rlim_cur < rlim_t{options_.maxSessions} * kDescriptorsPerSession + 64) {
    log_.Notice("WARNING: " + std::to_string(files.rlim_cur) +
                " open files are allowed, enough for about " +
                std::to_string((files.rlim_cur - 64) / kDescriptorsPerSession) + " of the " +
                std::to_string(options_.maxSessions) +
                " sessions; raise the limit (LimitNOFILE= in the service)");
  }
  const char* api = nullptr;
  // A venue's rooms connect within seconds of each other at opening time.
  const int err = listener_.Listen(options_.bindAddress, options_.port, 1024, &api);
  if (err != 0) {
    const std::string where = (options_.bindAddress.empty() ? "0.0.0.0" : options_.bindAddress) +
                              ":" + std::to_string(options_.port);
    throw std::runtime_error("Cannot listen on " + where + ": " + platform::NetErrorText(err) +
                             (api != nullptr ? std::string(" (") + api + ")" : std::string()));
  }
}

void Server::Serve() {
  SessionSettings settings{log_, openDatabase_, options_.statementTimeLimitMs, stop_.Fd()};
  settings.observer = observer_;
  settings.blockMs = options_.blockMs;
  settings.maxRequestBytes = options_.maxRequestBytes;
  settings.maxResultBytes = options_.maxResultBytes;
  settings.maxValueBytes = options_.maxValueBytes;
  settings.sqlHeapBytes = options_.sqlHeapBytes;
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
    const std::string host = socket.PeerHost();
    std::unique_lock lock(mutex_);
    if (active_ >= options_.maxSessions) {
      const std::string why =
          std::to_string(active_) + " sessions are running, the most this server takes";
      lock.unlock();
      Refuse(socket, host, why);
      continue;
    }
    unsigned& fromHost = perAddress_[host];
    if (options_.maxPerAddress != 0 && fromHost >= options_.maxPerAddress) {
      const std::string why = std::to_string(fromHost) + " sessions from " + host +
                              " are running, the most one address may hold";
      lock.unlock();
      Refuse(socket, host, why);
      continue;
    }
    auto session = std::make_unique<Session>();
    Session* self = session.get();
    session->host = host;
    try {
      session->thread = std::thread([this, self, &settings, s = std::move(socket)]() mutable {
        RunSession(std::move(s), settings);
        const std::lock_guard done(mutex_);
        --active_;
        if (auto it = perAddress_.find(self->host); it != perAddress_.end() && --it->second == 0)
          perAddress_.erase(it);
        self->done = true;
      });
    } catch (const std::system_error& e) {
      if (fromHost == 0) perAddress_.erase(host);
      lock.unlock();
      log_.Notice(std::string("cannot start a session: ") + e.what());
      continue;
    }
    ++active_;
    ++fromHost;
    sessions_.push_back(std::move(session));
  }
  listener_.Close();
  Reap(true);
}

void Server::Refuse(platform::TcpSocket& socket, const std::string& host, const std::string& why) {
  // Logged before the peer hears it: whoever reads the log after the
  // refusal finds the line.
  LogRefusal(socket.PeerAddress(), host, why);
  SendRefusal(socket, "The server refused the connection: " + why);
}

void Server::LogRefusal(const std::string& peer, const std::string& host, const std::string& why) {
  // One line per address every few seconds, with the count of the others.
  const auto now = std::chrono::steady_clock::now();
  if (refusals_.size() > 4096) {
    for (auto it = refusals_.begin(); it != refusals_.end();)
      it = now - it->second.logged > std::chrono::minutes(1) ? refusals_.erase(it) : std::next(it);
  }
  auto [entry, fresh] = refusals_.try_emplace(host);
  Refusals& r = entry->second;
  if (!fresh && now - r.logged < std::chrono::seconds(10)) {
    ++r.unlogged;
    return;
  }
  std::string line = "refused " + peer + ": " + why;
  if (r.unlogged != 0)
    line += " (and " + std::to_string(r.unlogged) + " more from " + host + " since the last line)";
  log_.Notice(line);
  r.logged = now;
  r.unlogged = 0;
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
