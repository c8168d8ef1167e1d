// quorvod-make-demo DIR [--songs N] [--no-video] [--video-seconds S] [--no-photos]
// Makes the demo catalogue: DIR/catalogue.db, singer photos under DIR/Photo
// and a few song videos under DIR/media/songs (point QUORVOD_SHARE_ROOT at
// DIR/media). --songs 200000 makes the catalogue the benchmarks use.

#include <QGuiApplication>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <string>

#include "DemoBuilder.h"

namespace {

void Usage() {
  std::fprintf(stderr,
               "usage: quorvod-make-demo DIR [--songs N] [--no-video] [--video-seconds S] "
               "[--no-photos]\n"
               "  DIR                folder to write catalogue.db, Photo/ and media/songs/ into\n"
               "  --songs N          number of songs (default 2000; 200000 for benchmarks)\n"
               "  --no-video         do not make the song videos (no ffmpeg needed)\n"
               "  --video-seconds S  make every video S seconds long (1 to 3600; by default\n"
               "                     they run 15 to 30 s)\n"
               "  --no-photos        do not draw the singer photos\n");
}

bool ParseCount(const char* text, std::int64_t* out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0') return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quor::tools::demo;
  DemoOptions o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--songs") {
      if (i + 1 >= argc || !ParseCount(argv[i + 1], &o.songs)) {
        std::fprintf(stderr, "quorvod-make-demo: --songs needs a number\n");
        return 2;
      }
      ++i;
    } else if (a == "--video-seconds") {
      std::int64_t seconds = 0;
      if (i + 1 >= argc || !ParseCount(argv[i + 1], &seconds) || seconds < 1 || seconds > 3600) {
        std::fprintf(stderr, "quorvod-make-demo: --video-seconds needs a number from 1 to 3600\n");
        return 2;
      }
      o.videoSeconds = static_cast<int>(seconds);
      ++i;
    } else if (a == "--no-video") {
      o.videos = false;
    } else if (a == "--no-photos") {
      o.photos = false;
    } else if (a == "-h" || a == "--help") {
      Usage();
      return 0;
    } else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "quorvod-make-demo: unknown option %s\n", a.c_str());
      Usage();
      return 2;
    } else if (o.dir.empty()) {
      o.dir = a;
    } else {
      std::fprintf(stderr, "quorvod-make-demo: more than one folder given\n");
      return 2;
    }
  }
  if (o.dir.empty()) {
    Usage();
    return 2;
  }
  // Pictures are drawn off screen; no display is needed.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);

  const auto start = std::chrono::steady_clock::now();
  try {
    if (o.songs > 99999 - kFirstSongNumber + 1)
      std::printf("note: songs past the %lld-th get six-digit numbers (five digits end at 99999)\n",
                  static_cast<long long>(99999 - kFirstSongNumber + 1));
    // The import reports from its own threads while it walks and parses.
    std::mutex printing;
    std::string lastStage;
    BuildDemo(o, [&](const std::string& stage, std::int64_t done, std::int64_t total) {
      std::lock_guard lock(printing);
      if (stage != lastStage && !lastStage.empty()) std::printf("\n");
      lastStage = stage;
      if (total > 0) {
        std::printf("\r%-8s %lld/%lld", stage.c_str(), static_cast<long long>(done),
                    static_cast<long long>(total));
      } else {
        std::printf("\r%-8s %lld", stage.c_str(), static_cast<long long>(done));
      }
      std::fflush(stdout);
    });
    std::printf("\n");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "\nquorvod-make-demo: %s\n", e.what());
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("demo catalogue ready in %s (%lld songs, %d singers, %.1f s)\n", o.dir.c_str(),
              static_cast<long long>(o.songs), kMaleSingers + kFemaleSingers + kGroupSingers,
              seconds);
  if (o.videos) std::printf("song videos: set QUORVOD_SHARE_ROOT=%s/media\n", o.dir.c_str());
  return 0;
}
