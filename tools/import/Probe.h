#pragma once
// Opens song files with libavformat to learn what the player will meet: the
// duration and the vocal layout. Files are probed by several workers at once,
// each file within a time limit, so that one broken or slow file (a share
// that stalls) cannot hold the run.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace quor::tools::catalogue {

// How the vocal can be switched off, as the decoder driver sees the file:
// two or more audio tracks (one with the vocal, one without), or one stereo
// track with the vocal on one side (the channel mix), or neither.
inline constexpr const char* kVocalTracks = "tracks";
inline constexpr const char* kVocalStereo = "stereo";
inline constexpr const char* kVocalMono = "mono";
inline constexpr const char* kVocalNone = "none";  // no audio at all

struct ProbeResult {
  bool ok = false;
  std::string error;  // why the file could not be opened
  std::int64_t durationMs = 0;
  std::string vocal;
};

struct ProbeControl {
  unsigned workers = 2;
  unsigned secondsPerFile = 20;
  std::atomic<std::uint64_t>* done = nullptr;  // progress, may be null
  const std::atomic<bool>* cancel = nullptr;   // may be null
};

// One result per path, in order. Never throws for a bad file.
std::vector<ProbeResult> ProbeFiles(const std::vector<std::string>& paths,
                                    const ProbeControl& control);

}  // namespace quor::tools::catalogue
