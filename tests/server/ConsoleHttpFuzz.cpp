// libFuzzer target: hostile HTTP requests and hostile terminal texts against
// the front-desk console: its request handling (with and without a staff
// session and its CSRF token), its cookie reader, the path lookup check and
// the JSON made of room names. Whatever arrives is answered with a status
// and a body; nothing crashes, hangs or grows without bound.
//
// Input: byte 0 chooses what is fed; the rest is split at NUL bytes into the
// request's method, path, content type, body, cookie and origin.

#include <sqlite3.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "server/RequestLog.h"
#include "server/SessionObserver.h"
#include "server/console/ConsoleHttp.h"
#include "server/console/Desk.h"
#include "server/console/DeskJson.h"
#include "server/console/StaffAuth.h"

namespace {

using namespace quor::server;
using namespace quor::server::console;

struct World {
  std::unique_ptr<RequestLog> log;
  EventHub hub;
  LiveRooms rooms;
  StaffSessions sessions{std::chrono::hours(1), std::chrono::hours(1)};
  LoginLimiter limiter;
  std::unique_ptr<Desk> desk;
  std::unique_ptr<ConsoleHttp> http;
  std::string token;
  std::string csrf;

  World() {
    const std::string path = "/dev/shm/quor-console-fuzz-" + std::to_string(getpid()) + ".db";
    std::remove(path.c_str());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "create table vodinfo (SINGID integer, SINGNAME varchar(50), SINGER varchar(50));"
                 "insert into vodinfo values (10001, '忘情水', '刘德华');",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    log = RequestLog::Open("/dev/null");
    auto store = std::make_unique<DeskStore>(OpenSqliteBackend(path), false);
    store->EnsureTables();
    desk = std::make_unique<Desk>(std::move(store), hub, rooms, *log, DeskSettings{"fuzz:211"});
    desk->Start();
    http = std::make_unique<ConsoleHttp>(*desk, sessions, limiter, hub, std::chrono::hours(1));
    StaffSession session;
    token = sessions.Create("fuzz", session);
    csrf = session.csrf;
  }
};

World& TheWorld() {
  static World* world = new World();  // lives until the process ends
  return *world;
}

std::vector<std::string> Parts(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 6) {
      parts.emplace_back();
    } else {
      parts.back().push_back(static_cast<char>(data[i]));
    }
  }
  parts.resize(6);
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  World& world = TheWorld();
  const std::uint8_t mode = data[0];
  const std::string raw(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (mode % 4) {
    case 0: {
      // Texts of a terminal: a path lookup, a room name on its way to the page.
      (void)PathLookupSongId(raw);
      Call call;
      call.room = raw;
      call.address = raw.substr(0, 15);
      const std::string json = CallsJson({call}, [](const std::string& a) { return a; });
      if (json.find('\n') != std::string::npos) __builtin_trap();
      (void)ConsoleHttp::CookieValue(raw, kSessionCookie);
      return 0;
    }
    default:
      break;
  }
  const auto parts = Parts(data + 1, size - 1);
  HttpRequest request;
  request.method = parts[0].empty() ? "GET" : parts[0].size() == 1 ? "POST" : parts[0];
  request.path = parts[1];
  // A login costs a password hash (64 MiB, tenths of a second): other
  // paths reach the same body parsing.
  if (request.path == "/api/login") request.path = "/api/rooms/name";
  request.contentType = parts[2];
  request.body = parts[3];
  request.origin = parts[5];
  request.host = "127.0.0.1:8211";
  request.remoteAddress = "127.0.0.1";
  const bool withSession = (mode & 4) != 0;
  request.cookie = withSession ? std::string(kSessionCookie) + "=" + world.token : parts[4];
  request.csrf = (mode & 8) != 0 ? world.csrf : parts[4];
  const HttpResponse response = world.http->Handle(request);
  if (response.status < 200 || response.status > 599) __builtin_trap();
  if (!withSession && response.status == 200 && request.path.rfind("/api/", 0) == 0) {
    __builtin_trap();  // an endpoint answered without a session
  }
  return 0;
}
