#pragma once
// What a run tells the venue: a text summary for a person, or JSON for a
// script (every list whole), and the progress line shown while it runs.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "Import.h"

namespace quor::tools::catalogue {

// Lists show at most `listLimit` entries each, then "... and N more".
std::string TextReport(const ImportReport& report, std::size_t listLimit = 20);
std::string JsonReport(const ImportReport& report);

// The progress line on a terminal: the stage, a bar when the total is known,
// items per second and the time left. Called from any thread.
class ProgressLine {
 public:
  explicit ProgressLine(std::FILE* out) : out_(out) {}
  void Update(const std::string& stage, std::uint64_t done, std::uint64_t total);
  // Ends the line (the next output starts on a fresh line).
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  std::mutex mutex_;
  std::FILE* out_;
  std::string stage_;        // guarded by mutex_
  Clock::time_point since_;  // guarded by mutex_: when the stage began
  Clock::time_point shown_;  // guarded by mutex_: the last line drawn
  bool open_ = false;        // guarded by mutex_: a line is on screen
};

}  // namespace quor::tools::catalogue
