#include "DemoBuilder.h"

#include <sqlite3.h>

#include <QGuiApplication>
#include <QString>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "Initials.h"
#include "Names.h"
#include "Pictures.h"

namespace quor::tools::demo {
namespace {

namespace fs = std::filesystem;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;
using Stmt = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
}

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    const std::string msg = err != nullptr ? err : "unknown error";
    sqlite3_free(err);
    throw std::runtime_error(std::string("catalogue: ") + msg);
  }
}

Stmt Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* s = nullptr;
  Check(db, sqlite3_prepare_v2(db, sql, -1, &s, nullptr), "catalogue: prepare");
  return Stmt(s);
}

void BindText(sqlite3* db, sqlite3_stmt* s, int i, const std::string& v) {
  Check(db, sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT),
        "catalogue: bind");
}

void StepInsert(sqlite3* db, sqlite3_stmt* s) {
  if (sqlite3_step(s) != SQLITE_DONE) Check(db, SQLITE_ERROR, "catalogue: insert");
  sqlite3_reset(s);
}

constexpr const char* kSchema = R"(
CREATE TABLE singer (
  SEX VARCHAR(4) NOT NULL,
  SINGNAME VARCHAR(20) NOT NULL UNIQUE,
  Path VARCHAR(100) NOT NULL);
CREATE TABLE vodinfo (
  SINGID INTEGER PRIMARY KEY,
  SINGNAME VARCHAR(50) NOT NULL,
  SINGER VARCHAR(20) NOT NULL,
  TYPE VARCHAR(8) NOT NULL,
  SONGLANGUAGE VARCHAR(8) NOT NULL,
  FIRSTWORD VARCHAR(50) NOT NULL,
  PATH1 VARCHAR(100) NOT NULL);
)";

constexpr const char* kIndexes = R"(
CREATE INDEX vodinfo_singer ON vodinfo(SINGER);
CREATE INDEX vodinfo_type ON vodinfo(TYPE);
CREATE INDEX vodinfo_language ON vodinfo(SONGLANGUAGE);
CREATE INDEX vodinfo_firstword ON vodinfo(FIRSTWORD);
)";

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
  const fs::path dir = fs::path(o.dir) / "media" / "songs";
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

void WriteCatalogue(const DemoOptions& o, const std::vector<Singer>& singers, NameGenerator& gen,
                    const Progress& progress) {
  const fs::path target = fs::path(o.dir) / "catalogue.db";
  const fs::path temp = fs::path(o.dir) / "catalogue.db.part";
  fs::remove(temp);
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open(temp.c_str(), &raw);
  Db db(raw);
  Check(raw, rc, ("cannot create " + temp.string()).c_str());
  Exec(raw, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  Exec(raw, kSchema);
  Exec(raw, "BEGIN");
  {
    Stmt s = Prepare(raw, "INSERT INTO singer (SEX, SINGNAME, Path) VALUES (?1, ?2, ?3)");
    for (const Singer& singer : singers) {
      BindText(raw, s.get(), 1, singer.sex);
      BindText(raw, s.get(), 2, singer.name);
      // Relative to the terminal's program folder, in the terminal's own form.
      BindText(raw, s.get(), 3, "Photo\\" + singer.photo);
      StepInsert(raw, s.get());
    }
  }
  {
    Initials initials;
    const auto videos = DemoVideos(o.videoSeconds);
    Stmt s =
        Prepare(raw,
                "INSERT INTO vodinfo (SINGID, SINGNAME, SINGER, TYPE, SONGLANGUAGE, FIRSTWORD, "
                "PATH1) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    const std::int64_t step = o.songs >= 20 ? o.songs / 20 : 1;
    for (std::int64_t i = 0; i < o.songs; ++i) {
      const Song song = gen.NextSong(singers.size());
      Check(raw, sqlite3_bind_int64(s.get(), 1, kFirstSongNumber + i), "catalogue: bind");
      BindText(raw, s.get(), 2, song.title);
      BindText(raw, s.get(), 3, singers[song.singer].name);
      BindText(raw, s.get(), 4, song.type);
      BindText(raw, s.get(), 5, song.language);
      BindText(raw, s.get(), 6, initials.OfWords(song.words));
      BindText(raw, s.get(), 7,
               kShareSongs + videos[static_cast<std::size_t>(i) % videos.size()].file);
      StepInsert(raw, s.get());
      if ((i + 1) % step == 0 || i + 1 == o.songs) progress("songs", i + 1, o.songs);
    }
  }
  Exec(raw, "COMMIT");
  progress("indexes", 0, 1);
  Exec(raw, kIndexes);
  progress("indexes", 1, 1);
  db.reset();
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
  WriteCatalogue(o, singers, gen, progress);
}

}  // namespace quor::tools::demo
