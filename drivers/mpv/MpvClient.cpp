#include "drivers/mpv/MpvClient.h"

#include <algorithm>
#include <cstdio>

namespace quor::drivers {
namespace {

constexpr int kQuitGraceMs = 1000;
constexpr std::size_t kReadChunk = 64 * 1024;

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

MpvClient::MpvClient(std::unique_ptr<PlayerChannel> channel, MpvClientSettings settings,
                     Handlers handlers)
    : channel_(std::move(channel)), settings_(settings), handlers_(std::move(handlers)) {}

MpvClient::~MpvClient() {
  channel_->Stop(kQuitGraceMs);
}

bool MpvClient::EnsureRunning() {
  if (channel_->Running()) return true;
  if (Clock::now() < nextStart_) return false;
  reader_.Clear();
  awaitedId_ = -1;
  answered_ = false;
  if (!channel_->Start()) {
    const int pauseMs = PauseStarts();
    MpvLog("%s; trying again in %d s\n", channel_->Problem().c_str(), pauseMs / 1000);
    return false;
  }
  ++starts_;
  if (handlers_.started) handlers_.started();
  return channel_->Running();
}

void MpvClient::Lose(const std::string& why) {
  if (!channel_->Running()) return;
  channel_->Kill();
  const std::string problem = channel_->Problem();
  MpvLog("%s%s%s\n", why.c_str(), problem.empty() ? "" : ": ", problem.c_str());
  // One that never answered would only fail again if started at once.
  if (answered_)
    nextStart_ = {};
  else
    PauseStarts();
  reader_.Clear();
  awaitedId_ = -1;
  awaited_.reset();
  if (handlers_.lost) handlers_.lost();
  // The next player starts now, so that it is ready when the next song is.
  EnsureRunning();
}

int MpvClient::PauseStarts() {
  ++failedStarts_;
  const int pauseMs = std::min(30000, 1000 << std::min(failedStarts_ - 1, 5));
  nextStart_ = Clock::now() + std::chrono::milliseconds(pauseMs);
  return pauseMs;
}

bool MpvClient::Send(const nlohmann::json& command, std::int64_t id) {
  const std::optional<std::string> line = IpcRequestLine(command, id);
  if (!line) return false;  // a text the IPC cannot carry; the player is fine
  if (!channel_->Write(*line)) {
    Lose("the player is gone");
    return false;
  }
  return true;
}

bool MpvClient::Post(const nlohmann::json& command) {
  if (!EnsureRunning()) return false;
  return Send(command, ++nextId_);
}

MpvClient::Reply MpvClient::Call(const nlohmann::json& command) {
  if (!EnsureRunning()) return {};
  const std::int64_t id = ++nextId_;
  if (!Send(command, id)) return {};
  awaitedId_ = id;
  awaited_.reset();
  const int bound = answered_ ? settings_.replyTimeoutMs : settings_.startTimeoutMs;
  const auto deadline = Clock::now() + std::chrono::milliseconds(bound);
  while (!awaited_) {
    if (RemainingMs(deadline) == 0) {
      Lose("the player did not answer in " + std::to_string(bound) + " ms");
      return {};
    }
    if (!Pump(RemainingMs(deadline))) return {};
  }
  awaitedId_ = -1;
  Reply reply;
  reply.answered = true;
  reply.success = awaited_->success;
  reply.data = std::move(awaited_->data);
  awaited_.reset();
  return reply;
}

void MpvClient::Poll() {
  if (channel_->Running()) Pump(0);
}

bool MpvClient::WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (!channel_->Running() || RemainingMs(deadline) == 0) return false;
    if (!Pump(RemainingMs(deadline))) return false;
  }
  return true;
}

bool MpvClient::Pump(int timeoutMs) {
  char chunk[kReadChunk];
  const long got = channel_->Read(chunk, sizeof chunk, timeoutMs);
  if (got < 0) {
    Lose("the player ended");
    return false;
  }
  if (got == 0) return true;
  if (!reader_.Append(chunk, static_cast<std::size_t>(got))) {
    Lose("the player wrote a line longer than " + std::to_string(kMaxIpcLine) + " bytes");
    return false;
  }
  while (std::optional<std::string> line = reader_.NextLine()) {
    Handle(*line);
    if (!channel_->Running()) return false;  // the line was not IPC
  }
  return true;
}

void MpvClient::Handle(const std::string& line) {
  IpcMessage message = ParseIpcLine(line);
  switch (message.kind) {
    case IpcMessage::Kind::kInvalid:
      Lose("the player wrote what is no IPC");
      return;
    case IpcMessage::Kind::kReply:
      answered_ = true;
      failedStarts_ = 0;
      if (message.requestId == awaitedId_) awaited_ = std::move(message);
      return;  // a reply nobody waits for (a posted request) is dropped
    case IpcMessage::Kind::kEvent:
      answered_ = true;
      failedStarts_ = 0;
      if (handlers_.event) handlers_.event(message);
      return;
  }
}

}  // namespace quor::drivers
