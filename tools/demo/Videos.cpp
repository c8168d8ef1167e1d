#include "Videos.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace quor::tools::demo {

void MakeVideo(const std::string& picture, const std::string& out, const VideoDef& def) {
  const std::string d = std::to_string(def.seconds);
  const std::string left =
      "sine=frequency=" + std::to_string(def.leftHz) + ":sample_rate=44100:duration=" + d;
  const std::string right =
      "sine=frequency=" + std::to_string(def.rightHz) + ":sample_rate=44100:duration=" + d;
  std::vector<std::string> args = {"ffmpeg",
                                   "-hide_banner",
                                   "-loglevel",
                                   "error",
                                   "-nostdin",
                                   "-y",
                                   "-loop",
                                   "1",
                                   "-framerate",
                                   "5",
                                   "-i",
                                   picture,
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   left,
                                   "-f",
                                   "lavfi",
                                   "-i",
                                   right,
                                   "-filter_complex",
                                   "[1:a][2:a]join=inputs=2:channel_layout=stereo[a]",
                                   "-map",
                                   "0:v",
                                   "-map",
                                   "[a]",
                                   "-t",
                                   d,
                                   "-c:v",
                                   "mpeg4",
                                   "-q:v",
                                   "6",
                                   "-pix_fmt",
                                   "yuv420p",
                                   "-c:a",
                                   "aac",
                                   "-b:a",
                                   "96k",
                                   out};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "ffmpeg", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0)
    throw std::runtime_error("cannot run ffmpeg (" + std::string(std::strerror(rc)) +
                             "): install it, or pass --no-video");
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waiting for ffmpeg failed");
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error("ffmpeg failed to make " + out +
                             (WIFEXITED(status)
                                  ? " (exit status " + std::to_string(WEXITSTATUS(status)) + ")"
                                  : std::string(" (killed)")));
}

}  // namespace quor::tools::demo
