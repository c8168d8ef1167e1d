// The remote control's keys through the real window and the real screens
// (offscreen), observed in the statements that reach the server, the queue
// and what the window shows.

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include "ScreenTestSupport.h"
#include "app/RemoteKeys.h"
#include "platform/Codepage.h"

namespace quor::app {
namespace {

using ui::test::CatalogueSinger;
using ui::test::CatalogueSong;
using ui::test::Click;
using ui::test::Utf8;

constexpr const char* kSelect = "select SINGID,SINGNAME,SINGER from vodinfo where ";

class RemoteKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<CatalogueSinger> singers;
    for (const char* name : {"甲", "乙", "丙", "丁"})
      singers.push_back({"男", name, "Photo\\s.jpg"});
    std::vector<CatalogueSong> songs;
    for (int i = 1; i <= 9; ++i)
      songs.push_back({10000 + i, "歌" + std::to_string(i), "甲", "流行", "国语", "AB", "x"});
    songs.push_back({10010, "旧歌", "乙", "怀旧", "国语", "JG", "x"});
    f_ = std::make_unique<ui::test::ScreenFixture>(singers, songs);
    ui::test::WritePhoto(f_->ProgramFolder(), "Photo\\s.jpg", qRgb(10, 120, 200));
    keys_ = std::make_unique<RemoteKeys>(W());
    W().SetRemoteKeyDispatch(*keys_);
  }
  ui::MainWindow& W() { return f_->Window(); }
  void Key(int id) { W().WMHotKey(id); }
  std::vector<std::string> Songs() { return f_->Statements("songDataSetProvider"); }
  std::vector<std::string>& Queue() { return W().State().SelectedSongs; }
  std::string Letters() { return Utf8(W().PYselEdit->text()); }
  std::string Digits() { return Utf8(W().BMnumEdit->text()); }
  void PhotoPage() {
    Click(W().selectBitBtn[1]);
    Click(W().singerBitBtn[1]);
  }
  void ExpectNoMessage() {
    EXPECT_TRUE(f_->Notifier().messages.isEmpty()) << Utf8(f_->Notifier().messages.join("|"));
  }
  std::unique_ptr<ui::test::ScreenFixture> f_;
  std::unique_ptr<RemoteKeys> keys_;
};

TEST_F(RemoteKeysTest, Num3ActsOnThePhotoPageTheSongListOrTheKeypad) {
  PhotoPage();
  Key(1013);
  EXPECT_EQ(Songs().back(), kSelect + std::string("Singer=\"丙\""));
  Key(1011);  // the first photo spells SINGER
  EXPECT_EQ(Songs().back(), kSelect + std::string("SINGER=\"甲\""));
  // The song list is shown now: Num3 touches row 3, Num7 row 7.
  Key(1013);
  Key(1017);
  EXPECT_EQ(Queue(), (std::vector<std::string>{platform::Utf8ToGbk("10003 甲.歌3"),
                                               platform::Utf8ToGbk("10007 甲.歌7")}));
  // Num8 has nothing to do on the song list.
  const std::size_t sent = Songs().size();
  Key(1018);
  EXPECT_EQ(Queue().size(), 2U);
  EXPECT_EQ(Songs().size(), sent);
  // The keypad alone: the digits.
  Click(W().selectBitBtn[2]);  // hides the rows
  Click(W().selectBitBtn[4]);
  Click(W().BMselBitBtn);
  for (int id : {1013, 1018, 1019, 1010}) Key(id);
  EXPECT_EQ(Digits(), "3890");
  ExpectNoMessage();
}

TEST_F(RemoteKeysTest, PhotoKeysTakeTheNthSingerEvenWhenItsPhotoIsHidden) {
  PhotoPage();
  W().photoImage[5]->hide();
  Key(1015);  // the fifth slot repeats the fourth singer
  EXPECT_EQ(Songs().back(), kSelect + std::string("Singer=\"丁\""));
}

TEST_F(RemoteKeysTest, AffirmSearchesLettersOrPressesEnterOnTheFocusedButton) {
  // Left focuses the top of the menu; down moves along the tab stops.
  Key(1029);
  EXPECT_EQ(W().focusWidget(), W().selectBitBtn[1]);
  EXPECT_EQ(W().selectBitBtn[1]->Margin(), 1);  // the cue follows
  Key(1028);
  EXPECT_EQ(W().focusWidget(), W().selectBitBtn[2]);
  EXPECT_EQ(W().selectBitBtn[1]->Margin(), -1);
  Key(1025);  // Enter on 分类点歌
  EXPECT_TRUE(W().songtypeBitBtn[1]->isVisible());
  // Return on the type screen lists the second type's songs.
  Key(1026);
  EXPECT_EQ(Songs().back(), kSelect + std::string("TYPE='怀旧'"));
  // Right focuses the first type button; Enter runs it.
  Key(1030);
  EXPECT_EQ(W().focusWidget(), W().songtypeBitBtn[1]);
  Key(1025);
  EXPECT_EQ(Songs().back(), kSelect + std::string("TYPE='流行'"));

  // The letter keypad with an empty box: Enter on the focused button.
  Click(W().selectBitBtn[4]);
  Click(W().PYselBitBtn);
  Key(1030);  // focus 拼音
  ASSERT_EQ(W().focusWidget(), W().PYselBitBtn);
  W().State().NextLetterPending = true;
  Key(1025);  // Enter on 拼音 reopens the letter keypad (empty)
  EXPECT_TRUE(W().PYselEdit->isVisible());
  // With letters typed Affirm is the search key.
  Key(1011);
  Key(1010);  // the next letter
  Key(1011);
  Key(1011);
  EXPECT_EQ(Letters(), "AB");
  Key(1025);
  EXPECT_EQ(Songs().back(), kSelect + std::string("FIRSTWORD like \"AB%\""));
  EXPECT_FALSE(W().BMnumPanel->isVisible());
  ExpectNoMessage();
}

TEST_F(RemoteKeysTest, FocusMovesSkipThePlayerButtonsAndTheQueueButton) {
  Key(1029);
  for (int i = 0; i < 4; ++i) Key(1028);
  EXPECT_EQ(W().focusWidget(), W().selectBitBtn[5]);
  // The next tab stop after 呼叫服务 is past selectBitBtn6 and the player row.
  Key(1028);
  EXPECT_NE(W().focusWidget(), W().selectBitBtn[6]);
  for (std::size_t b = 1; b <= 8; ++b) EXPECT_NE(W().focusWidget(), W().controlBitBtn[b]);
  EXPECT_EQ(W().focusWidget(), W().selectBitBtn[1]);  // nothing else showing: round again
  Key(1027);
  EXPECT_EQ(W().focusWidget(), W().selectBitBtn[5]);
}

TEST_F(RemoteKeysTest, DeleteActsOnTheQueueOnlyWhenBothCouldApply) {
  for (int i = 0; i < 9; ++i) Queue().push_back(std::to_string(i) + " a.b");
  Key(1020);  // the queue view, page 2, row 1 picked
  Key(1024);
  Key(1011);
  // The letter keypad over it, with a letter typed.
  W().ShowControlGroup("pyselectcontrol", 1);
  Click(W().PYselBitBtn);
  W().ShowControlGroup("selectedcontrol", 1);
  W().State().QueueView = true;
  W().State().PageNo = 2;
  W().State().QueueCursor = 1;
  Key(1011);
  ASSERT_EQ(Letters(), "A");
  Key(1022);
  EXPECT_EQ(Queue().size(), 8U);
  EXPECT_EQ(Queue()[7], "8 a.b");
  EXPECT_EQ(Letters(), "A");  // the letter stays
  // Without the queue's buttons: the last letter.
  W().ShowControlGroup("selectedcontrol", 0);
  Key(1022);
  EXPECT_EQ(Letters(), "");
  // In number mode: the last digit.
  Click(W().BMselBitBtn);
  Key(1014);
  Key(1015);
  Key(1022);
  EXPECT_EQ(Digits(), "4");
}

TEST_F(RemoteKeysTest, TheQueueKeysAndThePageKeys) {
  PhotoPage();
  Key(1011);
  Key(1011);  // queue 10001
  Key(1024);  // next page of songs
  Key(1012);  // queue 10009
  Key(1023);
  EXPECT_EQ(Utf8(W().songlistLabel[1]->text()), "10001 甲.歌1");
  Key(1020);  // Selected: the queue view
  EXPECT_TRUE(W().State().QueueView);
  Key(1012);  // pick row 2
  Key(1021);  // Priority
  EXPECT_EQ(Queue().front(), platform::Utf8ToGbk("10009 甲.歌9"));
  Key(1012);
  Key(1022);  // Delete
  EXPECT_EQ(Queue().size(), 1U);
  // Return in the queue view opens it afresh.
  Key(1026);
  EXPECT_EQ(W().State().PageNo, 1);
  ExpectNoMessage();
}

TEST_F(RemoteKeysTest, ThePlayerKeysAlwaysReachThePlayer) {
  W().mainTimer->stop();  // the test's own ticks only
  Queue() = {platform::Utf8ToGbk("10001 甲.歌1"), platform::Utf8ToGbk("10002 甲.歌2")};
  // "command code" of each request since the last look.
  std::size_t seen = f_->DecoderRequests().size();
  auto sent = [&] {
    std::vector<std::string> out;
    const auto all = f_->DecoderRequests();
    for (std::size_t i = seen; i < all.size(); ++i)
      out.push_back(std::to_string(all[i].lParam1 & 0xFF) + " " +
                    std::to_string(all[i].lParam1 >> 16));
    seen = all.size();
    return out;
  };
  Key(1000);  // Play: the first song starts (open, length, channels, play, 514)
  EXPECT_EQ(sent(), (std::vector<std::string>{"1 1", "10 531", "10 1538", "3 768", "6 514"}));
  Key(1001);  // Pause
  EXPECT_EQ(sent(), std::vector<std::string>{"4 0"});
  Key(1000);  // Play again: resume
  EXPECT_EQ(sent(), std::vector<std::string>{"3 4"});
  Key(1006);  // Volup
  EXPECT_EQ(sent(), (std::vector<std::string>{"10 1283", "9 1283"}));
  Key(1007);  // Voldown
  EXPECT_EQ(sent(), (std::vector<std::string>{"10 1283", "9 1283"}));
  Key(1005);  // Channel: one track, the mix
  EXPECT_EQ(sent(), (std::vector<std::string>{"9 1297", "9 1298"}));
  W().State().StreamLength = 100000;
  W().State().PlayPosition = 50000;
  Key(1003);  // Fast
  EXPECT_EQ(sent(), (std::vector<std::string>{"6 512", "3 2"}));
  Key(1004);  // FastBack
  EXPECT_EQ(sent(), (std::vector<std::string>{"6 512", "3 2"}));
  Key(1002);  // NextSong: the second song
  const std::vector<std::string> next = sent();
  ASSERT_FALSE(next.empty());
  EXPECT_EQ(next.front(), "1 1");
  EXPECT_TRUE(Queue().empty());
  ExpectNoMessage();
}

TEST_F(RemoteKeysTest, VinoserveSendsTheRoomRequestAndOtherIdsDoNothing) {
  for (int id : {999, 1008, 1009, 1032, 2000, -1}) Key(id);
  EXPECT_TRUE(Songs().empty());
  Key(1031);
  bool applied = false;
  for (const data::test::RecordedCall& c : f_->Peer().Calls())
    applied = applied || (c.op == "AS_ApplyUpdates" && c.provider == "tempDataSetProvider");
  EXPECT_TRUE(applied);
  ExpectNoMessage();
}

}  // namespace
}  // namespace quor::app
