#pragma once
// The demo's song videos: a still title card with a tone on the left channel
// and another on the right (the two "tracks" a karaoke file carries), made by
// running ffmpeg as a child process.

#include <string>

namespace quor::tools::demo {

struct VideoDef {
  std::string file;  // name under media/songs, ending in -<seconds>s.mp4
  int seconds = 20;
  int leftHz = 440;
  int rightHz = 660;
  // The title card's background, a gradient from the top-left corner to the
  // bottom-right one (0xRRGGBB): each video its own, so that the TV shows
  // which one plays.
  unsigned fromRgb = 0x1c245c;
  unsigned toRgb = 0x5c1c4a;
};

// Writes the video from a picture file; throws std::runtime_error with
// ffmpeg's failure (or its absence) in the text.
void MakeVideo(const std::string& picture, const std::string& out, const VideoDef& def);

}  // namespace quor::tools::demo
