// The player through the real window: its eight buttons wired to their
// actions, the queue view redrawn by play and next song while it shows, the
// status line scrolling in infoLabel on the window's own timer, and a tick
// that fails (a dead server) shown in one message box after the tick while
// the timer goes on under it. The decoder is the sim driver; its request log
// says what the player sent.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "ScreenTestSupport.h"
#include "platform/Codepage.h"
#include "platform/driver_api.h"
#include "ui/Label.h"

namespace quor::ui {
namespace {

using test::Click;

// Songs 10001.. of the catalogue: 60 s each, so none ends during a case.
std::string Entry(int i) {
  return std::to_string(10001 + i) + " A.S" + std::to_string(i);
}
std::string PathOf(int i) {
  return "\\\\quorvod\\quorvod\\songs\\s" + std::to_string(10001 + i) + "-60s.mp4";
}

std::vector<test::CatalogueSong> Songs(int n) {
  std::vector<test::CatalogueSong> songs;
  for (int i = 0; i < n; ++i)
    songs.push_back({10001 + i, "S" + std::to_string(i), "A", "流行", "国语", "S", PathOf(i)});
  return songs;
}

// Runs the event loop for ms, or until done() holds.
void Spin(int ms, const std::function<bool()>& done = {}) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms && !(done && done())) {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }
}

std::vector<QMessageBox*> OpenBoxes() {
  std::vector<QMessageBox*> boxes;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible())
      boxes.push_back(box);
  return boxes;
}

// Whether text is the status line text rotated by one or more UTF-16 units.
bool IsRotationOf(const std::u16string& shown, const std::u16string& text) {
  if (shown.size() != text.size()) return false;
  std::u16string rotated = text;
  for (std::size_t k = 1; k <= text.size(); ++k) {
    std::rotate(rotated.begin(), rotated.begin() + 1, rotated.end());
    if (rotated == shown) return true;
  }
  return false;
}

class PlayerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f_ = std::make_unique<test::ScreenFixture>(std::vector<test::CatalogueSinger>{}, Songs(12));
  }
  MainWindow& W() { return f_->Window(); }
  SharedState& S() { return W().State(); }
  std::vector<std::string>& Queue() { return S().SelectedSongs; }
  void Fill(int n) {
    Queue().clear();
    for (int i = 0; i < n; ++i) Queue().push_back(Entry(i));
  }
  // The rows' texts as the queue holds them ("" for an empty row).
  std::vector<std::string> Rows() { return test::RowTexts(W()); }
  std::vector<std::string> Entries(int from, int to) {  // queue entries [from, to), padded to 7
    std::vector<std::string> out;
    for (int i = from; i < to; ++i) out.push_back(Queue().at(static_cast<std::size_t>(i)));
    while (out.size() < 7) out.push_back("");
    return out;
  }
  // The decoder requests since the last call: "<command> <code> <argument>",
  // an open-file request as "open <path>".
  std::vector<std::string> Sent() {
    std::vector<std::string> out;
    const auto lines = f_->DecoderRequests();
    for (std::size_t i = seen_; i < lines.size(); ++i) {
      if (lines[i].message != kDecoderMessage) continue;
      const QuorDecoderRequest r =
          QuorUnpackDecoderRequest(static_cast<std::intptr_t>(lines[i].lParam1));
      out.push_back(r.command == kDecoderCommandOpenFile
                        ? "open " + lines[i].text
                        : std::to_string(r.command) + " " + std::to_string(r.code) + " " +
                              std::to_string(lines[i].lParam2));
    }
    seen_ = lines.size();
    return out;
  }
  std::size_t PositionReads() {
    std::size_t reads = 0;
    for (const auto& line : f_->DecoderRequests()) {
      const QuorDecoderRequest r =
          QuorUnpackDecoderRequest(static_cast<std::intptr_t>(line.lParam1));
      reads += line.message == kDecoderMessage && r.command == kDecoderCommandGetValue &&
               r.code == kDecoderCodePosition;
    }
    return reads;
  }
  std::u16string Shown() { return W().infoLabel->text().toStdU16String(); }

  std::unique_ptr<test::ScreenFixture> f_;
  std::size_t seen_ = 0;
};

TEST_F(PlayerWindowTest, EachPlayerButtonRunsItsAction) {
  W().mainTimer->stop();  // the ticks of this case are the test's own
  Fill(2);
  Click(W().controlBitBtn[1]);  // play, from state 4: the first song starts
  const std::vector<std::string> started = Sent();
  ASSERT_FALSE(started.empty());
  EXPECT_EQ(started.front(), "open " + PathOf(0));
  EXPECT_EQ(Queue(), std::vector<std::string>{Entry(1)});
  EXPECT_EQ(S().PlayerState, player::PlayerState::kStarted);
  EXPECT_EQ(S().MarqueeText, u"       正在播放：" + platform::GbkToUtf16(Entry(0)));
  W().mainTimerTimer();
  Sent();

  Click(W().controlBitBtn[2]);  // pause
  EXPECT_EQ(Sent(), std::vector<std::string>{"4 0 0"});
  EXPECT_EQ(S().PlayerState, player::PlayerState::kPaused);
  Click(W().controlBitBtn[1]);  // play while paused: resume, nothing started
  EXPECT_EQ(Sent(), std::vector<std::string>{"3 4 0"});
  EXPECT_EQ(S().PlayerState, player::PlayerState::kStarted);

  S().StreamLength = 1000;
  S().PlayPosition = 900;
  Click(W().controlBitBtn[7]);  // wind forwards
  EXPECT_EQ(Sent(), (std::vector<std::string>{"6 512 950", "3 2 512"}));
  S().PlayPosition = 100;
  Click(W().controlBitBtn[8]);  // wind backwards
  EXPECT_EQ(Sent(), (std::vector<std::string>{"6 512 50", "3 2 512"}));

  Click(W().controlBitBtn[4]);  // channel: one track, so the mix
  EXPECT_EQ(Sent(), (std::vector<std::string>{"9 1297 100", "9 1298 100"}));
  EXPECT_EQ(S().ChannelStep, 1);

  Click(W().controlBitBtn[5]);  // volume up from the driver's 200
  EXPECT_EQ(Sent(), (std::vector<std::string>{"10 1283 0", "9 1283 14418140"}));  // 220, 220
  Click(W().controlBitBtn[6]);                                                    // and down again
  EXPECT_EQ(Sent(), (std::vector<std::string>{"10 1283 0", "9 1283 13107400"}));  // 200, 200

  Click(W().controlBitBtn[3]);  // next song
  const std::vector<std::string> next = Sent();
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next.front(), "open " + PathOf(1));
  EXPECT_TRUE(Queue().empty());
  Click(W().controlBitBtn[3]);  // with an empty queue: nothing
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(f_->Notifier().messages.isEmpty()) << f_->Notifier().messages.join("|").toStdString();
}

TEST_F(PlayerWindowTest, PlayAndNextSongRedrawTheQueueViewWhileItShows) {
  W().mainTimer->stop();
  Fill(9);
  Click(W().selectBitBtn[6]);
  Click(W().songlistnextBitBtn2);
  ASSERT_EQ(S().PageNo, 2);
  ASSERT_EQ(Rows(), Entries(7, 9));

  // Play takes entry 0: page 2 now holds the one entry left past 7.
  Click(W().controlBitBtn[1]);
  ASSERT_EQ(Queue().size(), 8U);
  EXPECT_EQ(S().PageNo, 2);
  EXPECT_EQ(Rows(), Entries(7, 8));

  // Next song leaves 7: page 2 is gone, page 1 is shown afresh.
  Click(W().controlBitBtn[3]);
  ASSERT_EQ(Queue().size(), 7U);
  EXPECT_EQ(S().PageNo, 1);
  EXPECT_EQ(Rows(), Entries(0, 7));
  EXPECT_EQ(Queue().front(), Entry(2));

  // With the view gone (the singer screen), next song leaves the rows alone.
  Click(W().selectBitBtn[1]);
  ASSERT_FALSE(W().selectedsongBitBtn1->isVisible());
  W().songlistLabel[1]->SetGbkText("catalogue row");
  Click(W().controlBitBtn[3]);
  EXPECT_EQ(Queue().size(), 6U);
  EXPECT_EQ(W().songlistLabel[1]->GbkText(), "catalogue row");
}

TEST_F(PlayerWindowTest, TheTimerScrollsTheStatusLineAndStartsWaitingSongs) {
  // Nothing queued: the first tick at position 0 sets state 2, and from the
  // next tick on the empty-queue text stands still, rotated by its blank.
  Spin(3000, [&] { return Shown() == u"歌曲列表已空，请添加歌曲！ "; });
  EXPECT_EQ(Shown(), u"歌曲列表已空，请添加歌曲！ ");
  EXPECT_EQ(S().PlayerState, player::PlayerState::kIdleEmpty);

  // Two songs queued: within two ticks the first starts, and with the second
  // waiting the now-playing text scrolls.
  Sent();
  Fill(2);
  Spin(3000, [&] { return Queue().size() == 1; });
  ASSERT_EQ(Queue(), std::vector<std::string>{Entry(1)});
  const std::vector<std::string> sent = Sent();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(std::count(sent.begin(), sent.end(), "open " + PathOf(0)), 1);
  const std::u16string playing = u"       正在播放：" + platform::GbkToUtf16(Entry(0));
  // The tick that started it had shown the text before (the empty-queue
  // text, which scrolled on the tick the queue was first seen): three ticks
  // in a row show the now-playing text, one unit further each time.
  std::vector<std::u16string> shown;
  Spin(2500, [&] {
    if (IsRotationOf(Shown(), playing) && (shown.empty() || shown.back() != Shown()))
      shown.push_back(Shown());
    return shown.size() >= 3;
  });
  ASSERT_EQ(shown.size(), 3U);
  EXPECT_EQ(shown[1].substr(0, shown[1].size() - 1), shown[0].substr(1));
  EXPECT_EQ(shown[2].substr(0, shown[2].size() - 1), shown[1].substr(1));
  EXPECT_EQ(S().PlayerState, player::PlayerState::kIdleWaiting);
}

TEST_F(PlayerWindowTest, ATickThatFailsShowsOneBoxAndTheTimerGoesOnUnderIt) {
  // The next song's path cannot be looked up. The news of the lost
  // connection comes first, before any box can come up: the box of this case
  // must be the tick's own.
  f_->StopServer();
  Spin(1000);
  const qsizetype before = f_->Notifier().messages.size();
  MessageBoxNotifier boxes;
  f_->Notifier().forward = &boxes;
  Fill(2);

  // Samples taken while the box is up (its exec() runs a loop of its own).
  std::size_t mostBoxes = 0;
  std::vector<std::u16string> shownUnderBox;
  std::vector<std::size_t> readsUnderBox;
  QTimer sampler;
  sampler.setInterval(250);
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    const auto open = OpenBoxes();
    mostBoxes = std::max(mostBoxes, open.size());
    if (open.empty()) return;
    shownUnderBox.push_back(Shown());
    readsUnderBox.push_back(PositionReads());
    if (shownUnderBox.size() == 8) {
      W().mainTimer->stop();
      for (QMessageBox* box : open) box->done(0);
    }
  });
  sampler.start();
  Spin(8000, [&] { return shownUnderBox.size() >= 8 && OpenBoxes().empty(); });
  sampler.stop();
  for (QMessageBox* box : OpenBoxes()) box->done(0);

  ASSERT_EQ(shownUnderBox.size(), 8U) << "no box came up";
  EXPECT_EQ(mostBoxes, 1U);
  // The ticks went on under the box: each one read the position, showed the
  // status line the tick before had set (the now-playing text, scrolled by
  // one: every failing try sets it afresh) and tried the song again.
  EXPECT_GT(readsUnderBox.back(), readsUnderBox.front() + 2);
  const std::u16string playing = u"       正在播放：" + platform::GbkToUtf16(Entry(0));
  const std::u16string scrolled = playing.substr(1) + playing.front();
  EXPECT_EQ(shownUnderBox.back(), scrolled);
  // Every tick under the box failed again, and the entry stayed first.
  EXPECT_GE(f_->Notifier().messages.size() - before, 3);
  EXPECT_EQ(Queue().front(), Entry(0));
  EXPECT_FALSE(boxes.Showing());
}

}  // namespace
}  // namespace quor::ui
