#include "drivers/sim/SimDriver.h"

#include "drivers/DriverEntry.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <exception>

namespace quor::drivers {

namespace {

constexpr std::uint32_t kMaxLengthSeconds = 24 * 3600;

// Reads "<digits><suffix>" from token; false when it is not of that form.
bool ReadToken(std::string_view token, char suffix, std::uint32_t limit, std::uint32_t* value) {
  if (token.size() < 2 || token.back() != suffix) return false;
  std::uint64_t number = 0;
  for (const char c : token.substr(0, token.size() - 1)) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<unsigned>(c - '0');
    if (number > limit) return false;
  }
  *value = static_cast<std::uint32_t>(number);
  return true;
}

}  // namespace

SimFileInfo ParseSimFileName(std::string_view path) {
  SimFileInfo info;
  const auto slash = path.find_last_of("/\\");
  std::string_view stem = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const auto dot = stem.rfind('.');
  if (dot != std::string_view::npos && dot > 0) stem = stem.substr(0, dot);
  bool haveLength = false;
  bool haveTracks = false;
  // Walk "-token" pieces from the end while they are length or track tokens.
  while (true) {
    const auto dash = stem.rfind('-');
    if (dash == std::string_view::npos) break;
    const std::string_view token = stem.substr(dash + 1);
    std::uint32_t value = 0;
    if (!haveLength && ReadToken(token, 's', kMaxLengthSeconds, &value) && value > 0) {
      info.lengthMs = value * 1000;
      haveLength = true;
    } else if (!haveTracks && ReadToken(token, 'a', 255, &value) && value > 0) {
      info.audioTracks = value;
      haveTracks = true;
    } else if (info.playable && token == "broken") {
      info.playable = false;
    } else {
      break;
    }
    stem = stem.substr(0, dash);
  }
  return info;
}

SimDriver::SimDriver(const QuorDriverOpenInfo* /*info*/) {
  const char* logPath = std::getenv("QUORVOD_DRIVER_LOG");
  if (logPath != nullptr && *logPath != '\0') {
    log_ = std::fopen(logPath, "a");
    if (log_ == nullptr) std::fprintf(stderr, "reeldrv-sim: cannot write %s\n", logPath);
  }
}

SimDriver::~SimDriver() {
  if (log_ != nullptr) std::fclose(log_);
}

std::intptr_t SimDriver::Handle(std::uint32_t message, std::intptr_t lParam1,
                                std::intptr_t lParam2) {
  std::string pathText;
  std::intptr_t result = 0;
  if (message == kDecoderMessage) {
    result = Request(QuorUnpackDecoderRequest(lParam1), lParam2, &pathText);
  } else if (message == kDrvClose) {
    result = 1;
  }
  Log(message, lParam1, lParam2, result, pathText);
  return result;
}

std::uint32_t SimDriver::Request(QuorDecoderRequest request, std::intptr_t lParam2,
                                 std::string* pathText) {
  const auto argument = static_cast<std::uint32_t>(static_cast<std::uintptr_t>(lParam2));
  switch (request.command) {
    case kDecoderCommandOpenFile:
      return OpenFile(reinterpret_cast<const char*>(lParam2), pathText);
    case kDecoderCommandGetValue:
      if (request.code == kDecoderCodeVolume) return volume_;
      if (request.code == kDecoderCodeMixLeft) return mixLeft_;
      if (request.code == kDecoderCodeMixRight) return mixRight_;
      return IsCurrent(request.handle) ? GetValue(request.code) : 0;
    case kDecoderCommandSetValue:
      if (request.code == kDecoderCodeVolume) {
        const std::uint32_t left = std::min(argument & 0xFFFF, kMaxLevel);
        const std::uint32_t right = std::min(argument >> 16, kMaxLevel);
        volume_ = right << 16 | left;
      } else if (request.code == kDecoderCodeMixLeft) {
        mixLeft_ = argument;
      } else if (request.code == kDecoderCodeMixRight) {
        mixRight_ = argument;
      } else {
        return 0;
      }
      return 1;
    default:
      break;
  }
  if (!IsCurrent(request.handle)) return 0;
  Position();  // notes the end of the stream before acting on it
  if (!live_) return 0;
  switch (request.command) {
    case kDecoderCommandControl:
      if (request.code == kDecoderControlPlay || request.code == kDecoderControlResume) {
        if (!running_) {
          running_ = true;
          runningSince_ = Clock::now();
        }
        return 1;
      }
      if (request.code == kDecoderControlSeek && argument == kDecoderCodeSeekTarget) {
        Settle();
        basePositionMs_ = seekTarget_;
        Position();
        return 1;
      }
      return 0;
    case kDecoderCommandPause:
      Settle();
      running_ = false;
      return 1;
    case kDecoderCommandEndStream:
      live_ = false;
      running_ = false;
      return 1;
    case kDecoderCommandSetParam:
      if (request.code == kDecoderCodeSeekTarget) {
        seekTarget_ = argument;
        return 1;
      }
      if (request.code == kDecoderCodeSpeed && argument >= 1 && argument <= 10000) {
        Settle();
        speedPercent_ = argument;
        return 1;
      }
      return 0;
    case kDecoderCommandSelect:
      if (request.code != kDecoderCodeTrack) return 0;
      track_ = argument >= 1 && argument <= file_.audioTracks ? argument : 1;
      return 1;
    default:
      return 0;
  }
}

std::uint32_t SimDriver::OpenFile(const char* path, std::string* pathText) {
  if (path == nullptr) return 0;
  std::string_view text(path);
  for (const char c : text) {
    pathText->push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
  }
  if (text.empty()) return 0;
  file_ = ParseSimFileName(text);
  if (!file_.playable) {
    // Like a decoder that cannot read the file: the song before is over too.
    live_ = false;
    running_ = false;
    return 0;
  }
  stream_ = NextStreamHandle(stream_);
  live_ = true;
  running_ = false;  // loaded and held at the start until the play control
  basePositionMs_ = 0;
  speedPercent_ = 100;
  seekTarget_ = 0;
  track_ = 1;
  mixLeft_ = kDecoderMixTakeLeft;
  mixRight_ = kDecoderMixTakeRight;
  return stream_;
}

std::uint32_t SimDriver::GetValue(std::uint16_t code) {
  switch (code) {
    case kDecoderCodePosition:
      return Position();
    case kDecoderCodeLength:
      return file_.lengthMs;
    case kDecoderCodeChannelInfo:
      return file_.audioTracks >= 2 ? 3 : 2;
    case kDecoderCodeTrack:
      return track_;
    case kDecoderCodeSpeed:
      return speedPercent_;
    default:
      return 0;
  }
}

void SimDriver::Settle() {
  if (!running_) return;
  const auto now = Clock::now();
  const double elapsed = std::chrono::duration<double, std::milli>(now - runningSince_).count();
  basePositionMs_ += elapsed * speedPercent_ / 100.0;
  runningSince_ = now;
}

std::uint32_t SimDriver::Position() {
  if (!live_) return 0;
  Settle();
  if (basePositionMs_ >= file_.lengthMs) {
    live_ = false;
    running_ = false;
    return 0;
  }
  // A live stream never reports 0: 0 means that nothing is playing.
  return std::max<std::uint32_t>(1, static_cast<std::uint32_t>(basePositionMs_));
}

void SimDriver::Log(std::uint32_t message, std::intptr_t lParam1, std::intptr_t lParam2,
                    std::intptr_t result, const std::string& pathText) {
  if (log_ == nullptr) return;
  std::fprintf(log_, "%" PRIu32 " %" PRIuPTR " %" PRIuPTR " -> %" PRIuPTR "%s%s\n", message,
               static_cast<std::uintptr_t>(lParam1), static_cast<std::uintptr_t>(lParam2),
               static_cast<std::uintptr_t>(result), pathText.empty() ? "" : " ", pathText.c_str());
  std::fflush(log_);
}

}  // namespace quor::drivers

QUOR_DRIVER_ENTRY(quor::drivers::SimDriver)
