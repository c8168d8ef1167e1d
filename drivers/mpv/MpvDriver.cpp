#include "drivers/mpv/MpvDriver.h"

#include <ini.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "platform/Codepage.h"
#include "platform/Share.h"

namespace quor::drivers {

namespace {

constexpr const char* kSection = "reeldrv-mpv";
constexpr const char* kMixLabel = "@quormix";

int OptionHandler(void* user, const char* section, const char* name, const char* value) {
  if (::strcasecmp(section, kSection) != 0) return 1;
  std::string key(name);
  std::transform(key.begin(), key.end(), key.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  static_cast<std::map<std::string, std::string>*>(user)->emplace(key, value);
  return 1;
}

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// "g*cN" terms of one output channel of the pan filter.
std::string PanTerms(std::uint32_t mix, double gain) {
  const double fromLeft = (mix & 0xFFFF) / 100.0 * gain;
  const double fromRight = (mix >> 16) / 100.0 * gain;
  char text[96];
  std::snprintf(text, sizeof text, "%.4g*c0+%.4g*c1", fromLeft, fromRight);
  return text;
}

}  // namespace

std::map<std::string, std::string> ReadMpvOptions(const char* iniPath) {
  std::map<std::string, std::string> options;
  if (iniPath == nullptr || *iniPath == '\0') return options;
  const int error = ini_parse(iniPath, &OptionHandler, &options);
  if (error > 0) std::fprintf(stderr, "reeldrv-mpv: %s: cannot read line %d\n", iniPath, error);
  return options;
}

std::string MixFilter(std::uint32_t mixLeft, std::uint32_t mixRight, std::uint32_t volume) {
  const std::uint32_t levelLeft = std::min(volume & 0xFFFF, kMaxLevel);
  const std::uint32_t levelRight = std::min(volume >> 16, kMaxLevel);
  const std::uint32_t louder = std::max(levelLeft, levelRight);
  const bool balanced = levelLeft == levelRight || louder == 0;
  if (mixLeft == kDecoderMixTakeLeft && mixRight == kDecoderMixTakeRight && balanced) return {};
  // mpv's own volume carries the louder level; the softer side is scaled here.
  const double gainLeft = balanced ? 1.0 : static_cast<double>(levelLeft) / louder;
  const double gainRight = balanced ? 1.0 : static_cast<double>(levelRight) / louder;
  return std::string(kMixLabel) + ":lavfi=[pan=stereo|c0=" + PanTerms(mixLeft, gainLeft) +
         "|c1=" + PanTerms(mixRight, gainRight) + "]";
}

std::optional<std::string> DisplayOnScreen(std::string_view display, std::string_view screen) {
  const auto isNumber = [](std::string_view text, std::size_t most) {
    return !text.empty() && text.size() <= most &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (!isNumber(screen, 3) || std::stoi(std::string(screen)) > 255) return std::nullopt;
  const auto colon = display.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view number = display.substr(colon + 1);
  if (const auto dot = number.find('.'); dot != std::string_view::npos) {
    if (!isNumber(number.substr(dot + 1), 5)) return std::nullopt;
    number = number.substr(0, dot);
  }
  if (!isNumber(number, 5)) return std::nullopt;
  return std::string(display.substr(0, colon + 1)) + std::string(number) + "." +
         std::string(screen);
}

std::string LocalMediaPath(const std::string& stored) {
  std::string mapped = platform::MapSharePath(stored);
  if (IsRegularFile(mapped)) return mapped;
  try {
    std::string utf8 = platform::GbkToUtf8(mapped);
    if (utf8 != mapped && IsRegularFile(utf8)) return utf8;
  } catch (const std::exception&) {
    // not GBK text: the bytes as they are
  }
  return mapped;
}

MpvDriver::MpvDriver(const std::map<std::string, std::string>& options) {
  mpv_ = mpv_create();
  if (mpv_ == nullptr) throw std::runtime_error("reeldrv-mpv: cannot create the player");
  // Our defaults first: no user configuration, no input handling of mpv's
  // own, stay idle between songs, load every file paused.
  const std::pair<const char*, const char*> defaults[] = {{"config", "no"},
                                                          {"terminal", "no"},
                                                          {"idle", "yes"},
                                                          {"keep-open", "no"},
                                                          {"input-default-bindings", "no"},
                                                          {"input-vo-keyboard", "no"},
                                                          {"osc", "no"},
                                                          {"ytdl", "no"},
                                                          {"audio-display", "no"},
                                                          {"pause", "yes"}};
  for (const auto& [name, value] : defaults) mpv_set_option_string(mpv_, name, value);
  for (const auto& [name, value] : options) {
    if (name == "open-timeout") {
      const long ms = std::strtol(value.c_str(), nullptr, 10);
      openTimeoutMs_ = static_cast<unsigned>(std::clamp(ms, 100L, 60000L));
      continue;
    }
    if (name == "x11-screen") {
      UseX11Screen(value);
      continue;
    }
    const int error = mpv_set_option_string(mpv_, name.c_str(), value.c_str());
    if (error < 0) {
      std::fprintf(stderr, "reeldrv-mpv: option %s=%s: %s\n", name.c_str(), value.c_str(),
                   mpv_error_string(error));
    }
  }
  const int error = mpv_initialize(mpv_);
  if (error < 0) {
    mpv_terminate_destroy(mpv_);
    mpv_ = nullptr;
    throw std::runtime_error(std::string("reeldrv-mpv: ") + mpv_error_string(error));
  }
  mpv_request_log_messages(mpv_, "error");
  mpv_set_wakeup_callback(mpv_, &MpvDriver::Wakeup, this);
  const double volume = kStartLevel / 2.0;
  mpv_set_property(mpv_, "volume", MPV_FORMAT_DOUBLE, const_cast<double*>(&volume));
}

void MpvDriver::UseX11Screen(const std::string& screen) {
  // libmpv's X11 outputs open the display named by DISPLAY and use its
  // default screen; there is no option for another one. So the display name
  // is changed for the process, before libmpv starts a thread or opens a
  // window. The terminal has opened its own X connections by the time its
  // driver is opened (window, keys, display mode), so they stay on their
  // screen.
  const char* display = std::getenv("DISPLAY");
  const std::optional<std::string> name =
      DisplayOnScreen(display != nullptr ? display : "", screen);
  if (!name) {
    std::fprintf(stderr, "reeldrv-mpv: x11-screen=%s: no X screen %s of DISPLAY \"%s\"\n",
                 screen.c_str(), screen.c_str(), display != nullptr ? display : "");
    return;
  }
  ::setenv("DISPLAY", name->c_str(), 1);
}

MpvDriver::~MpvDriver() {
  mpv_set_wakeup_callback(mpv_, nullptr, nullptr);
  mpv_terminate_destroy(mpv_);
}

void MpvDriver::Wakeup(void* self) {
  // Called from libmpv's threads: only signal, never touch the player here.
  auto* driver = static_cast<MpvDriver*>(self);
  {
    std::lock_guard<std::mutex> guard(driver->wakeMutex_);
    driver->woken_ = true;
  }
  driver->wake_.notify_all();
}

void MpvDriver::DrainEvents() {
  while (true) {
    mpv_event* event = mpv_wait_event(mpv_, 0);
    switch (event->event_id) {
      case MPV_EVENT_NONE:
        return;
      case MPV_EVENT_START_FILE:
        // Only loadfile starts a file (one entry, idle afterwards), so the
        // first start after it is the stream we loaded.
        if (live_ && !started_) {
          entryId_ = static_cast<mpv_event_start_file*>(event->data)->playlist_entry_id;
          started_ = true;
        }
        break;
      case MPV_EVENT_FILE_LOADED:
        if (started_) loaded_ = true;
        break;
      case MPV_EVENT_END_FILE: {
        const auto* end = static_cast<mpv_event_end_file*>(event->data);
        if (started_ && end->playlist_entry_id == entryId_) {
          if (!loaded_) failed_ = true;
          live_ = false;
          if (end->reason == MPV_END_FILE_REASON_ERROR) {
            std::fprintf(stderr, "reeldrv-mpv: %s\n", mpv_error_string(end->error));
          }
        }
        break;
      }
      case MPV_EVENT_LOG_MESSAGE: {
        const auto* message = static_cast<mpv_event_log_message*>(event->data);
        std::fprintf(stderr, "reeldrv-mpv: [%s] %s", message->prefix, message->text);
        break;
      }
      case MPV_EVENT_SHUTDOWN:
        live_ = false;
        break;
      default:
        break;
    }
  }
}

bool MpvDriver::Command(std::initializer_list<const char*> words) {
  const char* args[8] = {};
  std::size_t count = 0;
  for (const char* word : words) {
    if (count + 1 < std::size(args)) args[count++] = word;
  }
  return mpv_command(mpv_, args) >= 0;
}

bool MpvDriver::SetFlag(const char* name, bool value) {
  int flag = value ? 1 : 0;
  return mpv_set_property(mpv_, name, MPV_FORMAT_FLAG, &flag) >= 0;
}

std::intptr_t MpvDriver::Handle(std::uint32_t message, std::intptr_t lParam1,
                                std::intptr_t lParam2) {
  DrainEvents();
  if (message == kDecoderMessage) {
    const auto argument = static_cast<std::uint32_t>(static_cast<std::uintptr_t>(lParam2));
    return Request(QuorUnpackDecoderRequest(lParam1), argument, lParam2);
  }
  if (message == kDrvQueryProperty) {
    const auto* name = reinterpret_cast<const char*>(lParam1);
    if (name == nullptr) return 0;
    char* text = mpv_get_property_string(mpv_, name);
    if (text == nullptr) return 0;
    const std::intptr_t result = CopyPropertyText(text, lParam2);
    mpv_free(text);
    return result;
  }
  return 0;
}

std::uint32_t MpvDriver::Request(QuorDecoderRequest request, std::uint32_t argument,
                                 std::intptr_t lParam2) {
  // Volume and mix are settings of the player, taken whatever the handle.
  if (request.command == kDecoderCommandGetValue) {
    if (request.code == kDecoderCodeVolume) return volume_;
    if (request.code == kDecoderCodeMixLeft) return mixLeft_;
    if (request.code == kDecoderCodeMixRight) return mixRight_;
  }
  if (request.command == kDecoderCommandSetValue) {
    if (request.code == kDecoderCodeVolume) {
      const std::uint32_t left = std::min(argument & 0xFFFF, kMaxLevel);
      const std::uint32_t right = std::min(argument >> 16, kMaxLevel);
      volume_ = right << 16 | left;
      const double volume = std::max(left, right) / 2.0;
      mpv_set_property(mpv_, "volume", MPV_FORMAT_DOUBLE, const_cast<double*>(&volume));
    } else if (request.code == kDecoderCodeMixLeft) {
      mixLeft_ = argument;
    } else if (request.code == kDecoderCodeMixRight) {
      mixRight_ = argument;
    } else {
      return 0;
    }
    ApplyMix();
    return 1;
  }
  if (request.command == kDecoderCommandOpenFile)
    return OpenFile(reinterpret_cast<const char*>(lParam2));
  if (!IsLive(request.handle)) return 0;
  switch (request.command) {
    case kDecoderCommandGetValue:
      return GetValue(request.code);
    case kDecoderCommandControl:
      if (request.code == kDecoderControlPlay || request.code == kDecoderControlResume) {
        return SetFlag("pause", false) ? 1 : 0;
      }
      if (request.code == kDecoderControlSeek && argument == kDecoderCodeSeekTarget) {
        const std::string seconds = std::to_string(seekTarget_ / 1000.0);
        return Command({"seek", seconds.c_str(), "absolute+exact"}) ? 1 : 0;
      }
      return 0;
    case kDecoderCommandPause:
      return SetFlag("pause", true) ? 1 : 0;
    case kDecoderCommandEndStream:
      Stop();
      return 1;
    case kDecoderCommandSetParam:
      if (request.code == kDecoderCodeSeekTarget) {
        seekTarget_ = argument;
        return 1;
      }
      if (request.code == kDecoderCodeSpeed && argument >= 1 && argument <= 10000) {
        double speed = argument / 100.0;
        return mpv_set_property(mpv_, "speed", MPV_FORMAT_DOUBLE, &speed) >= 0 ? 1 : 0;
      }
      return 0;
    case kDecoderCommandSelect: {
      if (request.code != kDecoderCodeTrack) return 0;
      std::int64_t track = argument >= 1 && argument <= audioTracks_ ? argument : 1;
      const bool selected = mpv_set_property(mpv_, "aid", MPV_FORMAT_INT64, &track) >= 0;
      ApplyMix();  // the new track may have another channel count
      return selected ? 1 : 0;
    }
    default:
      return 0;
  }
}

void MpvDriver::Stop() {
  if (live_) Command({"stop"});
  live_ = false;
}

std::uint32_t MpvDriver::OpenFile(const char* path) {
  // A new song replaces whatever plays, also when it cannot be opened.
  Stop();
  if (path == nullptr || *path == '\0') return 0;
  std::string local = LocalMediaPath(path);
  if (!IsRegularFile(local)) {
    std::fprintf(stderr, "reeldrv-mpv: no such file: %s\n", local.c_str());
    return 0;
  }
  // Never let a file name read as a protocol or an option.
  if (local.front() != '/') local = "./" + local;

  SetFlag("pause", true);
  mpv_set_property_string(mpv_, "aid", "auto");
  double speed = 1.0;
  mpv_set_property(mpv_, "speed", MPV_FORMAT_DOUBLE, &speed);
  mixLeft_ = kDecoderMixTakeLeft;
  mixRight_ = kDecoderMixTakeRight;
  ApplyMix();

  stream_ = NextStreamHandle(stream_);
  live_ = true;
  started_ = loaded_ = failed_ = false;
  entryId_ = -1;
  lastPositionMs_ = 1;
  seekTarget_ = 0;
  if (!Command({"loadfile", local.c_str(), "replace"})) {
    live_ = false;
    return 0;
  }
  // The caller reads the length and the tracks right after the open, so wait
  // (bounded) until mpv has loaded the file.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(openTimeoutMs_);
  while (true) {
    {
      std::lock_guard<std::mutex> guard(wakeMutex_);
      woken_ = false;
    }
    DrainEvents();
    if (loaded_ && live_) break;
    if (failed_ || !live_) {
      live_ = false;
      return 0;
    }
    std::unique_lock<std::mutex> lock(wakeMutex_);
    if (!wake_.wait_until(lock, deadline, [this] { return woken_; })) {
      lock.unlock();
      std::fprintf(stderr, "reeldrv-mpv: %s did not load in %u ms\n", local.c_str(),
                   openTimeoutMs_);
      Stop();
      return 0;
    }
  }
  double duration = 0;
  lengthMs_ = mpv_get_property(mpv_, "duration", MPV_FORMAT_DOUBLE, &duration) >= 0
                  ? static_cast<std::uint32_t>(std::llround(std::max(duration, 0.0) * 1000))
                  : 0;
  audioTracks_ = CountAudioTracks();
  return stream_;
}

std::uint32_t MpvDriver::CountAudioTracks() {
  std::int64_t count = 0;
  if (mpv_get_property(mpv_, "track-list/count", MPV_FORMAT_INT64, &count) < 0) return 0;
  std::uint32_t audio = 0;
  for (std::int64_t i = 0; i < count && i < 1000; ++i) {
    const std::string name = "track-list/" + std::to_string(i) + "/type";
    char* type = mpv_get_property_string(mpv_, name.c_str());
    if (type != nullptr && std::string_view(type) == "audio") ++audio;
    mpv_free(type);
  }
  return audio;
}

std::uint32_t MpvDriver::GetValue(std::uint16_t code) {
  switch (code) {
    case kDecoderCodePosition:
      return Position();
    case kDecoderCodeLength:
      return lengthMs_;
    case kDecoderCodeChannelInfo:
      return audioTracks_ >= 2 ? 3 : 2;
    default:
      return 0;
  }
}

std::uint32_t MpvDriver::Position() {
  // Idle means no file, whatever events were missed.
  int idle = 0;
  if (mpv_get_property(mpv_, "idle-active", MPV_FORMAT_FLAG, &idle) >= 0 && idle != 0) {
    live_ = false;
    return 0;
  }
  double seconds = 0;
  if (mpv_get_property(mpv_, "time-pos", MPV_FORMAT_DOUBLE, &seconds) >= 0 && seconds >= 0) {
    const auto ms = std::llround(std::min(seconds, 4.0e6) * 1000);
    // 0 is reserved for "nothing plays": a live stream at its start reads 1.
    lastPositionMs_ = static_cast<std::uint32_t>(std::max<long long>(ms, 1));
  }
  return lastPositionMs_;
}

void MpvDriver::ApplyMix() {
  std::string filter = MixFilter(mixLeft_, mixRight_, volume_);
  // A mono track has nothing to mix: the filter would only make two channels
  // of it and restart the audio output mid-song (with some outputs playback
  // then never reaches the end of the file).
  std::int64_t channels = 0;
  if (mpv_get_property(mpv_, "current-tracks/audio/demux-channel-count", MPV_FORMAT_INT64,
                       &channels) >= 0 &&
      channels == 1) {
    filter.clear();
  }
  if (filter == appliedFilter_) return;
  if (!appliedFilter_.empty()) Command({"af", "remove", kMixLabel});
  appliedFilter_.clear();
  if (filter.empty()) return;
  if (Command({"af", "add", filter.c_str()})) {
    appliedFilter_ = filter;
  } else {
    std::fprintf(stderr, "reeldrv-mpv: cannot set the channel mix %s\n", filter.c_str());
  }
}

}  // namespace quor::drivers
