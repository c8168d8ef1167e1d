#include "ScreenTestSupport.h"

#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QMouseEvent>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "data/DataModule.h"
#include "ui/Label.h"
#include "ui/Picture.h"
#include "ui/SingerPages.h"

namespace quor::ui::test {
namespace {

void Bind(sqlite3_stmt* s, int column, const std::string& text) {
  sqlite3_bind_text(s, column, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
    throw std::runtime_error(std::string("catalogue: ") + sqlite3_errmsg(db));
}

}  // namespace

void WriteCatalogue(const std::string& file, const std::vector<CatalogueSinger>& singers,
                    const std::vector<CatalogueSong>& songs) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK)
    throw std::runtime_error("cannot create " + file);
  Exec(db,
       "create table singer(SEX varchar(10), SINGNAME varchar(40), Path varchar(80));"
       "create table vodinfo(SINGID integer, SINGNAME varchar(60), SINGER varchar(40),"
       " TYPE varchar(20), SONGLANGUAGE varchar(20), FIRSTWORD varchar(20), PATH1 varchar(120));"
       "begin");
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "insert into singer values(?,?,?)", -1, &s, nullptr);
  for (const CatalogueSinger& singer : singers) {
    Bind(s, 1, singer.sex);
    Bind(s, 2, singer.name);
    Bind(s, 3, singer.path);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_prepare_v2(db, "insert into vodinfo values(?,?,?,?,?,?,?)", -1, &s, nullptr);
  for (const CatalogueSong& song : songs) {
    sqlite3_bind_int(s, 1, song.id);
    Bind(s, 2, song.title);
    Bind(s, 3, song.singer);
    Bind(s, 4, song.type);
    Bind(s, 5, song.language);
    Bind(s, 6, song.firstWord);
    Bind(s, 7, song.path);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  Exec(db, "commit");
  sqlite3_close(db);
}

void WritePhoto(const std::string& folder, const std::string& relative, QRgb colour) {
  std::string name = relative;
  std::replace(name.begin(), name.end(), '\\', '/');
  const QString path = QString::fromStdString(folder + name);
  QDir().mkpath(QFileInfo(path).path());
  QImage image(120, 160, QImage::Format_RGB32);
  image.fill(colour);
  const QString ext = QFileInfo(path).suffix().toLower();
  if (!image.save(path, ext == QLatin1String("bmp") ? "BMP" : "JPG", 95))
    throw std::runtime_error("cannot write " + path.toStdString());
}

QRgb Middle(const QImage& image) {
  if (image.isNull()) return 0;
  return image.pixel(image.width() / 2, image.height() / 2) & 0xFFFFFF;
}

bool Near(QRgb a, QRgb b) {
  return std::abs(qRed(a) - qRed(b)) < 12 && std::abs(qGreen(a) - qGreen(b)) < 12 &&
         std::abs(qBlue(a) - qBlue(b)) < 12;
}

void Click(QWidget* widget) {
  const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
  const QPointF global = widget->mapToGlobal(at);
  QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QCoreApplication::sendEvent(widget, &press);
  QCoreApplication::sendEvent(widget, &release);
}

std::string Utf8(const QString& text) {
  return text.toStdString();
}

std::vector<std::string> RowTexts(const MainWindow& window) {
  std::vector<std::string> out;
  for (std::size_t n = 1; n <= 7; ++n) out.push_back(window.songlistLabel[n]->GbkText());
  return out;
}

std::vector<std::string> ScreenFixture::Statements(const std::string& provider) {
  std::vector<std::string> out;
  if (peer_ != nullptr) {
    for (const data::test::RecordedCall& call : peer_->Calls())
      if (call.op == "AS_GetRecords" && call.provider == provider && !call.command.empty())
        out.push_back(call.command);
    return out;
  }
  // The program's log: time  peer  provider  "statement"  rows=...
  const std::string marker = "  " + provider + "  \"";
  for (const std::string& line : data::test::RequestLines(folder_ + "server.log")) {
    const std::size_t at = line.find(marker);
    if (at == std::string::npos) continue;
    std::string statement;
    for (std::size_t i = at + marker.size(); i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      statement += line[i];
    }
    if (!statement.empty()) out.push_back(statement);
  }
  return out;
}

void ScreenFixture::StopServer() {
  peer_.reset();
  if (program_ != nullptr) program_->Stop();
}

ScreenFixture::ScreenFixture(const std::vector<CatalogueSinger>& singers,
                             const std::vector<CatalogueSong>& songs, ServerKind kind) {
  EnsureApp();
  data::test::UseBuiltEngine();
  folder_ = data::test::TempFolder("screens") + "/";
  std::filesystem::create_directories(folder_ + "Photo");
  std::filesystem::copy_file(data::test::BinDir() + "/Photo/NONAME.BMP",
                             folder_ + "Photo/NONAME.BMP");
  WriteCatalogue(folder_ + "catalogue.db", singers, songs);
  std::uint16_t port = 0;
  if (kind == ServerKind::kRecordingPeer) {
    peer_ = std::make_unique<data::test::RecordingPeer>(folder_ + "catalogue.db");
    port = peer_->Port();
  } else {
    program_ = std::make_unique<data::test::ServerProcess>(folder_ + "catalogue.db",
                                                           folder_ + "server.log");
    program_->Start();
    port = program_->Port();
  }
  {
    // The sim driver, logging every request, as the program's shell would
    // open the driver drivers.ini names.
    const quor::testing::ScopedEnv ini("QUORVOD_DRIVERS_INI", folder_ + "drivers.ini");
    const quor::testing::ScopedEnv log("QUORVOD_DRIVER_LOG", folder_ + "driver.log");
    std::ofstream(folder_ + "drivers.ini")
        << quor::testing::DriversIni(data::test::BinDir() + "/libreeldrv-sim.so");
    decoder_.DecoderOpen();
    if (!decoder_.DecoderIsOpen()) throw std::runtime_error("the sim driver did not open");
  }
  loop_ = std::make_unique<QtMessageLoop>(notifier_);
  dm_ = std::make_unique<data::DataModule>(*loop_);
  dm_->SocketConnection->SetPort(port);
  shell_.configuration.serverIP = "127.0.0.1";
  shell_.configuration.roomName = "Room1";
  window_ = std::make_unique<MainWindow>(shell_, notifier_);
  window_->Attach(*dm_, decoder_, folder_);
  ShowAndSettle(*window_);
  if (!notifier_.messages.isEmpty())
    throw std::runtime_error("window show: " + notifier_.messages.join("|").toStdString());
}

ScreenFixture::~ScreenFixture() {
  window_.reset();
  decoder_.DecoderClose();
  dm_.reset();
  peer_.reset();
  program_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::vector<quor::testing::LogLine> ScreenFixture::DecoderRequests() const {
  return quor::testing::ReadLog(folder_ + "driver.log");
}

QImage ScreenFixture::Fallback() const {
  return LoadPicture(QString::fromStdString(folder_ + kFallbackPhoto));
}

}  // namespace quor::ui::test
