#pragma once
// The decoder driver for ordinary PCs: one mpv player, in a process of its
// own, behind the decoder requests.
//
// Meanings (positions and lengths in milliseconds):
//   open file        loads the (share-mapped) path paused, waits until it is
//                    loaded (bounded by open-timeout), returns handle 1..255,
//                    0 when the file cannot be opened
//   get 518          play position; 0 when nothing plays or at the end, never
//                    0 while a stream is live (at most 1 at its very start)
//   get 531          length
//   get 1538         3 when the file has two or more audio tracks, else 2
//   select 36, n     audio track n (mpv aid); a track the file lacks gives 1
//   set 1297/1298    what the left/right output takes: percent of the left
//                    input in the low 16 bits, of the right in the high 16
//   get/set 1283     two 16-bit levels 0..255 (left low, right high); mpv
//                    volume = louder level / 2, the softer side scaled down
//   set param 512    seek target; control 2 with argument 512 seeks there
//   set param 514    speed in percent
//   control 768 / 4  play / resume; pause; end stream = stop
// Requests naming another stream than the live one get 0 and change nothing.
//
// The player runs out of the terminal's process and is reached through its
// JSON IPC (MpvClient). Its events are taken without waiting at the start of
// every request; the open waits for them, bounded. A player that dies, hangs
// or writes nonsense is replaced by a new one; the song it played is over
// (position 0), so the queue moves on as after a song's end. Volume and mix
// are settings of the room and carry over to the new player.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "drivers/DecoderRequest.h"
#include "drivers/mpv/MpvClient.h"

namespace quor::drivers {

// The options of the driver's section of drivers.ini ([reeldrv-mpv]), keys
// lower-cased; missing file or section gives none.
std::map<std::string, std::string> ReadMpvOptions(const char* iniPath);

// The audio filter for a channel mix and volume levels, in mpv's filter list
// syntax with the label @quormix; empty when nothing needs changing (left
// takes left, right takes right, equal levels).
std::string MixFilter(std::uint32_t mixLeft, std::uint32_t mixRight, std::uint32_t volume);

// The X display name that puts the video on X screen `screen` of `display`
// (the room's TV as a screen of its own, as Xvfb and a classic two-screen X
// server have it): host:number.screen. nullopt when display is not of the
// form [host]:number[.screen] or screen is not a number 0..255.
std::optional<std::string> DisplayOnScreen(std::string_view display, std::string_view screen);

// The local file for a path as stored in the catalogue: UNC paths mapped
// under the share root; GBK text turned to UTF-8 when that names an existing
// file and the bytes as they are do not.
std::string LocalMediaPath(const std::string& stored);

// The driver's own keys of [reeldrv-mpv]; every other key is an mpv option.
struct MpvDriverSettings {
  unsigned openTimeoutMs = 2000;
  MpvClientSettings client;
  std::string program = "mpv";
  std::string x11Screen;
};

// Splits the options of [reeldrv-mpv] into the driver's own settings and the
// player's options (given back).
MpvDriverSettings TakeDriverSettings(std::map<std::string, std::string>& options);

// How the player is started: mpv with the driver's defaults, then the
// options of drivers.ini through the include file; DISPLAY of the player set
// to the X screen x11-screen names (the terminal's own is left alone).
PlayerCommand MpvCommand(const MpvDriverSettings& settings,
                         const std::map<std::string, std::string>& options);

class MpvDriver {
 public:
  static constexpr const char* kName = "reeldrv-mpv";

  // The options of the [reeldrv-mpv] section of the drivers.ini in info.
  explicit MpvDriver(const QuorDriverOpenInfo* info);
  // The player is reached through channel (tests and the fuzz target give
  // their own).
  MpvDriver(const MpvDriverSettings& settings, std::unique_ptr<PlayerChannel> channel);
  ~MpvDriver();
  MpvDriver(const MpvDriver&) = delete;
  MpvDriver& operator=(const MpvDriver&) = delete;

  std::intptr_t Handle(std::uint32_t message, std::intptr_t lParam1, std::intptr_t lParam2);

 private:
  struct Setup {
    MpvDriverSettings settings;
    std::unique_ptr<PlayerChannel> channel;
  };
  static Setup SetupFrom(const QuorDriverOpenInfo* info);
  explicit MpvDriver(Setup setup);

  std::uint32_t Request(QuorDecoderRequest request, std::uint32_t argument, std::intptr_t lParam2);
  std::uint32_t OpenFile(const char* path);
  std::uint32_t GetValue(std::uint16_t code);
  std::uint32_t Position();
  std::intptr_t QueryProperty(const char* name, std::intptr_t lParam2);
  void ApplyMix();
  void Stop();
  void OnEvent(const IpcMessage& message);
  void OnStarted();
  void OnLost();
  bool SetFlag(const char* name, bool value);
  bool SetNumber(const char* name, double value);
  bool Command(const nlohmann::json& words);
  bool IsLive(std::uint8_t handle) const { return live_ && handle == stream_; }

  unsigned openTimeoutMs_ = 2000;
  std::unique_ptr<MpvClient> player_;

  // Stream state.
  std::uint8_t stream_ = 0;    // handle of the stream last opened, 0 = none yet
  bool live_ = false;          // open and not ended
  bool started_ = false;       // the player began the entry we loaded last
  bool loaded_ = false;        // and has loaded it
  bool failed_ = false;        // it ended before it loaded
  std::int64_t entryId_ = -1;  // the player's playlist entry of the live stream
  std::uint32_t lastPositionMs_ = 1;
  std::uint32_t lengthMs_ = 0;
  std::uint32_t audioTracks_ = 0;
  std::uint32_t seekTarget_ = 0;
  std::uint32_t volume_ = kStartLevel << 16 | kStartLevel;
  std::uint32_t mixLeft_ = kDecoderMixTakeLeft;
  std::uint32_t mixRight_ = kDecoderMixTakeRight;
  std::string appliedFilter_;
};

}  // namespace quor::drivers
