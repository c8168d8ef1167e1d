#include "server/console/Console.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "server/RequestLog.h"
#include "server/console/ConsoleHttp.h"
#include "server/console/Desk.h"
#include "server/console/EventHub.h"
#include "server/console/LiveRooms.h"
#include "server/console/StaffAuth.h"

namespace quor::server::console {
namespace {

// Threads answering HTTP; an open event stream holds one for as long as the
// page is open, so at most kMaxStreams of them may stream at once and the
// rest stay free for the requests.
constexpr std::size_t kHttpThreads = 24;
constexpr int kMaxStreams = 12;
// An idle stream sends the server's clock this often, which also finds a
// browser that went away and a session that expired.
constexpr auto kHeartbeat = std::chrono::seconds(15);
constexpr std::size_t kMaxBody = 16 * 1024;

// The page may load what this console serves and nothing else: no inline
// script (a text that slipped into the page as HTML could not run), no other
// origin, no frames around it.
constexpr char kContentSecurityPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "media-src 'self'; connect-src 'self'; object-src 'none'; base-uri 'none'; "
    "frame-ancestors 'none'; form-action 'self'";

std::string ClockEvent() {
  return "event: clock\ndata: {\"now\":" + std::to_string(NowMs()) + "}\n\n";
}

}  // namespace

Console::Console(ConsoleOptions options, std::function<std::unique_ptr<SqlBackend>()> openDatabase,
                 RequestLog& log)
    : options_(std::move(options)),
      openDatabase_(std::move(openDatabase)),
      log_(log),
      hub_(std::make_unique<EventHub>()),
      rooms_(std::make_unique<LiveRooms>()),
      sessions_(std::make_unique<StaffSessions>(options_.sessionLifetime, options_.sessionIdle)),
      limiter_(std::make_unique<LoginLimiter>()) {}

Console::~Console() {
  Stop();
}

void Console::Start() {
  std::unique_ptr<DeskStore> store;
  try {
    store = std::make_unique<DeskStore>(openDatabase_(), options_.mariadb);
    store->EnsureTables();
    staffAccounts_ = store->StaffCount();
  } catch (const std::exception& e) {
    throw std::runtime_error(std::string("The front-desk console cannot use the database: ") +
                             e.what());
  }
  desk_ = std::make_unique<Desk>(std::move(store), *hub_, *rooms_, log_,
                                 DeskSettings{options_.serverName});
  http_ =
      std::make_unique<ConsoleHttp>(*desk_, *sessions_, *limiter_, *hub_, options_.sessionLifetime);

  server_ = std::make_unique<httplib::Server>();
  server_->new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
  // Only SO_REUSEADDR: the library's default adds SO_REUSEPORT, with which a
  // second server could take the same port unnoticed.
  server_->set_socket_options([](socket_t socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_->set_tcp_nodelay(true);
  server_->set_keep_alive_timeout(2);
  server_->set_read_timeout(5);
  server_->set_write_timeout(5);
  server_->set_payload_max_length(kMaxBody);
  server_->set_default_headers({{"Content-Security-Policy", kContentSecurityPolicy},
                                {"X-Content-Type-Options", "nosniff"},
                                {"X-Frame-Options", "DENY"},
                                {"Referrer-Policy", "no-referrer"},
                                {"Cache-Control", "no-store"}});
  const auto serve = [this](const httplib::Request& request, httplib::Response& response) {
    Serve(request, response);
  };
  server_->Get(".*", serve);
  server_->Post(".*", serve);
  server_->set_exception_handler(
      [](const httplib::Request&, httplib::Response& response, const std::exception_ptr&) {
        response.status = 500;
        response.set_content("{\"error\":\"服务器内部错误\"}", "application/json; charset=utf-8");
      });

  errno = 0;
  int port = options_.port;
  const bool bound = port == 0 ? (port = server_->bind_to_any_port(options_.address)) > 0
                               : server_->bind_to_port(options_.address, port);
  if (!bound) {
    const int err = errno;
    throw std::runtime_error("Cannot listen on " + options_.address + ":" +
                             std::to_string(options_.port) + " for the front-desk console" +
                             (err != 0 ? std::string(": ") + std::strerror(err) : std::string()));
  }
  port_ = static_cast<std::uint16_t>(port);
  desk_->Start();
  listener_ = std::thread([this] { server_->listen_after_bind(); });
  // Stop must find it running, or it could not end it.
  for (int i = 0; i < 5000 && !server_->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  started_ = true;
  log_.Notice("front-desk console on http://" + options_.address + ":" + std::to_string(port_) +
              "/ (" + std::to_string(staffAccounts_) + " staff accounts)");
}

void Console::Stop() {
  if (!started_) return;
  started_ = false;
  hub_->Close();  // every event stream ends and gives its thread back
  server_->stop();
  if (listener_.joinable()) listener_.join();
  desk_->Stop();
}

void Console::Serve(const httplib::Request& request, httplib::Response& response) {
  HttpRequest r;
  r.method = request.method;
  r.path = request.path;
  r.cookie = request.get_header_value("Cookie");
  r.csrf = request.get_header_value("X-CSRF-Token");
  r.contentType = request.get_header_value("Content-Type");
  r.origin = request.get_header_value("Origin");
  r.host = request.get_header_value("Host");
  r.body = request.body;
  r.remoteAddress = request.remote_addr;
  HttpResponse answer = http_->Handle(r);
  if (answer.eventStream) {
    Stream(answer.streamToken, response);
    return;
  }
  response.status = answer.status;
  for (const auto& [name, value] : answer.headers) response.set_header(name, value);
  if (!answer.contentType.empty()) response.set_content(answer.body, answer.contentType);
}

void Console::Stream(const std::string& token, httplib::Response& response) {
  if (streams_.fetch_add(1) >= kMaxStreams) {
    --streams_;
    response.status = 503;
    response.set_content("{\"error\":\"打开的页面过多，请关闭其他控制台页面\"}",
                         "application/json; charset=utf-8");
    return;
  }
  auto cursor = std::make_shared<EventHub::Cursor>();
  auto opened = std::make_shared<bool>(false);
  response.set_chunked_content_provider(
      "text/event-stream",
      [this, cursor, opened, token](std::size_t, httplib::DataSink& sink) {
        std::string text;
        if (!*opened) {
          // Reconnect quickly after a break; tell the page the server's clock.
          *opened = true;
          text = "retry: 2000\n\n" + ClockEvent();
        } else {
          const auto next = hub_->Next(*cursor, kHeartbeat);
          if (!next || !http_->SessionValid(token)) {
            sink.done();
            return true;
          }
          text = next->empty() ? ClockEvent() : *next;
        }
        return sink.write(text.data(), text.size());
      },
      [this](bool) { --streams_; });
}

// The observer calls run on session threads: nothing may escape them.
void Console::SessionStarted(const std::string& peer) {
  try {
    const std::int64_t now = NowMs();
    rooms_->Started(peer, now);
    if (desk_) desk_->Connected(peer, now);
  } catch (const std::exception&) {  // out of memory: the room is missing from the list
  }
}

void Console::SessionActive(const std::string& peer) {
  try {
    rooms_->Active(peer, NowMs());
  } catch (const std::exception&) {
  }
}

void Console::SessionEnded(const std::string& peer) {
  try {
    rooms_->Ended(peer);
    if (desk_) desk_->Disconnected(peer, NowMs());
  } catch (const std::exception&) {
  }
}

void Console::RoomRequestStored(const std::string& peer, const std::string& clientName) {
  try {
    const std::int64_t now = NowMs();
    rooms_->Named(peer, clientName, now);
    if (desk_) desk_->RoomRequest(peer, clientName, now);
  } catch (const std::exception& e) {
    log_.Notice("WARNING: console: room request of " + peer + " not shown: " + e.what());
  }
}

void Console::SongStarted(const std::string& peer, std::int64_t singId) {
  try {
    const std::int64_t now = NowMs();
    rooms_->Song(peer, singId, now);
    if (desk_) desk_->SongStarted(peer, singId, now);
  } catch (const std::exception&) {
  }
}

}  // namespace quor::server::console
