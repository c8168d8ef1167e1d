#include "server/console/ConsoleHttp.h"

#include <arpa/inet.h>

#include <mutex>
#include <nlohmann/json.hpp>

#include "server/console/Assets.h"
#include "server/console/Desk.h"
#include "server/console/StaffAuth.h"

namespace quor::server::console {
namespace {

using nlohmann::json;

constexpr auto kDatabaseWait = std::chrono::seconds(10);

// The files anyone may fetch: the login page and what it needs.
constexpr std::string_view kPublicFiles[] = {"/login", "/login.js", "/console.css", "/favicon.svg"};

std::string_view TypeOf(std::string_view name) {
  const auto dot = name.rfind('.');
  const std::string_view ext = dot == std::string_view::npos ? "" : name.substr(dot);
  if (ext == ".html") return "text/html; charset=utf-8";
  if (ext == ".js") return "text/javascript; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".svg") return "image/svg+xml";
  return "application/octet-stream";
}

HttpResponse JsonAnswer(int status, const json& value) {
  HttpResponse response;
  response.status = status;
  response.contentType = "application/json; charset=utf-8";
  response.body = value.dump(-1, ' ', false, json::error_handler_t::replace);
  return response;
}

HttpResponse Error(int status, const std::string& message) {
  return JsonAnswer(status, {{"error", message}});
}

HttpResponse Redirect(const std::string& where) {
  HttpResponse response;
  response.status = 303;
  response.headers.emplace_back("Location", where);
  return response;
}

HttpResponse Raw(std::string_view type, std::string body) {
  HttpResponse response;
  response.contentType = std::string(type);
  response.body = std::move(body);
  return response;
}

bool IsJson(const std::string& contentType) {
  const std::string_view type(contentType);
  return type.substr(0, type.find(';')) == "application/json";
}

// The body as a JSON object, or nullopt (never an exception).
std::optional<json> JsonBody(const HttpRequest& request) {
  json body = json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) return std::nullopt;
  return body;
}

std::optional<std::string> StringField(const json& body, const char* name) {
  const auto it = body.find(name);
  if (it == body.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

bool IsIPv4(const std::string& text) {
  in_addr address{};
  return text.size() <= 15 && inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// "/api/calls/17/ack" -> 17 and "ack"; 0 when the path is not of that form.
std::int64_t CallPath(const std::string& path, std::string& action) {
  constexpr std::string_view prefix = "/api/calls/";
  if (path.compare(0, prefix.size(), prefix) != 0) return 0;
  const auto slash = path.find('/', prefix.size());
  if (slash == std::string::npos) return 0;
  const std::string digits = path.substr(prefix.size(), slash - prefix.size());
  if (digits.empty() || digits.size() > 18 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  action = path.substr(slash + 1);
  return std::stoll(digits);
}

json CallJson(const Call& call) {
  return {{"id", call.id},
          {"state", CallStateName(call.state)},
          {"ackBy", call.ackBy.empty() ? json(nullptr) : json(call.ackBy)},
          {"doneBy", call.doneBy.empty() ? json(nullptr) : json(call.doneBy)}};
}

}  // namespace

ConsoleHttp::ConsoleHttp(Desk& desk, StaffSessions& sessions, LoginLimiter& limiter, EventHub& hub,
                         std::chrono::seconds sessionLifetime)
    : desk_(desk),
      sessions_(sessions),
      limiter_(limiter),
      hub_(hub),
      lifetime_(sessionLifetime),
      alert_(AlertSoundWav()) {
  for (const EmbeddedFile& file : EmbeddedFiles()) {
    std::string path = "/" + std::string(file.name);
    if (path == "/login.html") path = "/login";
    if (path == "/console.html") path = "/";
    files_[path] = {TypeOf(file.name), file.bytes};
  }
}

std::string ConsoleHttp::CookieValue(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    const auto end = header.find(';');
    std::string_view part = header.substr(0, end);
    header = end == std::string_view::npos ? std::string_view() : header.substr(end + 1);
    while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
    const auto eq = part.find('=');
    if (eq != std::string_view::npos && part.substr(0, eq) == name) {
      std::string_view value = part.substr(eq + 1);
      while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
      return std::string(value);
    }
  }
  return {};
}

bool ConsoleHttp::SessionValid(const std::string& token) {
  return sessions_.Find(token).has_value();
}

HttpResponse ConsoleHttp::Handle(const HttpRequest& request) {
  try {
    return Route(request);
  } catch (const DeskBusy&) {
    return Error(503, "数据库暂时无法访问，请稍后再试");
  } catch (const std::exception&) {
    return Error(500, "服务器内部错误");
  }
}

HttpResponse ConsoleHttp::Route(const HttpRequest& request) {
  const std::string& path = request.path;
  const bool get = request.method == "GET" || request.method == "HEAD";
  const bool post = request.method == "POST";
  if (get) {
    for (const std::string_view open : kPublicFiles) {
      if (path == open) {
        const auto& [type, bytes] = files_.at(path);
        return Raw(type, std::string(bytes));
      }
    }
  }
  if (post && path == "/api/login") return Login(request);

  const std::string token = CookieValue(request.cookie, kSessionCookie);
  const auto session = sessions_.Find(token);
  if (!session) {
    if (get && path == "/") return Redirect("/login");
    return Error(401, "请先登录");
  }
  if (get) {
    if (path == "/alert.wav") return Raw("audio/wav", alert_);
    if (const auto it = files_.find(path); it != files_.end()) {
      return Raw(it->second.first, std::string(it->second.second));
    }
    if (path == "/api/me") {
      return JsonAnswer(200, {{"name", session->staff}, {"csrf", session->csrf}, {"now", NowMs()}});
    }
    for (const char* kind : {"calls", "rooms", "today"}) {
      if (path == std::string("/api/") + kind) {
        HttpResponse response = Raw("application/json; charset=utf-8", hub_.Latest(kind));
        if (response.body.empty()) response.body = "null";
        return response;
      }
    }
    if (path == "/api/events") {
      HttpResponse response;
      response.eventStream = true;
      response.streamToken = token;
      return response;
    }
    return Error(404, "找不到该页面");
  }
  if (post) {
    // A change must come from this console's page: as JSON (a cross-site
    // form cannot send that), from our own origin when the browser names
    // one, with the session's CSRF token.
    if (!request.origin.empty() && request.origin != "http://" + request.host) {
      return Error(403, "请求来源不正确");
    }
    if (!StaffSessions::CsrfMatches(*session, request.csrf)) {
      return Error(403, "请求缺少有效的安全令牌，请刷新页面");
    }
    return Change(request, token, session->staff);
  }
  return Error(405, "不支持该请求方法");
}

const std::string& ConsoleHttp::DummyHash() {
  static std::once_flag once;
  static std::string hash;
  std::call_once(once, [] { hash = HashPassword("no such account: the work a real one costs"); });
  return hash;
}

HttpResponse ConsoleHttp::Login(const HttpRequest& request) {
  if (!IsJson(request.contentType)) return Error(415, "请求格式不正确");
  const auto body = JsonBody(request);
  if (!body) return Error(400, "请求格式不正确");
  const auto name = StringField(*body, "name");
  const auto password = StringField(*body, "password");
  if (!name || !password) return Error(400, "请输入用户名和密码");

  // A name that no account can have is braked under one key, so that made-up
  // names cannot fill the brake's table.
  const bool possible = StaffNameProblem(*name).empty();
  const std::string nameKey = possible ? *name : std::string();
  const auto now = SteadyClock::now();
  const auto wait = limiter_.Wait(request.remoteAddress, nameKey, now);
  if (wait.count() > 0) {
    HttpResponse response =
        Error(429, "尝试次数过多，请 " + std::to_string(wait.count()) + " 秒后再试");
    response.headers.emplace_back("Retry-After", std::to_string(wait.count()));
    return response;
  }
  std::optional<std::string> hash;
  if (possible) {
    hash = desk_.Run<std::optional<std::string>>(
        [staff = *name](DeskStore& store) { return store.StaffHash(staff); }, kDatabaseWait);
  }
  // An unknown name costs the same work as a wrong password, so that the
  // answer's time does not tell which names exist.
  const bool matches = VerifyPassword(hash ? *hash : DummyHash(), *password);
  if (!hash || !matches) {
    limiter_.Failed(request.remoteAddress, nameKey, SteadyClock::now());
    return Error(401, "用户名或密码错误");
  }
  limiter_.Succeeded(request.remoteAddress, *name);
  StaffSession session;
  const std::string token = sessions_.Create(*name, session);
  HttpResponse response = JsonAnswer(200, {{"name", session.staff}, {"csrf", session.csrf}});
  response.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) + "=" + token +
                                                  "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" +
                                                  std::to_string(lifetime_.count()));
  return response;
}

HttpResponse ConsoleHttp::Change(const HttpRequest& request, const std::string& token,
                                 const std::string& staff) {
  if (request.path == "/api/logout") {
    sessions_.End(token);
    HttpResponse response = JsonAnswer(200, {{"ok", true}});
    response.headers.emplace_back("Set-Cookie", std::string(kSessionCookie) +
                                                    "=; Path=/; HttpOnly; SameSite=Strict; "
                                                    "Max-Age=0");
    return response;
  }
  if (request.path.rfind("/api/calls/", 0) == 0) return ChangeCall(request.path, staff);
  if (request.path == "/api/rooms/name") {
    if (!IsJson(request.contentType)) return Error(415, "请求格式不正确");
    return RoomName(request);
  }
  return Error(404, "找不到该页面");
}

HttpResponse ConsoleHttp::ChangeCall(const std::string& path, const std::string& staff) {
  std::string action;
  const std::int64_t id = CallPath(path, action);
  if (id == 0 || (action != "ack" && action != "done")) return Error(404, "找不到该页面");
  const bool ack = action == "ack";
  const auto change = desk_.Run<CallChange>(
      [id, ack, staff](DeskStore& store) {
        return ack ? store.Acknowledge(id, staff, NowMs()) : store.Finish(id, staff, NowMs());
      },
      kDatabaseWait);
  switch (change.outcome) {
    case CallChange::kChanged:
      return JsonAnswer(200, CallJson(change.call));
    case CallChange::kNotFound:
      return Error(404, "没有这个呼叫");
    case CallChange::kConflict:
      break;
  }
  const Call& call = change.call;
  return call.state == CallState::kDone ? Error(409, "该呼叫已由 " + call.doneBy + " 完成")
                                        : Error(409, "该呼叫已由 " + call.ackBy + " 确认");
}

HttpResponse ConsoleHttp::RoomName(const HttpRequest& request) {
  const auto body = JsonBody(request);
  if (!body) return Error(400, "请求格式不正确");
  const auto address = StringField(*body, "address");
  const auto name = StringField(*body, "name");
  if (!address || !name || !IsIPv4(*address)) return Error(400, "请求格式不正确");
  if (!name->empty() && !StaffNameProblem(*name).empty()) {
    return Error(400, "包厢名称须为 1 到 64 个字符，且不含控制字符");
  }
  desk_.Run<bool>(
      [where = *address, text = *name](DeskStore& store) {
        store.SetRoomName(where, text);
        return true;
      },
      kDatabaseWait);
  return JsonAnswer(200, {{"address", *address}, {"name", *name}});
}

}  // namespace quor::server::console
