#pragma once
// The simulated decoder: plays nothing, keeps the position of one stream in
// real time and logs every request it gets.
//
// Length: a "-<seconds>s" token at the end of the file name's stem gives the
// length ("song-200s.mpg" = 200 s), else 180 s. A "-<n>a" token names the
// number of audio tracks ("song-200s-2a.mpg"), else 1. A "-broken" token
// makes a file the decoder cannot play: its open gives handle 0. Tokens may
// come in any order.
//
// Log: with QUORVOD_DRIVER_LOG naming a file at open, every message is
// appended as one line "msg lParam1 lParam2 -> result", all four numbers
// unsigned decimal; an open-file request adds one blank and the path text
// (control characters shown as '?'). Lines are flushed one by one.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "drivers/DecoderRequest.h"

namespace quor::drivers {

struct SimFileInfo {
  std::uint32_t lengthMs = 180000;
  std::uint32_t audioTracks = 1;
  bool playable = true;
};

SimFileInfo ParseSimFileName(std::string_view path);

class SimDriver {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr const char* kName = "reeldrv-sim";

  explicit SimDriver(const QuorDriverOpenInfo* info = nullptr);
  ~SimDriver();
  SimDriver(const SimDriver&) = delete;
  SimDriver& operator=(const SimDriver&) = delete;

  // One message; logs it with its result.
  std::intptr_t Handle(std::uint32_t message, std::intptr_t lParam1, std::intptr_t lParam2);

  // The open goes into the log too, with the instance id as its result.
  void Opened(std::intptr_t lParam1, std::intptr_t lParam2, std::intptr_t id) {
    Log(kDrvOpen, lParam1, lParam2, id, {});
  }

  void Log(std::uint32_t message, std::intptr_t lParam1, std::intptr_t lParam2,
           std::intptr_t result, const std::string& pathText);

 private:
  std::uint32_t Request(QuorDecoderRequest request, std::intptr_t lParam2, std::string* pathText);
  std::uint32_t OpenFile(const char* path, std::string* pathText);
  std::uint32_t GetValue(std::uint16_t code);
  // Position now in ms; marks the stream ended once it reaches the length.
  std::uint32_t Position();
  // Folds the running time into basePositionMs_ (before any change of
  // speed, pause or position).
  void Settle();
  bool IsCurrent(std::uint8_t handle) const { return live_ && handle == stream_; }

  std::FILE* log_ = nullptr;
  std::uint8_t stream_ = 0;  // handle of the stream last opened; 0 = none yet
  bool live_ = false;        // the stream is open and has not ended
  bool running_ = false;     // playing (not paused, not yet started)
  SimFileInfo file_;
  double basePositionMs_ = 0;
  Clock::time_point runningSince_;
  std::uint32_t speedPercent_ = 100;
  std::uint32_t seekTarget_ = 0;
  std::uint32_t track_ = 1;
  std::uint32_t volume_ = kStartLevel << 16 | kStartLevel;
  std::uint32_t mixLeft_ = kDecoderMixTakeLeft;
  std::uint32_t mixRight_ = kDecoderMixTakeRight;
};

}  // namespace quor::drivers
