// The terminal's data module against the real quorvod-server program on a
// loopback port: what reaches the server is read from its request log. The
// server is stopped, killed and started again on the same port to show that
// the terminal goes on and that a room request is never lost.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "DataTestSupport.h"

namespace quor::data::test {
namespace {

using ::testing::HasSubstr;

class RealServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseBuiltEngine();
    folder_ = TempFolder("realserver");
    db_ = folder_ + "/catalogue.db";
    log_ = folder_ + "/requests.log";
    BuildCatalogue(db_);
    server_ = std::make_unique<ServerProcess>(db_, log_);
    server_->Start();
    terminal_ = std::make_unique<TerminalFixture>(server_->Port());
  }
  void TearDown() override {
    terminal_.reset();
    server_.reset();
    std::filesystem::remove_all(folder_);
  }
  DataModule& dm() { return *terminal_->dm; }
  // Log lines written after `mark` request lines.
  std::vector<std::string> LinesAfter(std::size_t mark) {
    auto lines = RequestLines(log_);
    return std::vector<std::string>(lines.begin() + std::min(mark, lines.size()), lines.end());
  }

  std::string folder_, db_, log_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<TerminalFixture> terminal_;
};

TEST_F(RealServerTest, WindowShowQueriesAndResetsReachTheServer) {
  std::vector<std::string> told;
  ASSERT_TRUE(ConnectAndOpen(dm(), "127.0.0.1", [&](const std::string& m) { told.push_back(m); }));
  EXPECT_TRUE(told.empty());
  auto lines = RequestLines(log_);
  ASSERT_EQ(lines.size(), 4u) << ReadFile(log_);
  // The start asks for the layouts only: no rows travel.
  EXPECT_THAT(lines[0],
              HasSubstr("songDataSetProvider  \"select * from vodinfo where 1 = 0\"  rows=0"));
  EXPECT_THAT(lines[1],
              HasSubstr("singerDataSetProvider  \"select * from singer where 1 = 0\"  rows=0"));
  EXPECT_THAT(lines[2],
              HasSubstr("songDataSetProvider  \"select * from vodinfo where 1 = 0\"  rows=0"));
  EXPECT_THAT(lines[3], HasSubstr("tempDataSetProvider"));

  RunCatalogueQuery(*dm().songClientDataSet, SongsOfSingerStatement(G("刘德华")));
  lines = LinesAfter(4);
  ASSERT_EQ(lines.size(), 2u) << ReadFile(log_);
  EXPECT_THAT(lines[0], HasSubstr("songDataSetProvider  \"(reset)\""));
  EXPECT_THAT(lines[1], HasSubstr("\"select SINGID,SINGNAME,SINGER from vodinfo where "
                                  "Singer=\\\"刘德华\\\"\""));
  EXPECT_THAT(lines[1], HasSubstr("rows=20"));
  EXPECT_EQ(dm().songClientDataSet->RecordCount(), kLiuSongs);
}

TEST_F(RealServerTest, TheTerminalGoesOnWhenTheServerDiesAndComesBack) {
  ClientDataSet& song = *dm().songClientDataSet;
  RunCatalogueQuery(song, SongsOfSingerStatement(G("王菲")));
  const std::uint16_t port = server_->Port();
  server_->Kill();

  // The next query fails with a clear text; the rows of the dataset are gone
  // with its close, and nothing throws later.
  std::string failure;
  try {
    RunCatalogueQuery(song, SongByNumberStatement("10001"));
  } catch (const std::exception& e) {
    failure = e.what();
  }
  EXPECT_FALSE(failure.empty());
  EXPECT_THAT(failure, HasSubstr("socket"));  // "Error reading from socket" or the failed write
  EXPECT_FALSE(song.Active());
  terminal_->Pump();
  EXPECT_FALSE(dm().SocketConnection->Connected());
  try {  // still down: refused, clearly
    RunCatalogueQuery(song, SongByNumberStatement("10001"));
    FAIL() << "the server is down";
  } catch (const std::exception& e) {
    EXPECT_THAT(e.what(), HasSubstr("connect"));
  }

  server_->Start(port);
  RunCatalogueQuery(song, SongByNumberStatement("10001"));  // connects again
  EXPECT_TRUE(dm().SocketConnection->Connected());
  EXPECT_EQ(U(song.FieldByName("SINGNAME").AsString()), "忘情水1");
  EXPECT_TRUE(terminal_->loop.errors.empty() ||
              terminal_->loop.errors.size() == 1);  // at most the lost connection, reported
}

TEST_F(RealServerTest, ARoomRequestThatFailsGoesAgainWithTheNextOne) {
  ASSERT_TRUE(ConnectAndOpen(dm(), "127.0.0.1", nullptr));
  ClientDataSet& temp = *dm().tempClientDataSet;
  const std::uint16_t port = server_->Port();
  server_->Stop();
  terminal_->Pump();

  EXPECT_THROW(SendRoomRequest(temp, "Room8"), std::exception);
  EXPECT_TRUE(temp.Active());
  EXPECT_EQ(temp.ChangeCount(), 1);  // kept for the next press

  server_->Start(port);
  const std::size_t mark = RequestLines(log_).size();
  SendRoomRequest(temp, "Room8");
  EXPECT_EQ(temp.ChangeCount(), 0);
  const auto lines = LinesAfter(mark);
  ASSERT_EQ(lines.size(), 3u) << ReadFile(log_);  // both rows in one apply
  EXPECT_THAT(lines[0], HasSubstr("ROOM REQUEST ******** ClientName=Room8"));
  EXPECT_THAT(lines[1], HasSubstr("ROOM REQUEST ******** ClientName=Room8"));
  EXPECT_THAT(lines[2], HasSubstr("\"(apply updates)\"  rows=2"));

  // A temp dataset that never opened (server down at window show) opens on
  // the first press.
  TerminalFixture late(port);
  SendRoomRequest(*late.dm->tempClientDataSet, "Room9");
  EXPECT_THAT(RequestLines(log_).back(), HasSubstr("rows=1"));
}

}  // namespace
}  // namespace quor::data::test
