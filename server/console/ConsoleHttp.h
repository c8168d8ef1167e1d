#pragma once
// The console's answers to HTTP requests, apart from the HTTP library: a
// request as the fields the console looks at, a response as what it sends.
// The page and its API:
//
//   GET  /login, /login.js, /console.css, /favicon.svg   open to anyone
//   POST /api/login {"name","password"}                  open; rate-limited
//   GET  /, /console.js, /alert.wav                      staff session
//   GET  /api/me, /api/calls, /api/rooms, /api/today     staff session
//   GET  /api/events                                     staff session; event stream
//   POST /api/logout                                     session + CSRF token
//   POST /api/calls/<id>/ack, /api/calls/<id>/done       session + CSRF token
//   POST /api/rooms/name {"address","name"}              session + CSRF token
//
// Everything else is refused without a session (401; the page itself
// redirects to /login) and unknown with one (404). Changes must come as JSON
// with the session's token in X-CSRF-Token and, when the browser names an
// Origin, from this console's own. Handle never throws.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quor::server::console {

class Desk;
class EventHub;
class LoginLimiter;
class StaffSessions;

inline constexpr char kSessionCookie[] = "quorvod_desk";

struct HttpRequest {
  std::string method;  // "GET", "POST"
  std::string path;    // without the query
  std::string cookie;  // the Cookie header
  std::string csrf;    // the X-CSRF-Token header
  std::string contentType;
  std::string origin;  // the Origin header; "" when none
  std::string host;    // the Host header
  std::string body;
  std::string remoteAddress;
};

struct HttpResponse {
  int status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // An event stream of the staff session behind `streamToken`, instead of a
  // body: the caller streams the hub's news while the session lasts.
  bool eventStream = false;
  std::string streamToken;
};

class ConsoleHttp {
 public:
  ConsoleHttp(Desk& desk, StaffSessions& sessions, LoginLimiter& limiter, EventHub& hub,
              std::chrono::seconds sessionLifetime);

  HttpResponse Handle(const HttpRequest& request);

  // Whether the cookie value still names a live session (streams ask).
  bool SessionValid(const std::string& token);

  // The value of one cookie in a Cookie header ("" when absent).
  static std::string CookieValue(std::string_view header, std::string_view name);

 private:
  HttpResponse Route(const HttpRequest& request);
  HttpResponse Login(const HttpRequest& request);
  HttpResponse Change(const HttpRequest& request, const std::string& token,
                      const std::string& staff);
  HttpResponse ChangeCall(const std::string& path, const std::string& staff);
  HttpResponse RoomName(const HttpRequest& request);
  const std::string& DummyHash();

  Desk& desk_;
  StaffSessions& sessions_;
  LoginLimiter& limiter_;
  EventHub& hub_;
  std::chrono::seconds lifetime_;
  std::map<std::string, std::pair<std::string_view, std::string_view>> files_;  // path: type, bytes
  std::string alert_;
};

}  // namespace quor::server::console
