#include "drivers/mpv/MpvDriver.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace quor::drivers {
namespace {

using nlohmann::json;

constexpr const char* kMixLabel = "@quormix";

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

MpvDriver::Setup MpvDriver::SetupFrom(const QuorDriverOpenInfo* info) {
  std::map<std::string, std::string> options =
      ReadMpvOptions(info != nullptr ? info->iniPath : nullptr);
  Setup setup;
  setup.settings = TakeDriverSettings(options);
  setup.channel = std::make_unique<MpvProcess>(MpvCommand(setup.settings, options));
  return setup;
}

MpvDriver::MpvDriver(const QuorDriverOpenInfo* info) : MpvDriver(SetupFrom(info)) {}

MpvDriver::MpvDriver(Setup setup) : MpvDriver(setup.settings, std::move(setup.channel)) {}

MpvDriver::MpvDriver(const MpvDriverSettings& settings, std::unique_ptr<PlayerChannel> channel)
    : openTimeoutMs_(settings.openTimeoutMs) {
  MpvClient::Handlers handlers;
  handlers.event = [this](const IpcMessage& message) { OnEvent(message); };
  handlers.started = [this] { OnStarted(); };
  handlers.lost = [this] { OnLost(); };
  player_ = std::make_unique<MpvClient>(std::move(channel), settings.client, std::move(handlers));
  // The player starts with the driver, so that it is ready for the first
  // song; one that cannot start is tried again when a song needs it.
  player_->EnsureRunning();
}

MpvDriver::~MpvDriver() = default;

void MpvDriver::OnStarted() {
  // A new player knows nothing of the room's settings: the volume and the
  // error log first, without waiting (it is still setting itself up).
  appliedFilter_.clear();
  player_->Post(json::array({"request_log_messages", "error"}));
  const double volume = std::max(volume_ & 0xFFFF, volume_ >> 16) / 2.0;
  player_->Post(json::array({"set_property", "volume", volume}));
}

void MpvDriver::OnLost() {
  // Whatever played has ended with the player.
  live_ = false;
  appliedFilter_.clear();
}

void MpvDriver::OnEvent(const IpcMessage& message) {
  if (message.event == "start-file") {
    if (live_ && !started_ && (entryId_ < 0 || message.playlistEntryId == entryId_)) {
      entryId_ = message.playlistEntryId;
      started_ = true;
    }
  } else if (message.event == "file-loaded") {
    if (started_) loaded_ = true;
  } else if (message.event == "end-file") {
    if (started_ && message.playlistEntryId == entryId_) {
      if (!loaded_) failed_ = true;
      live_ = false;
      if (message.reason == "error") MpvLog("%s\n", message.fileError.c_str());
    }
  } else if (message.event == "log-message") {
    std::string text = message.text;
    if (!text.empty() && text.back() == '\n') text.pop_back();
    MpvLog("%s\n", text.c_str());
  } else if (message.event == "shutdown") {
    live_ = false;
  }
}

bool MpvDriver::Command(const json& words) {
  const MpvClient::Reply reply = player_->Call(words);
  return reply.answered && reply.success;
}

bool MpvDriver::SetFlag(const char* name, bool value) {
  return Command(json::array({"set_property", name, value}));
}

bool MpvDriver::SetNumber(const char* name, double value) {
  return Command(json::array({"set_property", name, value}));
}

std::intptr_t MpvDriver::Handle(std::uint32_t message, std::intptr_t lParam1,
                                std::intptr_t lParam2) {
  player_->Poll();
  if (message == kDecoderMessage) {
    const auto argument = static_cast<std::uint32_t>(static_cast<std::uintptr_t>(lParam2));
    return Request(QuorUnpackDecoderRequest(lParam1), argument, lParam2);
  }
  if (message == kDrvQueryProperty)
    return QueryProperty(reinterpret_cast<const char*>(lParam1), lParam2);
  if (message == kDrvClose) return 1;
  return 0;
}

std::intptr_t MpvDriver::QueryProperty(const char* name, std::intptr_t lParam2) {
  if (name == nullptr) return 0;
  const MpvClient::Reply reply = player_->Call(json::array({"get_property_string", name}));
  const std::optional<std::string> text = reply.success ? TextOf(reply.data) : std::nullopt;
  if (!text) return 0;
  return CopyPropertyText(text->c_str(), lParam2);
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
      SetNumber("volume", std::max(left, right) / 2.0);
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
        return Command(json::array({"seek", seekTarget_ / 1000.0, "absolute+exact"})) ? 1 : 0;
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
        return SetNumber("speed", argument / 100.0) ? 1 : 0;
      }
      return 0;
    case kDecoderCommandSelect: {
      if (request.code != kDecoderCodeTrack) return 0;
      const std::uint32_t track = argument >= 1 && argument <= audioTracks_ ? argument : 1;
      const bool selected = Command(json::array({"set_property", "aid", track}));
      ApplyMix();  // the new track may have another channel count
      return selected ? 1 : 0;
    }
    default:
      return 0;
  }
}

void MpvDriver::Stop() {
  if (live_) Command(json::array({"stop"}));
  live_ = false;
}

std::uint32_t MpvDriver::OpenFile(const char* path) {
  // A new song replaces whatever plays, also when it cannot be opened.
  Stop();
  if (path == nullptr || *path == '\0') return 0;
  const std::string local = LocalMediaPath(path);
  if (!IsRegularFile(local)) {
    MpvLog("no such file: %s\n", local.c_str());
    return 0;
  }
  if (!player_->EnsureRunning()) return 0;

  SetFlag("pause", true);
  Command(json::array({"set_property", "aid", "auto"}));
  SetNumber("speed", 1.0);
  mixLeft_ = kDecoderMixTakeLeft;
  mixRight_ = kDecoderMixTakeRight;
  ApplyMix();

  stream_ = NextStreamHandle(stream_);
  live_ = true;
  started_ = loaded_ = failed_ = false;
  entryId_ = -1;
  lastPositionMs_ = 1;
  seekTarget_ = 0;
  const MpvClient::Reply loaded =
      player_->Call(json::array({"loadfile", MpvFileName(local), "replace"}));
  if (!loaded.answered || !loaded.success) {
    live_ = false;
    return 0;
  }
  // mpv names the playlist entry it made; the events of that entry are ours.
  if (loaded.data.is_object()) {
    if (const auto id = loaded.data.find("playlist_entry_id"); id != loaded.data.end())
      entryId_ = IntegerOf(*id).value_or(-1);
  }
  // The caller reads the length and the tracks right after the open, so wait
  // (bounded) until the player has loaded the file, or given up on it.
  const bool settled = player_->WaitUntil([this] { return (loaded_ && live_) || !live_; },
                                          static_cast<int>(openTimeoutMs_));
  if (!settled || !live_ || failed_) {
    if (live_) {
      MpvLog("%s did not load in %u ms\n", local.c_str(), openTimeoutMs_);
      Stop();
    }
    live_ = false;
    return 0;
  }
  const MpvClient::Reply duration = player_->Call(json::array({"get_property", "duration"}));
  const double seconds = duration.success ? NumberOf(duration.data).value_or(0.0) : 0.0;
  lengthMs_ = static_cast<std::uint32_t>(std::llround(std::clamp(seconds, 0.0, 4.0e6) * 1000));
  const MpvClient::Reply tracks = player_->Call(json::array({"get_property", "track-list"}));
  audioTracks_ = tracks.success ? CountAudioTracks(tracks.data) : 0;
  if (!live_) return 0;  // the player was lost on the way
  return stream_;
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
  const MpvClient::Reply idle = player_->Call(json::array({"get_property", "idle-active"}));
  if (!idle.answered || FlagOf(idle.data).value_or(false)) {
    live_ = false;
    return 0;
  }
  const MpvClient::Reply time = player_->Call(json::array({"get_property", "time-pos"}));
  if (!time.answered) {
    live_ = false;
    return 0;
  }
  if (const std::optional<double> seconds = time.success ? NumberOf(time.data) : std::nullopt;
      seconds && *seconds >= 0) {
    const auto ms = std::llround(std::min(*seconds, 4.0e6) * 1000);
    // 0 is reserved for "nothing plays": a live stream at its start reads 1.
    lastPositionMs_ = static_cast<std::uint32_t>(std::max<long long>(ms, 1));
  }
  return live_ ? lastPositionMs_ : 0;
}

void MpvDriver::ApplyMix() {
  std::string filter = MixFilter(mixLeft_, mixRight_, volume_);
  // A mono track has nothing to mix: the filter would only make two channels
  // of it and restart the audio output mid-song (with some outputs playback
  // then never reaches the end of the file).
  const MpvClient::Reply channels =
      player_->Call(json::array({"get_property", "current-tracks/audio/demux-channel-count"}));
  if (channels.success && IntegerOf(channels.data).value_or(0) == 1) filter.clear();
  if (filter == appliedFilter_) return;
  if (!appliedFilter_.empty()) Command(json::array({"af", "remove", kMixLabel}));
  appliedFilter_.clear();
  if (filter.empty()) return;
  if (Command(json::array({"af", "add", filter}))) {
    appliedFilter_ = filter;
  } else {
    MpvLog("cannot set the channel mix %s\n", filter.c_str());
  }
}

}  // namespace quor::drivers
