#pragma once
// The room as it really plays, for the end-to-end tests of the player: the
// terminal under Xvfb with two screens (the terminal on screen 0, the TV on
// screen 1), the mpv driver with vo=x11 on the TV screen, and quorvod-server
// over a demo catalogue whose videos are a few seconds long. What the TV
// shows is read off a screenshot of screen 1; what mpv plays, through mpv's
// JSON IPC socket; what the terminal asked the server, from its log.

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdlib>
#include <optional>
#include <sstream>

#include "TerminalE2eSupport.h"

namespace quor::e2e {

inline constexpr int kClipSeconds = 6;

struct Rgb {
  int r = -1, g = -1, b = -1;
};

// The colour of one pixel of a picture file, read with ImageMagick.
inline Rgb PixelOf(const std::string& picture, int x, int y) {
  const std::string text = Capture("convert '" + picture + "' -crop 1x1+" + std::to_string(x) +
                                   "+" + std::to_string(y) + " -depth 8 txt:- 2>/dev/null");
  // "0,0: (192,33,32)  #C02120  srgb(192,33,32)"
  Rgb c;
  const auto open = text.find(": (");
  if (open == std::string::npos ||
      std::sscanf(text.c_str() + open + 3, "%d,%d,%d", &c.r, &c.g, &c.b) != 3)
    return {};
  return c;
}

inline bool Near(Rgb a, Rgb b) {
  return a.r >= 0 && b.r >= 0 && std::abs(a.r - b.r) <= 24 && std::abs(a.g - b.g) <= 24 &&
         std::abs(a.b - b.b) <= 24;
}

inline std::string Show(Rgb c) {
  return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

// One reply of mpv's JSON IPC for get_property name ("" when mpv is not
// reachable): the raw reply line, {"data":...,"request_id":7,"error":...}.
inline std::string MpvProperty(const fs::path& socketPath, const std::string& name) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return {};
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request =
        "{\"command\":[\"get_property\",\"" + name + "\"],\"request_id\":7}\n";
    timeval timeout{2, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
      // Events may come first; the reply is the line with our request id.
      std::string buffer;
      char chunk[4096];
      while (reply.empty()) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) break;
        buffer.append(chunk, static_cast<std::size_t>(got));
        for (std::size_t end; (end = buffer.find('\n')) != std::string::npos;) {
          const std::string line = buffer.substr(0, end);
          buffer.erase(0, end + 1);
          if (line.find("\"request_id\":7") != std::string::npos) reply = line;
        }
      }
    }
  }
  ::close(fd);
  return reply;
}

// The text of a string property's reply; "" when it has none.
inline std::string StringData(const std::string& reply) {
  const std::string key = "\"data\":\"";
  const auto at = reply.find(key);
  if (at == std::string::npos) return {};
  std::string text;
  for (std::size_t i = at + key.size(); i < reply.size() && reply[i] != '"'; ++i) {
    if (reply[i] == '\\' && i + 1 < reply.size()) ++i;
    text += reply[i];
  }
  return text;
}

class PlayerE2eTest : public TerminalFixture {
 protected:
  static void SetUpTestSuite() {
    StartDisplay({"-screen", "0", "800x600x24", "-screen", "1", "800x600x24"});
    StartServer({"--songs", "50", "--no-photos", "--video-seconds", std::to_string(kClipSeconds)});
  }
  void SetUp() override {
    TerminalFixture::SetUp();
    if (IsSkipped()) return;
    fs::copy_file(fs::path(std::getenv("QUOR_BIN_DIR")) / "libreeldrv-mpv.so",
                  room_ / "libreeldrv-mpv.so");
    // The room's TV is screen 1 of the display; mpv answers on its IPC
    // socket (the test's window into the player), plays no sound here.
    std::ofstream(room_ / "drivers.ini")
        << "[Drivers32]\nreeldrv=libreeldrv-mpv.so\n"
        << "[reeldrv-mpv]\nvo=x11\nao=null\nx11-screen=1\n"
        << "fullscreen=yes\nopen-timeout=8000\n"
        << "input-ipc-server=" << (room_ / "mpv.sock").string() << "\n";
  }
  std::string Mpv(const std::string& property) { return MpvProperty(room_ / "mpv.sock", property); }
  // A song of the demo catalogue and the file it plays: the catalogue is an
  // import of one file per song, each a link to one of the demo's videos.
  struct SongClip {
    std::string id;
    std::string file;
    int video = -1;
  };
  static std::vector<SongClip> SongClips() {
    std::vector<SongClip> songs;
    const std::string rows =
        Capture("sqlite3 -separator '|' '" + (serverDir_ / "catalogue.db").string() +
                "' 'select SINGID, PATH1 from vodinfo order by SINGID'");
    std::istringstream in(rows);
    for (std::string line; std::getline(in, line);) {
      const auto bar = line.find('|');
      if (bar == std::string::npos) continue;
      // \\quorvod\quorvod\songs\... under the share root, separators turned.
      std::string rest = line.substr(bar + 1);
      const std::string share = "\\\\quorvod\\quorvod\\";
      if (rest.rfind(share, 0) != 0) continue;
      rest.erase(0, share.size());
      for (char& c : rest)
        if (c == '\\') c = '/';
      SongClip song{line.substr(0, bar), (serverDir_ / "media" / rest).string(), -1};
      for (int v = 1; v <= 4; ++v) {
        std::error_code ec;
        const fs::path video =
            serverDir_ / "media" / "videos" /
            ("demo-0" + std::to_string(v) + "-" + std::to_string(kClipSeconds) + "s.mp4");
        if (fs::equivalent(song.file, video, ec)) song.video = v;
      }
      songs.push_back(song);
    }
    return songs;
  }
  // Song number by the number keypad, then a touch on its row: queued.
  void QueueByNumber(const std::string& digits) {
    Touch(100, 296);  // 拼音/编号
    Touch(237, 392);  // 编号
    for (const char d : digits) {
      const int key = d == '0' ? 10 : d - '0';
      if (key <= 5)
        Touch(300 + 28 + 48 * (key - 1), 88);
      else
        Touch(300 + 29 + 48 * (key - 6), 140);
    }
    Touch(397, 92);  // the song's row
  }
  // Waits until mpv plays file (by any name: the share may be reached through
  // a link); when it began (first seen).
  std::optional<std::chrono::steady_clock::time_point> WaitForPath(const std::string& file,
                                                                   std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      const std::string path = StringData(Mpv("path"));
      std::error_code ec;
      if (path == file || (!path.empty() && fs::equivalent(path, file, ec)))
        return std::chrono::steady_clock::now();
      if (!path.empty()) paths_.push_back(path);
      std::this_thread::sleep_for(100ms);
    }
    return std::nullopt;
  }
  // A screenshot of the TV screen shows `clip` (two places of its picture,
  // compared with the clip's own frame scaled to the screen), not `other`.
  // Shots are taken until it does (a busy machine may be slow to draw the
  // first frame), for at most three seconds.
  void ExpectTvShows(const std::string& clip, const std::string& other, const std::string& name) {
    const std::string shot = (room_ / (name + ".png")).string();
    const std::pair<int, int> places[] = {{80, 60}, {720, 540}};
    std::vector<Rgb> seen;
    const auto end = std::chrono::steady_clock::now() + 3s;
    for (bool shows = false; !shows && std::chrono::steady_clock::now() < end;) {
      X("import -display " + display_ + ".1 -window root '" + shot + "'");
      seen.clear();
      shows = true;
      for (const auto& [x, y] : places) {
        seen.push_back(PixelOf(shot, x, y));
        shows = shows && Near(seen.back(), FrameColour(clip, x, y));
      }
    }
    if (const char* keep = std::getenv("QUOR_E2E_SHOTS"))
      fs::copy_file(shot, fs::path(keep) / (name + ".png"), fs::copy_options::overwrite_existing);
    for (std::size_t i = 0; i < seen.size(); ++i) {
      const auto [x, y] = places[i];
      const Rgb want = FrameColour(clip, x, y);
      const Rgb not_ = FrameColour(other, x, y);
      EXPECT_TRUE(Near(seen[i], want)) << name << " at " << x << "," << y << ": " << Show(seen[i])
                                       << ", the clip has " << Show(want);
      EXPECT_FALSE(Near(seen[i], not_)) << name << " at " << x << "," << y << ": " << Show(seen[i])
                                        << " is the other clip's " << Show(not_);
    }
  }
  // The colour of the clip's frame at 1 s, scaled to the 800x600 screen.
  Rgb FrameColour(const std::string& clip, int x, int y) {
    const std::string frame = (room_ / (fs::path(clip).stem().string() + ".png")).string();
    if (!fs::exists(frame))
      Capture("ffmpeg -v error -nostdin -y -ss 1 -i '" + clip +
              "' -frames:v 1 -vf scale=800:600 '" + frame + "'");
    return PixelOf(frame, x, y);
  }
  // When the terminal looked up each song's path (the server log's times,
  // milliseconds of the day), in the order of the log.
  static std::vector<std::pair<std::string, long>> PathLookups() {
    std::vector<std::pair<std::string, long>> lookups;
    std::istringstream in(ServerLog());
    const std::string key = "select PATH1 from vodinfo where SINGID=";
    for (std::string line; std::getline(in, line);) {
      const auto at = line.find(key);
      int h = 0, m = 0, sec = 0, ms = 0;
      if (at == std::string::npos ||
          std::sscanf(line.c_str(), "%*d-%*d-%*d %d:%d:%d.%d", &h, &m, &sec, &ms) != 4)
        continue;
      const std::string rest = line.substr(at + key.size());
      lookups.emplace_back(rest.substr(0, rest.find(' ')),
                           ((h * 60L + m) * 60L + sec) * 1000L + ms);
    }
    return lookups;
  }
  // The time of the last lookup of song id; -1 when there is none.
  static long LookedUpAt(const std::string& id) {
    long at = -1;
    for (const auto& [song, ms] : PathLookups())
      if (song == id) at = ms;
    return at;
  }
  std::vector<std::string> paths_;
};

}  // namespace quor::e2e
