#pragma once
// The driver's side of the player's JSON IPC: numbered requests whose replies
// are awaited within a bound, events handed on as they come, and the player's
// life: started on first need, and when it dies, stops answering, or writes
// what is no IPC, killed and started again.
//
// Bounds: a reply must come within replyTimeoutMs; a player that was just
// started gets startTimeoutMs for its first answer (mpv sets itself up
// first). A player that ends before it ever answered (a missing program, a
// broken installation) is started again only after a pause that doubles
// from one second up to thirty, so a room without a working player costs
// nothing but that; requests meanwhile fail at once.
//
// One thread at a time (the terminal's GUI thread).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "drivers/mpv/MpvIpc.h"
#include "drivers/mpv/MpvProcess.h"

namespace quor::drivers {

struct MpvClientSettings {
  int replyTimeoutMs = 1200;
  int startTimeoutMs = 5000;
};

class MpvClient {
 public:
  struct Handlers {
    std::function<void(const IpcMessage&)> event;  // every event the player sends
    std::function<void()> started;                 // a new player runs (set it up)
    std::function<void()> lost;                    // the player was lost
  };
  struct Reply {
    bool answered = false;  // false: no player, or it was lost on the way
    bool success = false;   // mpv's "error":"success"
    nlohmann::json data;
  };

  MpvClient(std::unique_ptr<PlayerChannel> channel, MpvClientSettings settings, Handlers handlers);
  // Ends the player (asked to quit, killed when it does not).
  ~MpvClient();
  MpvClient(const MpvClient&) = delete;
  MpvClient& operator=(const MpvClient&) = delete;

  // Starts a player when none runs and the pause after failed starts is
  // over; whether one runs.
  bool EnsureRunning();
  // Sends command and waits for its reply.
  Reply Call(const nlohmann::json& command);
  // Sends command without waiting for its reply (which is dropped when it
  // comes); false when there is no player to take it.
  bool Post(const nlohmann::json& command);
  // Takes what the player has written so far, without waiting.
  void Poll();
  // Takes what the player writes until done() holds; false when timeoutMs
  // passed first or the player was lost.
  bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
  // Ends the player and notes why (a lost player is started again on the
  // next need).
  void Lose(const std::string& why);

  bool Running() const { return channel_->Running(); }
  long Pid() const { return channel_->Pid(); }
  // Players started so far.
  std::uint64_t Starts() const { return starts_; }

 private:
  using Clock = std::chrono::steady_clock;
  // Reads once (waiting at most timeoutMs) and handles every whole line;
  // false when the player was lost.
  bool Pump(int timeoutMs);
  void Handle(const std::string& line);
  bool Send(const nlohmann::json& command, std::int64_t id);
  // Holds off the next start (one second, doubling up to thirty); the pause.
  int PauseStarts();

  std::unique_ptr<PlayerChannel> channel_;
  MpvClientSettings settings_;
  Handlers handlers_;
  IpcLineReader reader_;
  std::int64_t nextId_ = 0;
  std::int64_t awaitedId_ = -1;
  std::optional<IpcMessage> awaited_;
  bool answered_ = false;  // the running player has answered at least once
  std::uint64_t starts_ = 0;
  int failedStarts_ = 0;  // players in a row that ended before answering
  Clock::time_point nextStart_{};
};

}  // namespace quor::drivers
