// The console's pure parts: recognising a room's path lookup, passwords and
// staff sessions, the login brake, the event hub, the cookie reader and the
// JSON the page is sent.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "server/SessionObserver.h"
#include "server/console/ConsoleHttp.h"
#include "server/console/DeskJson.h"
#include "server/console/EventHub.h"
#include "server/console/StaffAuth.h"

namespace quor::server::console {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

TEST(PathLookup, KnowsTheTerminalsStatementAndNothingElse) {
  // As the player sends it: the song number and one blank.
  EXPECT_EQ(PathLookupSongId("select PATH1 from vodinfo where SINGID=10001 "), 10001);
  EXPECT_EQ(PathLookupSongId("SELECT path1 FROM VODINFO WHERE singid = 7;"), 7);
  EXPECT_EQ(PathLookupSongId("  select\tPATH1 from vodinfo where SINGID=00042"), 42);
  for (const char* other : {
           "select PATH1 from vodinfo where SINGID=",
           "select PATH1 from vodinfo where SINGID=12 or 1=1",
           "select PATH1,SINGER from vodinfo where SINGID=12",
           "select PATH1 from vodinfo where SINGID=-12",
           "select PATH1 from vodinfo where SINGER=12",
           "select PATH1 from vodinfos where SINGID=12",
           "selectPATH1 from vodinfo where SINGID=12",
           "select PATH1 from vodinfo where SINGID=1234567890123456789012",
           "select SINGID,SINGNAME,SINGER from vodinfo where SINGID=10001",
           "",
       }) {
    EXPECT_EQ(PathLookupSongId(other), std::nullopt) << other;
  }
}

TEST(StaffAuth, HashesWithArgon2idAndVerifiesOnlyTheRightPassword) {
  const std::string hash = HashPassword("night-shift-2");
  EXPECT_EQ(hash.rfind("$argon2id$", 0), 0u) << hash;
  EXPECT_TRUE(VerifyPassword(hash, "night-shift-2"));
  EXPECT_FALSE(VerifyPassword(hash, "night-shift-3"));
  EXPECT_FALSE(VerifyPassword(hash, ""));
  EXPECT_FALSE(VerifyPassword("not a hash", "night-shift-2"));
  EXPECT_FALSE(VerifyPassword("", ""));
  // The same password never hashes the same twice (a salt of its own).
  EXPECT_NE(HashPassword("night-shift-2"), hash);
}

TEST(StaffAuth, TellsWhatIsWrongWithANameOrPassword) {
  EXPECT_EQ(StaffNameProblem("张三"), "");
  EXPECT_EQ(StaffNameProblem(std::string(64, 'a')), "");
  EXPECT_THAT(StaffNameProblem(""), HasSubstr("empty"));
  EXPECT_THAT(StaffNameProblem(std::string(65, 'a')), HasSubstr("longer than 64"));
  EXPECT_THAT(StaffNameProblem("desk\n2"), HasSubstr("control"));
  EXPECT_THAT(StaffNameProblem("\xC3\x28"), HasSubstr("UTF-8"));
  EXPECT_THAT(StaffNameProblem("\xED\xA0\x80"), HasSubstr("UTF-8"));  // a surrogate
  EXPECT_EQ(PasswordProblem("12345678"), "");
  EXPECT_EQ(PasswordProblem("前台值班密码一二"), "");  // eight characters, 24 bytes
  EXPECT_THAT(PasswordProblem("1234567"), HasSubstr("at least 8"));
  EXPECT_THAT(PasswordProblem(std::string(1025, 'x')), HasSubstr("longer"));
}

TEST(StaffAuth, SessionsEndAfterTheirLifetimeOrWhenIdleOrEnded) {
  StaffSessions sessions(2s, 1h);
  StaffSession made;
  const std::string token = sessions.Create("desk", made);
  EXPECT_EQ(token.size(), 64u);
  EXPECT_EQ(made.csrf.size(), 64u);
  EXPECT_NE(made.csrf, token);
  const auto found = sessions.Find(token);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->staff, "desk");
  EXPECT_TRUE(StaffSessions::CsrfMatches(*found, made.csrf));
  EXPECT_FALSE(StaffSessions::CsrfMatches(*found, ""));
  EXPECT_FALSE(StaffSessions::CsrfMatches(*found, token));
  EXPECT_FALSE(sessions.Find(token.substr(1) + "0"));
  EXPECT_FALSE(sessions.Find(""));

  StaffSession other;
  const std::string second = sessions.Create("desk", other);
  sessions.End(second);
  EXPECT_FALSE(sessions.Find(second));

  std::this_thread::sleep_for(2100ms);
  EXPECT_FALSE(sessions.Find(token)) << "a session outlived its lifetime";

  StaffSessions idle(1h, 1s);
  StaffSession kept;
  const std::string used = idle.Create("desk", kept);
  for (int i = 0; i < 3; ++i) {
    std::this_thread::sleep_for(600ms);
    EXPECT_TRUE(idle.Find(used)) << "a session in use went idle";
  }
  std::this_thread::sleep_for(1100ms);
  EXPECT_FALSE(idle.Find(used));
}

TEST(LoginLimiter, LetsFiveFailuresByThenMakesEachTryWaitLonger) {
  LoginLimiter limiter;
  const auto t0 = SteadyClock::now();
  for (int i = 0; i < LoginLimiter::kFreeFailures; ++i) {
    EXPECT_EQ(limiter.Wait("10.0.0.5", "desk", t0), 0s) << i;
    limiter.Failed("10.0.0.5", "desk", t0);
  }
  EXPECT_EQ(limiter.Wait("10.0.0.5", "desk", t0), 1s);
  EXPECT_EQ(limiter.Wait("10.0.0.5", "desk", t0 + 1s), 0s);
  limiter.Failed("10.0.0.5", "desk", t0 + 1s);
  EXPECT_EQ(limiter.Wait("10.0.0.5", "desk", t0 + 1s), 2s);
  limiter.Failed("10.0.0.5", "desk", t0 + 3s);
  EXPECT_EQ(limiter.Wait("10.0.0.5", "desk", t0 + 3s), 4s);
  // Another machine may still try that name; this one may not try another.
  EXPECT_EQ(limiter.Wait("10.0.0.6", "desk", t0 + 3s), 0s);
  EXPECT_EQ(limiter.Wait("10.0.0.5", "other", t0 + 3s), 4s);
  // The wait never grows past five minutes, and is forgotten after fifteen.
  for (int i = 0; i < 30; ++i) limiter.Failed("10.0.0.5", "desk", t0 + 4s);
  EXPECT_EQ(limiter.Wait("10.0.0.5", "desk", t0 + 4s), 300s);
  EXPECT_EQ(limiter.Wait("10.0.0.5", "desk", t0 + 4s + std::chrono::minutes(15)), 0s);
  // A login that worked clears the address.
  for (int i = 0; i < 8; ++i) limiter.Failed("10.0.0.7", "x", t0);
  limiter.Succeeded("10.0.0.7", "x");
  EXPECT_EQ(limiter.Wait("10.0.0.7", "x", t0), 0s);
  // Many machines guessing one name are braked too, but later.
  for (int i = 0; i < LoginLimiter::kFreeNameFailures; ++i) {
    limiter.Failed("10.1.0." + std::to_string(i), "boss", t0);
  }
  EXPECT_EQ(limiter.Wait("10.2.0.1", "boss", t0), 1s);
}

TEST(EventHub, SendsEachKindsNewestStateOnceAndEndsWhenClosed) {
  EventHub hub;
  hub.Publish("calls", R"({"calls":[]})");
  EventHub::Cursor cursor;
  auto first = hub.Next(cursor, 10ms);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, "event: calls\ndata: {\"calls\":[]}\n\n");
  EXPECT_EQ(hub.Next(cursor, 10ms), std::string());  // nothing new

  // Three updates while the stream was busy: only the newest goes out.
  hub.Publish("rooms", "1");
  hub.Publish("rooms", "2");
  hub.Publish("calls", "3");
  auto next = hub.Next(cursor, 10ms);
  ASSERT_TRUE(next);
  EXPECT_EQ(*next, "event: calls\ndata: 3\n\nevent: rooms\ndata: 2\n\n");
  EXPECT_EQ(hub.Latest("rooms"), "2");
  EXPECT_EQ(hub.Latest("today"), "");

  // A waiting stream wakes for news, and for good when the hub closes.
  std::thread later([&] {
    std::this_thread::sleep_for(50ms);
    hub.Publish("today", "4");
  });
  const auto start = SteadyClock::now();
  next = hub.Next(cursor, 5s);
  later.join();
  EXPECT_LT(SteadyClock::now() - start, 2s);
  EXPECT_EQ(*next, "event: today\ndata: 4\n\n");
  std::thread closer([&] {
    std::this_thread::sleep_for(50ms);
    hub.Close();
  });
  EXPECT_EQ(hub.Next(cursor, 5s), std::nullopt);
  closer.join();
}

TEST(ConsoleHttp, ReadsOneCookieOutOfTheHeader) {
  EXPECT_EQ(ConsoleHttp::CookieValue("quorvod_desk=abc", kSessionCookie), "abc");
  EXPECT_EQ(ConsoleHttp::CookieValue("a=1; quorvod_desk=abc ; b=2", kSessionCookie), "abc");
  EXPECT_EQ(ConsoleHttp::CookieValue("xquorvod_desk=abc; quorvod_desk=", kSessionCookie), "");
  EXPECT_EQ(ConsoleHttp::CookieValue("", kSessionCookie), "");
  EXPECT_EQ(ConsoleHttp::CookieValue(";;=;quorvod_desk", kSessionCookie), "");
}

Call MakeCall(std::int64_t id, const std::string& room, const std::string& address) {
  Call call;
  call.id = id;
  call.room = room;
  call.address = address;
  call.peer = address + ":40000";
  call.presses = 1;
  call.firstAt = 1000;
  call.lastAt = 1000;
  return call;
}

TEST(DeskJson, NamesARoomByStaffThenByWhatItSentThenByAddress) {
  const std::vector<Call> calls = {MakeCall(1, "Room8", "10.0.0.8"),
                                   MakeCall(2, "Room9", "10.0.0.9"), MakeCall(3, "", "10.0.0.10")};
  const auto names = [](const std::string& a) { return a == "10.0.0.9" ? "VIP 厅" : ""; };
  const json parsed = json::parse(CallsJson(calls, names));
  ASSERT_EQ(parsed["calls"].size(), 3u);
  EXPECT_EQ(parsed["calls"][0]["name"], "Room8");
  EXPECT_EQ(parsed["calls"][1]["name"], "VIP 厅");
  EXPECT_EQ(parsed["calls"][1]["room"], "Room9");
  EXPECT_EQ(parsed["calls"][2]["name"], "10.0.0.10");
  EXPECT_EQ(parsed["calls"][0]["state"], "pending");
  EXPECT_TRUE(parsed["calls"][0]["ackBy"].is_null());
}

TEST(DeskJson, CarriesHostileAndBrokenTextAsPlainJsonStrings) {
  const std::string hostile = "<img src=x onerror=alert(1)>\"\n\\";
  const std::string broken = "Room\xFF\xFE";
  const auto none = [](const std::string&) { return std::string(); };
  const std::string text =
      CallsJson({MakeCall(1, hostile, "10.0.0.1"), MakeCall(2, broken, "10.0.0.2")}, none);
  EXPECT_EQ(text.find('\n'), std::string::npos) << "one event data line must hold it";
  const json parsed = json::parse(text);
  EXPECT_EQ(parsed["calls"][0]["name"], hostile);
  EXPECT_EQ(parsed["calls"][1]["name"], "Room\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(DeskJson, ListsConnectedRoomsWithTheirSongAndThisServersOfflineRooms) {
  LiveRoom live;
  live.peer = "10.0.0.8:40001";
  live.address = "10.0.0.8";
  live.connectedAt = 5;
  live.lastActivity = 6;
  live.singId = 10001;
  live.songAt = 7;
  const std::vector<RoomRecord> table = {
      {"10.0.0.8", "", "Room8", "here:211", 6},
      {"10.0.0.9", "包厢9", "Room9", "here:211", 3},    // offline, ours
      {"10.0.0.10", "", "Room10", "elsewhere:211", 3},  // another server's
      {"10.0.0.11", "新包厢", "", "", 0},               // named, never seen
  };
  const auto songs = [](std::int64_t id) -> std::optional<SongInfo> {
    if (id == 10001) return SongInfo{"刘德华", "忘情水"};
    return std::nullopt;
  };
  const json parsed = json::parse(RoomsJson({live}, table, "here:211", songs));
  ASSERT_EQ(parsed["connected"].size(), 1u);
  EXPECT_EQ(parsed["connected"][0]["name"], "Room8");
  EXPECT_EQ(parsed["connected"][0]["song"]["title"], "忘情水");
  EXPECT_EQ(parsed["connected"][0]["song"]["singer"], "刘德华");
  ASSERT_EQ(parsed["offline"].size(), 2u);
  EXPECT_EQ(parsed["offline"][0]["name"], "包厢9");
  EXPECT_EQ(parsed["offline"][1]["name"], "新包厢");
  EXPECT_TRUE(parsed["offline"][1]["lastSeen"].is_null());
}

TEST(DeskJson, SumsUpTodaysAnsweredCalls) {
  TodayFigures today;
  for (const std::int64_t wait : {10000, 30000, 20000, 60000}) {
    Call call = MakeCall(wait, "R", "10.0.0.1");
    call.ackAt = call.firstAt + wait;
    call.ackBy = "desk";
    today.answered.push_back(call);
  }
  today.songs = {{10001, 3}, {99999, 1}};
  const auto none = [](const std::string&) { return std::string(); };
  const auto songs = [](std::int64_t id) -> std::optional<SongInfo> {
    if (id == 10001) return SongInfo{"刘德华", "忘情水"};
    return std::nullopt;
  };
  const json parsed = json::parse(TodayJson(today, none, songs));
  EXPECT_EQ(parsed["answered"]["count"], 4);
  EXPECT_EQ(parsed["answered"]["averageMs"], 30000);
  EXPECT_EQ(parsed["answered"]["medianMs"], 25000);
  EXPECT_EQ(parsed["answered"]["longestMs"], 60000);
  EXPECT_EQ(parsed["songs"][0]["title"], "忘情水");
  EXPECT_TRUE(parsed["songs"][1]["title"].is_null());
}

}  // namespace
}  // namespace quor::server::console
