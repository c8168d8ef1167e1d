#include "DemoBuilder.h"

#include <QGuiApplication>
#include <QString>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include "Import.h"
#include "Names.h"
#include "Pictures.h"

namespace quor::tools::demo {
namespace {

namespace fs = std::filesystem;

// The demo's file names: <singer>-<title>-<category>-<seconds>s.mp4 in a folder
// named after the language, read back by this profile (the length is for the
// simulating decoder driver, which takes it from the name).
constexpr const char* kDemoProfile = "{singer}-{title}-{type}-{skip}";

void WritePhotos(const DemoOptions& o, const std::vector<Singer>& singers,
                 const Progress& progress) {
  const fs::path dir = fs::path(o.dir) / "Photo";
  fs::create_directories(dir);
  for (std::size_t i = 0; i < singers.size(); ++i) {
    const QImage img = DrawSingerPhoto(QString::fromStdString(singers[i].name),
                                       QString::fromStdString(singers[i].sex), static_cast<int>(i));
    const std::string file = (dir / singers[i].photo).string();
    if (!img.save(QString::fromStdString(file), "JPG", 90))
      throw std::runtime_error("cannot write the photo " + file);
    progress("photos", static_cast<std::int64_t>(i + 1), static_cast<std::int64_t>(singers.size()));
  }
}

void WriteVideos(const DemoOptions& o, const Progress& progress) {
  const fs::path dir = fs::path(o.dir) / "media" / "videos";
  fs::create_directories(dir);
  const auto videos = DemoVideos(o.videoSeconds);
  for (std::size_t i = 0; i < videos.size(); ++i) {
    const VideoDef& v = videos[i];
    const std::string card = (dir / (".card-" + std::to_string(i) + ".png")).string();
    const QImage img =
        DrawTitleCard(QStringLiteral("演示歌曲 %1").arg(i + 1),
                      QStringLiteral("左声道 %1 Hz · 右声道 %2 Hz").arg(v.leftHz).arg(v.rightHz),
                      v.fromRgb, v.toRgb);
    if (!img.save(QString::fromStdString(card), "PNG"))
      throw std::runtime_error("cannot write the picture " + card);
    try {
      MakeVideo(card, (dir / v.file).string(), v);
    } catch (...) {
      fs::remove(card);
      throw;
    }
    fs::remove(card);
    progress("videos", static_cast<std::int64_t>(i + 1), static_cast<std::int64_t>(videos.size()));
  }
}

// One file per song under media/songs/<language>/, a link to one of the demo
// videos (an empty file without videos), and the singers list.
void WriteSongFiles(const DemoOptions& o, const std::vector<Singer>& singers, NameGenerator& gen,
                    const Progress& progress) {
  const fs::path songs = fs::path(o.dir) / "media" / "songs";
  fs::remove_all(songs);
  const auto videos = DemoVideos(o.videoSeconds);
  std::set<std::string> taken;
  const std::int64_t step = o.songs >= 20 ? o.songs / 20 : 1;
  for (std::int64_t i = 0; i < o.songs; ++i) {
    const VideoDef& video = videos[static_cast<std::size_t>(i) % videos.size()];
    fs::path file;
    do {
      const Song song = gen.NextSong(singers.size());
      file = songs / song.language /
             (singers[song.singer].name + "-" + song.title + "-" + song.type + "-" +
              std::to_string(video.seconds) + "s.mp4");
    } while (!taken.insert(file.string()).second);
    fs::create_directories(file.parent_path());
    std::error_code ec;
    if (o.videos) fs::create_hard_link(fs::path(o.dir) / "media" / "videos" / video.file, file, ec);
    if (!o.videos || ec) {
      // No videos, or a folder that takes no links: the file itself.
      if (o.videos) {
        fs::copy_file(fs::path(o.dir) / "media" / "videos" / video.file, file);
      } else if (!std::ofstream(file)) {
        throw std::runtime_error("cannot write " + file.string());
      }
    }
    if ((i + 1) % step == 0 || i + 1 == o.songs) progress("songs", i + 1, o.songs);
  }
  std::ofstream list(fs::path(o.dir) / "singers.csv");
  list << "歌手,性别,照片\n";
  for (const Singer& s : singers)
    list << s.name << "," << s.sex << "," << (o.photos ? s.photo : "") << "\n";
  if (!list) throw std::runtime_error("cannot write " + o.dir + "/singers.csv");
}

// The catalogue is an import of the files just made, as a venue's would be.
void ImportCatalogue(const DemoOptions& o, const Progress& progress) {
  const fs::path target = fs::path(o.dir) / "catalogue.db";
  const fs::path temp = fs::path(o.dir) / "catalogue.db.part";
  fs::remove(temp);
  catalogue::ImportOptions io;
  io.sources = {(fs::path(o.dir) / "media" / "songs").string(),
                (fs::path(o.dir) / "singers.csv").string()};
  io.db = temp.string();
  io.share = kShare;
  io.shareRoot = (fs::path(o.dir) / "media").string();
  io.profile = kDemoProfile;
  io.photos = io.photoDir = (fs::path(o.dir) / "Photo").string();
  io.firstNumber = kFirstSongNumber;
  catalogue::RunImport(io, [&](const std::string& stage, std::uint64_t done, std::uint64_t total) {
    progress(stage, static_cast<std::int64_t>(done), static_cast<std::int64_t>(total));
  });
  fs::rename(temp, target);
}

}  // namespace

std::vector<VideoDef> DemoVideos(int seconds) {
  // Red, green, blue and amber cards: the TV tells the four apart at a glance.
  std::vector<VideoDef> videos = {{"", 15, 440, 660, 0x9c1c2c, 0x5c103a},
                                  {"", 20, 523, 784, 0x1c7c3c, 0x104c5c},
                                  {"", 25, 392, 587, 0x1c3c9c, 0x3a1c6c},
                                  {"", 30, 330, 494, 0x9c6c1c, 0x6c3a1c}};
  for (std::size_t i = 0; i < videos.size(); ++i) {
    if (seconds > 0) videos[i].seconds = seconds;
    videos[i].file =
        "demo-0" + std::to_string(i + 1) + "-" + std::to_string(videos[i].seconds) + "s.mp4";
  }
  return videos;
}

void BuildDemo(const DemoOptions& o, const Progress& progress) {
  if (o.songs < 1 || o.songs > 2000000)
    throw std::runtime_error("the number of songs must be between 1 and 2000000");
  if (o.videoSeconds < 0 || o.videoSeconds > 3600)
    throw std::runtime_error("the length of the videos must be between 1 and 3600 seconds");
  std::error_code ec;
  fs::create_directories(o.dir, ec);
  if (ec || !fs::is_directory(o.dir))
    throw std::runtime_error("cannot create the folder " + o.dir + (ec ? ": " + ec.message() : ""));
  if ((o.photos || o.videos) && QGuiApplication::instance() == nullptr)
    throw std::runtime_error("drawing the pictures needs a QGuiApplication");
  NameGenerator gen(o.seed);
  const std::vector<Singer> singers = gen.Singers(kMaleSingers, kFemaleSingers, kGroupSingers);
  if (o.photos) WritePhotos(o, singers, progress);
  if (o.videos) WriteVideos(o, progress);
  WriteSongFiles(o, singers, gen, progress);
  ImportCatalogue(o, progress);
}

}  // namespace quor::tools::demo
