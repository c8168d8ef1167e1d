#pragma once
// Builds the demo catalogue in a folder, the way a venue builds its own: it
// writes song files and a singers list, then imports them with quorvod-import's
// code (RunImport), indexes included.
//
//   DIR/media/videos/*.mp4  a few short videos (with video)
//   DIR/media/songs/<language>/<singer>-<title>-<category>-<seconds>s.mp4
//                           one file per song: a link to one of the videos,
//                           or an empty file without video
//   DIR/singers.csv         the singers list (name, sex, photo)
//   DIR/Photo/sNNN.jpg      one 113 x 153 photo per singer
//   DIR/catalogue.db        the imported catalogue (SQLite)
//
// The terminal reaches the songs through the media share: PATH1 holds
// \\quorvod\quorvod\songs\<language>\<file>, and the demo's share root is
// DIR/media. Photos and videos need a QGuiApplication; the rest does not.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Videos.h"

namespace quor::tools::demo {

inline constexpr int kMaleSingers = 30;
inline constexpr int kFemaleSingers = 30;
inline constexpr int kGroupSingers = 12;
inline constexpr std::int64_t kFirstSongNumber = 10001;
inline constexpr const char* kShare = "\\\\quorvod\\quorvod";

struct DemoOptions {
  std::string dir;
  std::int64_t songs = 2000;
  bool photos = true;
  bool videos = true;
  // The length of every video in seconds; 0 gives each its own (15 to 30).
  int videoSeconds = 0;
  std::uint32_t seed = 20261208;
};

// Progress: a stage name, work done and the total.
using Progress =
    std::function<void(const std::string& stage, std::int64_t done, std::int64_t total)>;

// The videos the demo makes; seconds > 0 makes each that long (and names it
// so), 0 gives each its own length.
std::vector<VideoDef> DemoVideos(int seconds = 0);

// Writes the catalogue (replacing one already there, atomically). Throws
// std::runtime_error with a clear text on any failure.
void BuildDemo(const DemoOptions& options, const Progress& progress);

}  // namespace quor::tools::demo
