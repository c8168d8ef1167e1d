#pragma once
// The decoder driver for ordinary PCs: one libmpv player behind the decoder
// requests.
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
// libmpv events are drained with a zero timeout at the start of every request;
// the wakeup callback only signals a condition variable that the open waits on.

#include <mpv/client.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "drivers/DecoderRequest.h"

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

class MpvDriver {
 public:
  // Throws std::runtime_error when libmpv cannot be set up.
  explicit MpvDriver(const std::map<std::string, std::string>& options);
  ~MpvDriver();
  MpvDriver(const MpvDriver&) = delete;
  MpvDriver& operator=(const MpvDriver&) = delete;

  std::intptr_t Handle(std::uint32_t message, std::intptr_t lParam1, std::intptr_t lParam2);

 private:
  // The driver's own option x11-screen: the video on that X screen.
  static void UseX11Screen(const std::string& screen);
  std::uint32_t Request(QuorDecoderRequest request, std::uint32_t argument, std::intptr_t lParam2);
  std::uint32_t OpenFile(const char* path);
  std::uint32_t GetValue(std::uint16_t code);
  std::uint32_t Position();
  std::uint32_t CountAudioTracks();
  void ApplyMix();
  void Stop();
  void DrainEvents();
  bool SetFlag(const char* name, bool value);
  bool Command(std::initializer_list<const char*> words);
  bool IsLive(std::uint8_t handle) const { return live_ && handle == stream_; }
  static void Wakeup(void* self);

  mpv_handle* mpv_ = nullptr;
  unsigned openTimeoutMs_ = 5000;

  // Stream state, caller's thread only.
  std::uint8_t stream_ = 0;    // handle of the stream last opened, 0 = none yet
  bool live_ = false;          // open and not ended
  bool started_ = false;       // mpv began the file we loaded last
  bool loaded_ = false;        // mpv has loaded it
  bool failed_ = false;        // mpv ended it before it loaded
  std::int64_t entryId_ = -1;  // mpv's playlist entry of the live stream
  std::uint32_t lastPositionMs_ = 1;
  std::uint32_t lengthMs_ = 0;
  std::uint32_t audioTracks_ = 0;
  std::uint32_t seekTarget_ = 0;
  std::uint32_t volume_ = kStartLevel << 16 | kStartLevel;
  std::uint32_t mixLeft_ = kDecoderMixTakeLeft;
  std::uint32_t mixRight_ = kDecoderMixTakeRight;
  std::string appliedFilter_;

  // Guarded by wakeMutex_: set by the wakeup callback (any libmpv thread).
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  bool woken_ = false;
};

}  // namespace quor::drivers
