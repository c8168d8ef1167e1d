#include "PlayerFixture.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/driver_api.h"

namespace quor::player::test {

std::string Entry10001() {
  return G("10001 刘德华.忘情水1");
}
std::string Entry10002() {
  return G("10002 刘德华.忘情水2");
}
std::string EntryBroken() {
  return G("10003 刘德华.忘情水3");
}
std::string Entry10023() {
  return G("10023 王菲.红豆3");
}
std::string EntryEmptyPath() {
  return G("10029 五月\"天\".Song of Joy");
}
std::string EntryUnknown() {
  return G("99999 无名.无歌");
}

namespace {

void Exec(const std::string& db, const char* sql) {
  sqlite3* handle = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &handle), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(handle, sql, nullptr, nullptr, &error), SQLITE_OK)
      << (error != nullptr ? error : "");
  sqlite3_free(error);
  sqlite3_close(handle);
}

const char* CommandName(std::uint8_t command) {
  switch (command) {
    case kDecoderCommandOpenFile:
      return "OpenFile";
    case kDecoderCommandControl:
      return "Control";
    case kDecoderCommandPause:
      return "Pause";
    case kDecoderCommandEndStream:
      return "EndStream";
    case kDecoderCommandSetParam:
      return "SetParam";
    case kDecoderCommandSelect:
      return "Select";
    case kDecoderCommandSetValue:
      return "SetValue";
    case kDecoderCommandGetValue:
      return "GetValue";
    default:
      return "?";
  }
}

std::vector<quor::testing::LogLine> DecoderLines(const std::string& log) {
  std::vector<quor::testing::LogLine> lines;
  for (const auto& line : quor::testing::ReadLog(log)) {
    if (line.message == kDecoderMessage) lines.push_back(line);
  }
  return lines;
}

}  // namespace

CatalogueServer::CatalogueServer() {
  data::test::UseBuiltEngine();
  folder_ = data::test::TempFolder("player");
  const std::string db = folder_ + "/catalogue.db";
  log_ = folder_ + "/requests.log";
  data::test::BuildCatalogue(db);
  Exec(db,
       "update vodinfo set PATH1='\\\\quorvod\\quorvod\\songs\\10001-1s.mp4' where SINGID=10001;"
       "update vodinfo set PATH1='\\\\quorvod\\quorvod\\songs\\10002-1s-2a.mp4' "
       "where SINGID=10002;"
       "update vodinfo set PATH1='\\\\quorvod\\quorvod\\songs\\10003-broken.mp4' "
       "where SINGID=10003;"
       "update vodinfo set PATH1='' where SINGID=10029;");
  server_ = std::make_unique<data::test::ServerProcess>(db, log_);
  server_->Start();
}

CatalogueServer::~CatalogueServer() {
  server_.reset();
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

CatalogueServer* PlayerTest::catalogue_ = nullptr;

void PlayerTest::SetUpTestSuite() {
  catalogue_ = new CatalogueServer();
}

void PlayerTest::TearDownTestSuite() {
  delete catalogue_;
  catalogue_ = nullptr;
}

PlayerTest::PlayerTest()
    : ini_("QUORVOD_DRIVERS_INI",
           dir_.Write("drivers.ini",
                      quor::testing::DriversIni(quor::testing::BinDir() + "/libreeldrv-sim.so"))),
      log_("QUORVOD_DRIVER_LOG", dir_.File("sim.log")),
      terminal_(std::make_unique<data::test::TerminalFixture>(catalogue_->Port())),
      selectedsongBitBtn1_(new QWidget(&window_)) {
  decoder_.DecoderOpen();
  EXPECT_TRUE(decoder_.DecoderIsOpen());
  status_.MarqueeText = kWelcomeText;
  player_ = std::make_unique<Player>(decoder_, status_, queue_, *terminal_->dm->playClientDataSet,
                                     &infoLabel_, selectedsongBitBtn1_, queuePage_);
}

PlayerTest::~PlayerTest() {
  player_.reset();
  decoder_.DecoderClose();
  terminal_.reset();
}

std::vector<std::string> PlayerTest::Sent() {
  const auto lines = DecoderLines(dir_.File("sim.log"));
  std::vector<std::string> sent;
  for (std::size_t i = mark_; i < lines.size(); ++i) {
    const QuorDecoderRequest r =
        QuorUnpackDecoderRequest(static_cast<std::intptr_t>(lines[i].lParam1));
    std::string text = std::string(CommandName(r.command)) + " h" + std::to_string(r.handle) + " " +
                       std::to_string(r.code) + " ";
    text += r.command == kDecoderCommandOpenFile ? lines[i].text : std::to_string(lines[i].lParam2);
    sent.push_back(text);
  }
  mark_ = lines.size();
  return sent;
}

void PlayerTest::Mark() {
  mark_ = DecoderLines(dir_.File("sim.log")).size();
}

std::uint64_t PlayerTest::LastResult() {
  const auto lines = DecoderLines(dir_.File("sim.log"));
  return lines.empty() ? 0 : lines.back().result;
}

void PlayerTest::RunToEnd() {
  decoder_.DecoderSetParam(status_.StreamHandle, kDecoderCodeSpeed, 10000);
  for (int i = 0;
       i < 200 && decoder_.DecoderGetValue(status_.StreamHandle, kDecoderCodePosition) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Mark();
}

std::vector<std::string> PlayerTest::StatementsAfter(std::size_t from) const {
  const auto lines = catalogue_->Lines();
  std::vector<std::string> statements;
  for (std::size_t i = from; i < lines.size(); ++i) {
    // The resets of the close are no statements.
    if (lines[i].find("(reset)") == std::string::npos) statements.push_back(lines[i]);
  }
  return statements;
}

}  // namespace quor::player::test
