// The console over HTTP, against a real quorvod-server in this process with
// its console on a loopback port, real terminals on the client stack (data
// module, datasets, transport, engine) and a real SQLite catalogue file.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "DataTestSupport.h"
#include "data/CatalogueStatements.h"
#include "server/RequestLog.h"
#include "server/Server.h"
#include "server/console/Console.h"
#include "server/console/ConsoleHttp.h"
#include "server/console/DeskStore.h"
#include "server/console/StaffAuth.h"

namespace quor::server::console {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kStaff[] = "张三";
constexpr char kPassword[] = "desk-pass-1";

// quorvod-server with its console, serving on loopback ports of its choice.
// `shared`: a second server over the first one's catalogue (as servers over
// one MariaDB database share their tables).
class DeskServer {
 public:
  explicit DeskServer(std::chrono::seconds lifetime = std::chrono::hours(1),
                      const DeskServer* shared = nullptr) {
    data::test::UseBuiltEngine();
    folder_ = data::test::TempFolder("console");
    db_ = shared != nullptr ? shared->db_ : folder_ + "/catalogue.db";
    if (shared == nullptr) data::test::BuildCatalogue(db_);
    ServerOptions options;
    options.sqlitePath = db_;
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    log_ = RequestLog::Open(folder_ + "/server.log");
    server_ = std::make_unique<Server>(options, *log_);
    server_->Start();
    DeskStore store(OpenSqliteBackend(db_), false);
    store.EnsureTables();
    store.PutStaff(kStaff, HashPassword(kPassword), 0);
    ConsoleOptions settings;
    settings.address = "127.0.0.1";
    settings.port = 0;
    settings.sessionLifetime = lifetime;
    settings.serverName = "test:" + std::to_string(server_->Port());
    console_ = std::make_unique<Console>(settings, DatabaseOpener(options), *log_);
    console_->Start();
    server_->SetObserver(console_.get());
    thread_ = std::thread([this] { server_->Serve(); });
  }
  ~DeskServer() {
    server_->Stop();
    thread_.join();
    console_->Stop();
    std::filesystem::remove_all(folder_);
  }
  std::uint16_t TerminalPort() const { return server_->Port(); }
  std::uint16_t ConsolePort() const { return console_->Port(); }
  // A statement's rows on the catalogue file, each value as text.
  std::vector<std::vector<std::string>> Rows(const std::string& sql) const {
    auto cursor = OpenSqliteBackend(db_)->Select(sql, {});
    std::vector<std::vector<std::string>> rows;
    while (cursor->Step()) {
      rows.emplace_back();
      for (std::size_t i = 0; i < cursor->Columns().size(); ++i)
        rows.back().emplace_back(cursor->Text(i));
    }
    return rows;
  }

 private:
  std::string folder_, db_;
  std::unique_ptr<RequestLog> log_;
  std::unique_ptr<Server> server_;
  std::unique_ptr<Console> console_;
  std::thread thread_;
};

// A browser's side: cookie and CSRF token after a login.
class Desk {
 public:
  explicit Desk(std::uint16_t port) : http_("127.0.0.1", port) { http_.set_read_timeout(20, 0); }
  httplib::Result Login(const std::string& name, const std::string& password) {
    const json body = {{"name", name}, {"password", password}};
    auto result = http_.Post("/api/login", body.dump(), "application/json");
    if (result && result->status == 200) {
      const std::string set = result->get_header_value("Set-Cookie");
      cookie_ = set.substr(0, set.find(';'));
      csrf_ = json::parse(result->body)["csrf"];
    }
    return result;
  }
  httplib::Result Get(const std::string& path) { return http_.Get(path.c_str(), Headers()); }
  json GetJson(const std::string& path) {
    auto result = Get(path);
    return result && result->status == 200 ? json::parse(result->body) : json();
  }
  httplib::Result Post(const std::string& path, const std::string& body = "{}",
                       const std::string& csrf = "(session)",
                       const std::string& type = "application/json") {
    httplib::Headers headers = Headers();
    headers.emplace("X-CSRF-Token", csrf == "(session)" ? csrf_ : csrf);
    return http_.Post(path.c_str(), headers, body, type.c_str());
  }
  httplib::Headers Headers() const {
    httplib::Headers headers;
    if (!cookie_.empty()) headers.emplace("Cookie", cookie_);
    return headers;
  }
  const std::string& Csrf() const { return csrf_; }
  httplib::Client& Http() { return http_; }

 private:
  httplib::Client http_;
  std::string cookie_;
  std::string csrf_;
};

// Polls until `json` at `path` satisfies `done`, at most `limit`; returns
// the time it took, or `limit` when it never did.
std::chrono::milliseconds Until(Desk& desk, const std::string& path,
                                const std::function<bool(const json&)>& done,
                                std::chrono::milliseconds limit = 5000ms) {
  const auto start = Clock::now();
  while (Clock::now() - start < limit) {
    const json value = desk.GetJson(path);
    if (!value.is_null() && done(value)) {
      return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }
    std::this_thread::sleep_for(10ms);
  }
  return limit;
}

json CallOf(const json& calls, const std::string& name) {
  for (const json& call : calls["calls"]) {
    if (call["name"] == name) return call;
  }
  return json();
}

class ConsoleHttpTest : public ::testing::Test {
 protected:
  DeskServer server_;
};

TEST_F(ConsoleHttpTest, RefusesEveryPageAndEndpointWithoutASession) {
  Desk stranger(server_.ConsolePort());
  for (const char* path :
       {"/console.js", "/alert.wav", "/api/me", "/api/calls", "/api/rooms", "/api/today",
        "/api/events", "/api/nothing", "/console.html", "/../etc/passwd"}) {
    auto result = stranger.Get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->status, 401) << path;
    EXPECT_EQ(result->body, R"({"error":"请先登录"})") << path;
  }
  for (const char* path : {"/api/logout", "/api/calls/1/ack", "/api/calls/1/done",
                           "/api/rooms/name", "/api/nothing"}) {
    auto result = stranger.Post(path, R"({"address":"10.0.0.1","name":"x"})");
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->status, 401) << path;
  }
  // The console page itself sends the browser to the login.
  auto page = stranger.Get("/");
  EXPECT_EQ(page->status, 303);
  EXPECT_EQ(page->get_header_value("Location"), "/login");
  // A made-up cookie is no session.
  httplib::Headers forged = {{"Cookie", std::string(kSessionCookie) + "=" + std::string(64, 'a')}};
  EXPECT_EQ(stranger.Http().Get("/api/calls", forged)->status, 401);
  // What the login page needs is open, and every answer forbids inline script.
  for (const char* path : {"/login", "/login.js", "/console.css", "/favicon.svg"}) {
    auto result = stranger.Get(path);
    EXPECT_EQ(result->status, 200) << path;
    EXPECT_THAT(result->get_header_value("Content-Security-Policy"),
                HasSubstr("script-src 'self'"));
  }
}

TEST_F(ConsoleHttpTest, LogsInWithAnHttpOnlyStrictCookieAndLogsOut) {
  Desk desk(server_.ConsolePort());
  auto result = desk.Login(kStaff, kPassword);
  ASSERT_EQ(result->status, 200) << result->body;
  const std::string cookie = result->get_header_value("Set-Cookie");
  EXPECT_THAT(cookie, HasSubstr("; HttpOnly"));
  EXPECT_THAT(cookie, HasSubstr("; SameSite=Strict"));
  EXPECT_THAT(cookie, HasSubstr("; Path=/"));
  const json me = desk.GetJson("/api/me");
  EXPECT_EQ(me["name"], kStaff);
  EXPECT_EQ(me["csrf"], desk.Csrf());
  EXPECT_EQ(desk.Get("/")->status, 200);
  EXPECT_THAT(desk.Get("/")->body, HasSubstr("<audio id=\"alert-sound\""));
  EXPECT_EQ(desk.Get("/alert.wav")->body.substr(0, 4), "RIFF");

  EXPECT_EQ(desk.Post("/api/logout")->status, 200);
  EXPECT_EQ(desk.Get("/api/me")->status, 401);
}

TEST_F(ConsoleHttpTest, RefusesAWrongPasswordAndSlowsTheTenthQuickTry) {
  Desk desk(server_.ConsolePort());
  EXPECT_EQ(desk.Login(kStaff, "wrong-pass")->status, 401);
  EXPECT_EQ(desk.Login("nobody", kPassword)->status, 401);
  EXPECT_EQ(desk.Login(kStaff, "wrong-pass")->body, R"({"error":"用户名或密码错误"})");
  std::vector<int> statuses;
  for (int i = 0; i < 7; ++i) statuses.push_back(desk.Login(kStaff, "wrong-pass")->status);
  auto tenth = desk.Login(kStaff, kPassword);  // even the right password must wait now
  EXPECT_EQ(tenth->status, 429) << ::testing::PrintToString(statuses);
  EXPECT_GE(std::atoi(tenth->get_header_value("Retry-After").c_str()), 1);
  EXPECT_THAT(tenth->body, HasSubstr("秒后再试"));
  EXPECT_THAT(statuses, ::testing::Contains(429));
  EXPECT_EQ(desk.Get("/api/me")->status, 401);

  // Malformed logins are answered, not crashed on.
  auto& http = desk.Http();
  EXPECT_EQ(http.Post("/api/login", "name=x", "application/x-www-form-urlencoded")->status, 415);
  EXPECT_EQ(http.Post("/api/login", "{\"name\":", "application/json")->status, 400);
  EXPECT_EQ(http.Post("/api/login", R"({"name":1,"password":[]})", "application/json")->status,
            400);
  EXPECT_EQ(http.Post("/api/login", std::string(64 * 1024, '{'), "application/json")->status, 413);
  const std::string deep = std::string(8000, '[') + std::string(8000, ']');
  EXPECT_EQ(http.Post("/api/login", deep, "application/json")->status, 400);
}

TEST_F(ConsoleHttpTest, AChangeWithoutTheSessionsTokenOrFromAnotherOriginIsRefused) {
  data::test::TerminalFixture terminal(server_.TerminalPort());
  data::SendRoomRequest(*terminal.dm->tempClientDataSet, data::test::G("包厢8"));
  Desk desk(server_.ConsolePort());
  ASSERT_EQ(desk.Login(kStaff, kPassword)->status, 200);
  ASSERT_LT(Until(desk, "/api/calls", [](const json& c) { return !CallOf(c, "包厢8").is_null(); }),
            5000ms);
  const std::string id =
      std::to_string(CallOf(desk.GetJson("/api/calls"), "包厢8")["id"].get<int>());

  EXPECT_EQ(desk.Post("/api/calls/" + id + "/ack", "{}", "")->status, 403);
  EXPECT_EQ(desk.Post("/api/calls/" + id + "/ack", "{}", std::string(64, '0'))->status, 403);
  httplib::Headers foreign = desk.Headers();
  foreign.emplace("X-CSRF-Token", desk.Csrf());
  foreign.emplace("Origin", "http://evil.example");
  EXPECT_EQ(desk.Http()
                .Post(("/api/calls/" + id + "/ack").c_str(), foreign, "{}", "application/json")
                ->status,
            403);
  EXPECT_EQ(server_.Rows("select State, AckBy from deskcall")[0][0], "pending");

  auto ack = desk.Post("/api/calls/" + id + "/ack");
  ASSERT_EQ(ack->status, 200) << ack->body;
  EXPECT_EQ(server_.Rows("select State, AckBy from deskcall")[0],
            (std::vector<std::string>{"acknowledged", kStaff}));
  EXPECT_EQ(desk.Post("/api/calls/" + id + "/ack")->status, 409);
  ASSERT_EQ(desk.Post("/api/calls/" + id + "/done")->status, 200);
  EXPECT_EQ(server_.Rows("select State, DoneBy from deskcall")[0],
            (std::vector<std::string>{"done", kStaff}));
  EXPECT_EQ(desk.Post("/api/calls/999/done")->status, 404);
  EXPECT_EQ(desk.Post("/api/calls/x/done")->status, 404);
}

TEST(ConsoleSessionTest, ASessionAfterItsLifetimeIsRefused) {
  DeskServer server(2s);
  Desk desk(server.ConsolePort());
  ASSERT_EQ(desk.Login(kStaff, kPassword)->status, 200);
  EXPECT_EQ(desk.Get("/api/me")->status, 200);
  std::this_thread::sleep_for(2200ms);
  EXPECT_EQ(desk.Get("/api/me")->status, 401);
  EXPECT_EQ(desk.Get("/api/events")->status, 401);
  EXPECT_EQ(desk.Post("/api/rooms/name", R"({"address":"10.0.0.1","name":"x"})")->status, 401);
}

TEST_F(ConsoleHttpTest, ARoomRequestShowsWithinASecondAndASecondPressAddsToIt) {
  Desk desk(server_.ConsolePort());
  ASSERT_EQ(desk.Login(kStaff, kPassword)->status, 200);
  // A browser's event stream, open before the press.
  std::atomic<bool> streamed{false};
  Clock::time_point streamedAt;
  std::thread stream([&] {
    std::string seen;
    desk.Http().Get("/api/events", desk.Headers(), [&](const char* data, std::size_t size) {
      seen.append(data, size);
      if (seen.find("包厢8") == std::string::npos) return true;
      streamedAt = Clock::now();
      streamed = true;
      return false;
    });
  });
  std::this_thread::sleep_for(200ms);

  data::test::TerminalFixture terminal(server_.TerminalPort());
  data::SendRoomRequest(*terminal.dm->tempClientDataSet, data::test::G("包厢8"));
  const auto pressed = Clock::now();
  const auto shown =
      Until(desk, "/api/calls", [](const json& c) { return !CallOf(c, "包厢8").is_null(); });
  EXPECT_LT(shown, 1000ms);
  stream.join();
  ASSERT_TRUE(streamed);
  EXPECT_LT(streamedAt - pressed, 1000ms);
  json call = CallOf(desk.GetJson("/api/calls"), "包厢8");
  EXPECT_EQ(call["state"], "pending");
  EXPECT_EQ(call["presses"], 1);
  EXPECT_EQ(call["address"], "127.0.0.1");

  data::SendRoomRequest(*terminal.dm->tempClientDataSet, data::test::G("包厢8"));
  EXPECT_LT(
      Until(desk, "/api/calls", [](const json& c) { return CallOf(c, "包厢8")["presses"] == 2; }),
      1000ms);
  EXPECT_EQ(desk.GetJson("/api/calls")["calls"].size(), 1u);
  // Every press stays stored as the row the terminal sent.
  EXPECT_EQ(server_.Rows("select ClientName from roomcall"),
            (std::vector<std::vector<std::string>>{{"包厢8"}, {"包厢8"}}));
}

TEST_F(ConsoleHttpTest, ShowsConnectedRoomsWithTheSongTheyStartedAndOfflineRooms) {
  Desk desk(server_.ConsolePort());
  ASSERT_EQ(desk.Login(kStaff, kPassword)->status, 200);
  {
    data::test::TerminalFixture terminal(server_.TerminalPort());
    ASSERT_TRUE(data::ConnectAndOpen(*terminal.dm, "127.0.0.1", nullptr));
    data::RunCatalogueQuery(*terminal.dm->playClientDataSet,
                            data::MediaPathStatement(data::test::G("10021 王菲.Song")));
    data::SendRoomRequest(*terminal.dm->tempClientDataSet, data::test::G("Room8"));
    const auto playing = [](const json& rooms) {
      return rooms["connected"].size() == 1 && !rooms["connected"][0]["song"].is_null() &&
             rooms["connected"][0]["name"] == "Room8";
    };
    ASSERT_LT(Until(desk, "/api/rooms", playing), 5000ms) << desk.Get("/api/rooms")->body;
    const json room = desk.GetJson("/api/rooms")["connected"][0];
    EXPECT_EQ(room["song"]["singId"], 10021);
    EXPECT_EQ(room["song"]["singer"], "王菲");
    EXPECT_FALSE(room["song"]["title"].is_null());
    EXPECT_EQ(room["address"], "127.0.0.1");
    EXPECT_GT(room["lastActivity"].get<std::int64_t>(), 0);
    // The song counts among today's most played.
    EXPECT_LT(Until(desk, "/api/today",
                    [](const json& t) {
                      return !t["songs"].empty() && t["songs"][0]["singId"] == 10021;
                    }),
              5000ms);
  }
  // The terminal went away: the room is offline, under the name it sent.
  EXPECT_LT(Until(desk, "/api/rooms",
                  [](const json& r) {
                    return r["connected"].empty() && r["offline"].size() == 1 &&
                           r["offline"][0]["name"] == "Room8";
                  }),
            5000ms)
      << desk.Get("/api/rooms")->body;
}

TEST_F(ConsoleHttpTest, StaffNameARoomAndTheNameStaysText) {
  Desk desk(server_.ConsolePort());
  ASSERT_EQ(desk.Login(kStaff, kPassword)->status, 200);
  const std::string hostile = "<img src=x onerror=alert(1)>";
  const json body = {{"address", "127.0.0.1"}, {"name", hostile}};
  ASSERT_EQ(desk.Post("/api/rooms/name", body.dump())->status, 200);
  data::test::TerminalFixture terminal(server_.TerminalPort());
  data::SendRoomRequest(*terminal.dm->tempClientDataSet, data::test::G("Room8"));
  EXPECT_LT(Until(desk, "/api/calls", [&](const json& c) { return !CallOf(c, hostile).is_null(); }),
            5000ms);
  EXPECT_EQ(CallOf(desk.GetJson("/api/calls"), hostile)["room"], "Room8");

  for (const char* bad :
       {R"({"address":"10.0.0.300","name":"x"})", R"({"address":"127.0.0.1","name":"a\u0007b"})",
        R"({"address":"127.0.0.1"})", R"([1,2])"}) {
    EXPECT_EQ(desk.Post("/api/rooms/name", bad)->status, 400) << bad;
  }
  const json tooLong = {{"address", "127.0.0.1"}, {"name", std::string(65, 'x')}};
  EXPECT_EQ(desk.Post("/api/rooms/name", tooLong.dump())->status, 400);
  EXPECT_EQ(desk.Post("/api/rooms/name", body.dump(), "(session)", "text/plain")->status, 415);
}

TEST_F(ConsoleHttpTest, TwoHundredTerminalsPressAtOnceAndEveryPressIsShownAndStored) {
  constexpr int kTerminals = 200;
  std::vector<std::unique_ptr<data::test::TerminalFixture>> terminals;
  for (int i = 0; i < kTerminals; ++i) {
    terminals.push_back(std::make_unique<data::test::TerminalFixture>(server_.TerminalPort()));
  }
  Desk desk(server_.ConsolePort());
  ASSERT_EQ(desk.Login(kStaff, kPassword)->status, 200);
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kTerminals; ++i) {
    threads.emplace_back([&, i] {
      ++ready;
      while (!go) std::this_thread::yield();
      try {
        data::SendRoomRequest(*terminals[i]->dm->tempClientDataSet, "Room" + std::to_string(i));
        // A row the server refused stays in the dataset for the next try.
        if (terminals[i]->dm->tempClientDataSet->ChangeCount() != 0) ++failed;
      } catch (const std::exception&) {
        ++failed;
      }
    });
  }
  while (ready < kTerminals) std::this_thread::yield();
  go = true;
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failed, 0) << "room requests refused";
  const auto all = [](const json& c) { return c["calls"].size() == kTerminals; };
  EXPECT_LT(Until(desk, "/api/calls", all, 10000ms), 10000ms);
  EXPECT_EQ(server_.Rows("select count(*) from roomcall")[0][0], std::to_string(kTerminals));
  EXPECT_EQ(server_.Rows("select count(distinct Room) from deskcall")[0][0],
            std::to_string(kTerminals));
}

TEST_F(ConsoleHttpTest, EachConsoleShowsEveryServersCallsAndItsOwnRooms) {
  DeskServer second(std::chrono::hours(1), &server_);
  data::test::TerminalFixture here(server_.TerminalPort());
  data::test::TerminalFixture there(second.TerminalPort());
  data::SendRoomRequest(*there.dm->tempClientDataSet, data::test::G("包厢9"));
  Desk desk(server_.ConsolePort());
  ASSERT_EQ(desk.Login(kStaff, kPassword)->status, 200);
  // The other server's call comes through the database.
  EXPECT_LT(Until(desk, "/api/calls", [](const json& c) { return !CallOf(c, "包厢9").is_null(); }),
            3000ms);
  const std::string id =
      std::to_string(CallOf(desk.GetJson("/api/calls"), "包厢9")["id"].get<int>());
  ASSERT_EQ(desk.Post("/api/calls/" + id + "/ack")->status, 200);
  Desk other(second.ConsolePort());
  ASSERT_EQ(other.Login(kStaff, kPassword)->status, 200);
  EXPECT_LT(Until(other, "/api/calls",
                  [](const json& c) { return CallOf(c, "包厢9")["ackBy"] == kStaff; }),
            3000ms);
  EXPECT_EQ(other.Post("/api/calls/" + id + "/ack")->status, 409);
  // Rooms: each console lists the terminals connected to its own server.
  data::SendRoomRequest(*here.dm->tempClientDataSet, data::test::G("包厢8"));
  EXPECT_LT(Until(desk, "/api/rooms",
                  [](const json& r) {
                    return r["connected"].size() == 1 && r["connected"][0]["name"] == "包厢8";
                  }),
            3000ms);
  EXPECT_LT(Until(other, "/api/rooms",
                  [](const json& r) {
                    return r["connected"].size() == 1 && r["connected"][0]["clientName"] == "包厢9";
                  }),
            3000ms);
}

TEST_F(ConsoleHttpTest, ListensOnlyOnTheAddressItWasGiven) {
  // Bound to 127.0.0.1: the same port on another loopback address is closed.
  platform::TcpSocket socket;
  ASSERT_EQ(socket.Create(), 0);
  EXPECT_NE(socket.Connect(platform::DottedToIPv4("127.0.0.2"), server_.ConsolePort(), 2000, -1),
            0);
}

}  // namespace
}  // namespace quor::server::console
