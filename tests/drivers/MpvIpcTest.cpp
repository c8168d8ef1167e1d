// The mpv driver's side of the player's JSON IPC: reading what the player
// writes (also when it is broken), the request lines, the options handed to
// the player, and the client's bounds over a scripted player.

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <thread>

#include "drivers/DriverTestSupport.h"
#include "drivers/mpv/MpvClient.h"
#include "drivers/mpv/MpvDriver.h"

namespace quor::drivers {
namespace {

using nlohmann::json;
using Kind = IpcMessage::Kind;

TEST(IpcLine, RepliesAndEvents) {
  IpcMessage m = ParseIpcLine(R"({"data":12.500000,"request_id":7,"error":"success"})");
  EXPECT_EQ(m.kind, Kind::kReply);
  EXPECT_EQ(m.requestId, 7);
  EXPECT_TRUE(m.success);
  EXPECT_EQ(NumberOf(m.data), 12.5);

  m = ParseIpcLine(R"({"request_id":8,"error":"property unavailable"})");
  EXPECT_EQ(m.kind, Kind::kReply);
  EXPECT_FALSE(m.success);
  EXPECT_EQ(m.error, "property unavailable");
  EXPECT_TRUE(m.data.is_null());

  m = ParseIpcLine(
      R"({"event":"end-file","reason":"error","playlist_entry_id":3,"file_error":"unrecognized file format"})");
  EXPECT_EQ(m.kind, Kind::kEvent);
  EXPECT_EQ(m.event, "end-file");
  EXPECT_EQ(m.playlistEntryId, 3);
  EXPECT_EQ(m.reason, "error");
  EXPECT_EQ(m.fileError, "unrecognized file format");

  m = ParseIpcLine(R"({"event":"log-message","prefix":"ffmpeg","level":"error","text":"bad\n"})");
  EXPECT_EQ(m.text, "[ffmpeg] bad\n");
}

TEST(IpcLine, WhatIsNoIpcIsInvalidAndNeverThrows) {
  const std::string deep = std::string(40, '[') + std::string(40, ']');
  for (const std::string& line :
       {std::string("this is no json"), std::string("[1,2]"), std::string("{\"request_id\":1}"),
        std::string(R"({"request_id":"1","error":"success"})"),
        std::string(R"({"request_id":1.5,"error":"success"})"), std::string(R"({"event":5})"),
        std::string("{\"event\":\"x\""),
        std::string("{\"request_id\":1,\"error\":\"success\",\"data\":") + deep + "}",
        std::string("{\"event\":\"\xFF\xFE\"}"), std::string()})
    EXPECT_EQ(ParseIpcLine(line).kind, Kind::kInvalid) << line;
  // Members of a wrong type are read as absent.
  const IpcMessage m = ParseIpcLine(R"({"event":"end-file","playlist_entry_id":"3","reason":1})");
  EXPECT_EQ(m.kind, Kind::kEvent);
  EXPECT_EQ(m.playlistEntryId, -1);
  EXPECT_EQ(m.reason, "");
  EXPECT_EQ(
      CountAudioTracks(json::parse(R"([{"type":"audio"},{"type":"video"},3,{"type":"audio"}])")),
      2u);
  EXPECT_EQ(CountAudioTracks(json::parse(R"({"type":"audio"})")), 0u);
}

TEST(IpcLineReader, SplitsLinesAndGivesUpOnEndlessOnes) {
  IpcLineReader reader;
  EXPECT_TRUE(reader.Append("{\"a\":1}\n{\"b\"", 12));
  EXPECT_EQ(reader.NextLine(), "{\"a\":1}");
  EXPECT_EQ(reader.NextLine(), std::nullopt);
  EXPECT_TRUE(reader.Append(":2}\n\n", 5));
  EXPECT_EQ(reader.NextLine(), "{\"b\":2}");
  EXPECT_EQ(reader.NextLine(), "");
  EXPECT_EQ(reader.NextLine(), std::nullopt);

  const std::string chunk(64 * 1024, 'x');
  bool open = true;
  for (std::size_t sent = 0; open && sent <= kMaxIpcLine + chunk.size(); sent += chunk.size())
    open = reader.Append(chunk.data(), chunk.size());
  EXPECT_FALSE(open);
  EXPECT_TRUE(reader.Broken());
  EXPECT_EQ(reader.NextLine(), std::nullopt);
}

TEST(IpcRequest, LinesOptionsAndFileNames) {
  EXPECT_EQ(IpcRequestLine(json::array({"get_property", "time-pos"}), 7),
            "{\"command\":[\"get_property\",\"time-pos\"],\"request_id\":7}\n");
  EXPECT_EQ(IpcRequestLine(json::array({"loadfile", "\xC1\xF7.mpg"}), 1), std::nullopt);

  std::vector<std::string> skipped;
  EXPECT_EQ(OptionFileText({{"vo", "x11"},
                            {"geometry", "50%:50%"},
                            {"input-ipc-server", "/a b"},
                            {"Bad", "1"},
                            {"ao;x", "1"},
                            {"ao", "a\nb"}},
                           &skipped),
            "geometry=%7%50%:50%\ninput-ipc-server=%4%/a b\nvo=%3%x11\n");
  EXPECT_EQ(skipped, (std::vector<std::string>{"Bad", "ao", "ao;x"}));

  EXPECT_EQ(MpvFileName("/media/a song.mp4"), "/media/a song.mp4");
  EXPECT_EQ(MpvFileName("av://x.mp4"), "./av://x.mp4");
  EXPECT_EQ(MpvFileName("/media/\xC1\xF7 1.mpg"), "file:///media/%C1%F7%201.mpg");
}

TEST(DriverSettings, TheDriversOwnKeysAreTakenTheRestGoToThePlayer) {
  std::map<std::string, std::string> options = {{"open-timeout", "99999"},
                                                {"reply-timeout", "700"},
                                                {"program", "/opt/mpv"},
                                                {"x11-screen", "1"},
                                                {"vo", "x11"}};
  const MpvDriverSettings settings = TakeDriverSettings(options);
  EXPECT_EQ(settings.openTimeoutMs, 60000u);
  EXPECT_EQ(settings.client.replyTimeoutMs, 700);
  EXPECT_EQ(settings.client.startTimeoutMs, 5000);
  EXPECT_EQ(settings.program, "/opt/mpv");
  EXPECT_EQ(options, (std::map<std::string, std::string>{{"vo", "x11"}}));

  quor::testing::ScopedEnv display("DISPLAY", ":5");
  const PlayerCommand command = MpvCommand(settings, options);
  EXPECT_EQ(command.program, "/opt/mpv");
  EXPECT_EQ(command.environment.at("DISPLAY"), ":5.1");
  EXPECT_EQ(command.includeText, "vo=%3%x11\n");
  EXPECT_EQ(command.arguments.back(), "--include=/dev/fd/4");
}

// A player that answers from a script: each Read takes the next entry ("" =
// nothing in time, "EOF" = the player closed its end).
class ScriptPlayer final : public PlayerChannel {
 public:
  explicit ScriptPlayer(std::deque<std::string> script, int* starts)
      : script_(std::move(script)), starts_(starts) {}
  bool Start() override {
    ++*starts_;
    running_ = true;
    return true;
  }
  bool Running() const override { return running_; }
  bool Write(std::string_view) override { return running_; }
  long Read(char* buffer, std::size_t size, int timeoutMs) override {
    if (!running_) return -1;
    std::string next;
    if (!script_.empty()) {
      next = script_.front();
      script_.pop_front();
    }
    if (next == "EOF") return -1;
    if (next.empty()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      return 0;
    }
    const std::size_t n = std::min(size, next.size());
    next.copy(buffer, n);
    return static_cast<long>(n);
  }
  void Stop(int) override { running_ = false; }
  void Kill() override { running_ = false; }
  long Pid() const override { return running_ ? 1 : -1; }
  std::string Problem() const override { return {}; }

 private:
  std::deque<std::string> script_;
  int* starts_;
  bool running_ = false;
};

TEST(MpvClientBounds, ASilentDeadOrBabblingPlayerIsReplaced) {
  int starts = 0;
  int lost = 0;
  std::vector<std::string> events;
  MpvClient::Handlers handlers;
  handlers.event = [&](const IpcMessage& m) { events.push_back(m.event); };
  handlers.lost = [&] { ++lost; };
  const std::string ok3 = R"({"request_id":3,"error":"success"})"
                          "\n";
  MpvClient client(
      std::make_unique<ScriptPlayer>(
          std::deque<std::string>{
              "{\"event\":\"idle\"}\n{\"request_id\":1,\"error\":\"success\",\"data\":true}\n", "",
              ok3, "EOF", "not json\n"},
          &starts),
      MpvClientSettings{200, 300}, handlers);
  // An answer, with an event before it.
  MpvClient::Reply reply = client.Call(json::array({"get_property", "idle-active"}));
  EXPECT_TRUE(reply.answered);
  EXPECT_EQ(FlagOf(reply.data), true);
  EXPECT_EQ(events, std::vector<std::string>{"idle"});
  EXPECT_EQ(starts, 1);

  // No answer in the bound: killed and started again at once.
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Call(json::array({"get_property", "pause"})).answered);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(starts, 2);
  EXPECT_TRUE(client.Call(json::array({"stop"})).success);
  // Closed: lost and started again; then a line that is no IPC from a player
  // that never answered: lost, and not started again for a while.
  EXPECT_FALSE(client.Call(json::array({"stop"})).answered);
  EXPECT_EQ(starts, 3);
  EXPECT_FALSE(client.Call(json::array({"stop"})).answered);
  EXPECT_EQ(lost, 3);
  const auto paused = std::chrono::steady_clock::now();
  EXPECT_FALSE(client.Call(json::array({"stop"})).answered);
  EXPECT_LT(std::chrono::steady_clock::now() - paused, std::chrono::milliseconds(50));
  EXPECT_EQ(starts, 3);
}

}  // namespace
}  // namespace quor::drivers
