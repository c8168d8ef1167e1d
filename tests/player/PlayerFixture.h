#pragma once
// The player on its real parts: the sim driver loaded through drivers.ini (its
// request log is what the tests read), a catalogue served by the real
// quorvod-server program, the data module's playClientDataSet, and real Qt
// controls for the status line and the selected-song list's button.
//
// Catalogue songs the tests play (paths as the sim driver reads them):
//   10001  ...\10001-1s.mp4     1 s, one audio track (channel info 2)
//   10002  ...\10002-1s-2a.mp4  1 s, two audio tracks (channel info 3)
//   10003  ...\10003-broken.mp4 a file the decoder cannot open
//   10023  ...\10023.mp4        180 s, one track
//   10029  an empty PATH1
// There is no song 99999.

#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "DataTestSupport.h"
#include "drivers/DriverTestSupport.h"
#include "player/Player.h"

namespace quor::player::test {

using data::test::G;

// The SongEntry texts of the songs above (GBK).
std::string Entry10001();
std::string Entry10002();
std::string EntryBroken();
std::string Entry10023();
std::string EntryEmptyPath();
std::string EntryUnknown();

// The status line's start text.
inline constexpr char16_t kWelcomeText[] = u"欢迎使用QuorKTV视频点播系统  ";

// Counts the redraws of the queue view.
struct RecordingQueuePage : QueuePageView {
  int redraws = 0;
  void RedrawQueuePage() override { ++redraws; }
};

// The catalogue and the server, shared by the tests of one suite.
class CatalogueServer {
 public:
  CatalogueServer();
  ~CatalogueServer();
  std::uint16_t Port() const { return server_->Port(); }
  // Request lines of the server log (statements with their rows).
  std::vector<std::string> Lines() const { return data::test::RequestLines(log_); }
  data::test::ServerProcess& Server() { return *server_; }

 private:
  std::string folder_;
  std::string log_;
  std::unique_ptr<data::test::ServerProcess> server_;
};

class PlayerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  PlayerTest();
  ~PlayerTest() override;

  // The decoder requests logged since the last Mark(), one text each:
  // "<command> h<handle byte> <code> <argument>", the open-file request as
  // "OpenFile h0 <mode> <path>".
  std::vector<std::string> Sent();
  void Mark();
  // The result of the last request logged.
  std::uint64_t LastResult();
  // Ends the stream playing now within a few milliseconds (a 1 s song at
  // 100 times its speed) and waits for it; the request is not counted.
  void RunToEnd();
  // The label's text as the guests see it.
  std::u16string Shown() const { return infoLabel_.text().toStdU16String(); }
  // Statement lines of the server log after the first `from` lines.
  std::vector<std::string> StatementsAfter(std::size_t from) const;

  static CatalogueServer* catalogue_;

  quor::testing::TempDir dir_;
  quor::testing::ScopedEnv ini_;
  quor::testing::ScopedEnv log_;
  std::unique_ptr<data::test::TerminalFixture> terminal_;
  Decoder decoder_;
  PlayerStatus status_;
  std::vector<std::string> queue_;
  QWidget window_;
  QWidget* selectedsongBitBtn1_;
  QLabel infoLabel_;
  RecordingQueuePage queuePage_;
  std::unique_ptr<Player> player_;
  std::size_t mark_ = 0;
};

}  // namespace quor::player::test
