// The song list pages through the real window: a singer's songs shown from a
// photo touch, paged by the cursor, and queued by a touch on a white row.

#include <gtest/gtest.h>

#include "ScreenTestSupport.h"
#include "platform/Codepage.h"
#include "ui/Label.h"

namespace quor::ui {
namespace {

using test::CatalogueSinger;
using test::CatalogueSong;
using test::Click;
using test::Utf8;

std::string Two(int i) {
  return (i < 10 ? "0" : "") + std::to_string(i);
}

// 甲 has 20 songs (10001..10020), 乙 7 (10021..10027), 丙 3 (10028..10030).
struct SongCatalogue {
  std::vector<CatalogueSinger> singers{{"男", "甲", "Photo\\s.jpg"},
                                       {"男", "乙", "Photo\\s.jpg"},
                                       {"男", "丙", "Photo\\s.jpg"},
                                       {"男", "", "Photo\\s.jpg"}};
  std::vector<CatalogueSong> songs;
  SongCatalogue() {
    int id = 10001;
    for (int i = 1; i <= 20; ++i)
      songs.push_back({id++, "甲歌" + Two(i), "甲", "流行", "国语", "J", "x"});
    for (int i = 1; i <= 7; ++i)
      songs.push_back({id++, "乙歌" + Two(i), "乙", "流行", "国语", "Y", "x"});
    for (int i = 1; i <= 3; ++i)
      songs.push_back({id++, "丙歌" + Two(i), "丙", "流行", "国语", "B", "x"});
    // A song without a singer, shown by the singer with the empty name.
    songs.push_back({10031, "无名", "", "流行", "国语", "W", "x"});
  }
};

class SongListTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(test::ServerKind::kRecordingPeer); }
  void Open(test::ServerKind kind) {
    f_ = std::make_unique<test::ScreenFixture>(c_.singers, c_.songs, kind);
    test::WritePhoto(f_->ProgramFolder(), "Photo\\s.jpg", qRgb(200, 40, 40));
    W().ShowControlGroup("singerBitBtn", 1);
  }
  MainWindow& W() { return f_->Window(); }
  // The songs of the singer in photo slot `slot` of the male page.
  void ShowSongsOf(int slot) {
    Click(W().singerBitBtn[1]);
    Click(W().photoImage[static_cast<std::size_t>(slot)]);
    ASSERT_TRUE(f_->Notifier().messages.isEmpty()) << Utf8(f_->Notifier().messages.join("|"));
  }
  // The seven rows' song numbers ("" for an empty row).
  std::vector<std::string> Numbers() {
    std::vector<std::string> out;
    for (std::size_t n = 1; n <= 7; ++n) {
      const std::string text = Utf8(W().songlistLabel[n]->text());
      out.push_back(text.substr(0, text.find(' ')));
    }
    return out;
  }
  std::vector<std::string> Ids(int first, int last, int rows = 7) {
    std::vector<std::string> out;
    for (int i = first; i <= last; ++i) out.push_back(std::to_string(i));
    while (static_cast<int>(out.size()) < rows) out.push_back("");
    return out;
  }
  bool RowsShown() {
    for (std::size_t n = 1; n <= 7; ++n)
      if (!W().songlistLabel[n]->isVisible()) return false;
    return W().songlistprevBitBtn1->isVisible() && W().songlistnextBitBtn2->isVisible();
  }
  std::uint32_t Colour(int row) {
    return W().songlistLabel[static_cast<std::size_t>(row)]->FontColour();
  }
  std::vector<int> BlueRows() {
    std::vector<int> out;
    for (int n = 1; n <= 7; ++n)
      if (Colour(n) == kColourBlue)
        out.push_back(n);
      else
        EXPECT_EQ(Colour(n), kColourWhite) << "row " << n;
    return out;
  }
  SongCatalogue c_;
  std::unique_ptr<test::ScreenFixture> f_;
};

TEST_F(SongListTest, TwentySongsPageInSevensAndBackFromTheLastRow) {
  ShowSongsOf(1);
  EXPECT_TRUE(RowsShown());
  EXPECT_EQ(Numbers(), Ids(10001, 10007));
  EXPECT_EQ(Utf8(W().songlistLabel[1]->text()), "10001 甲.甲歌01");
  Click(W().songlistnextBitBtn2);
  EXPECT_EQ(Numbers(), Ids(10008, 10014));
  Click(W().songlistnextBitBtn2);
  EXPECT_EQ(Numbers(), Ids(10015, 10020));  // row 7 empty, still shown
  EXPECT_TRUE(RowsShown());
  Click(W().songlistnextBitBtn2);
  EXPECT_EQ(Numbers(), Ids(10015, 10020));
  // The cursor stood on song 20, not past it: back fourteen is song 6.
  Click(W().songlistprevBitBtn1);
  EXPECT_EQ(Numbers(), Ids(10006, 10012));
  Click(W().songlistprevBitBtn1);
  EXPECT_EQ(Numbers(), Ids(10001, 10007));
  Click(W().songlistprevBitBtn1);
  EXPECT_EQ(Numbers(), Ids(10001, 10007));
}

TEST_F(SongListTest, SevenSongsEndTheResultAndThreeLeaveEmptyRowsShown) {
  ShowSongsOf(2);
  EXPECT_EQ(Numbers(), Ids(10021, 10027));
  Click(W().songlistnextBitBtn2);  // the first fill reached the end
  EXPECT_EQ(Numbers(), Ids(10021, 10027));
  Click(W().songlistprevBitBtn1);
  EXPECT_EQ(Numbers(), Ids(10021, 10027));

  ShowSongsOf(3);
  EXPECT_EQ(Numbers(), Ids(10028, 10030));
  EXPECT_TRUE(RowsShown());
  EXPECT_EQ(Utf8(W().songlistLabel[4]->text()), "");

  // An empty singer keeps the blank and the full stop.
  ShowSongsOf(4);
  EXPECT_EQ(Utf8(W().songlistLabel[1]->text()), "10031 .无名");
}

TEST_F(SongListTest, ATouchQueuesAWhiteRowOnceAndQueuedSongsAreBlueWhereverTheyComeUp) {
  ShowSongsOf(1);
  Click(W().songlistLabel[2]);
  Click(W().songlistLabel[2]);  // blue now: nothing more
  Click(W().songlistLabel[7]);
  const std::vector<std::string> expected{platform::Utf8ToGbk("10002 甲.甲歌02"),
                                          platform::Utf8ToGbk("10007 甲.甲歌07")};
  EXPECT_EQ(W().State().SelectedSongs, expected);
  EXPECT_EQ(W().songlistLabel[2]->GbkText(), expected[0]);  // the bytes the queue holds
  EXPECT_EQ(BlueRows(), (std::vector<int>{2, 7}));

  // Paging resets the colours; queued songs come up blue again.
  Click(W().songlistnextBitBtn2);
  EXPECT_EQ(BlueRows(), std::vector<int>{});
  Click(W().songlistnextBitBtn2);
  Click(W().songlistprevBitBtn1);  // songs 6..12: song 7 in row 2
  EXPECT_EQ(Numbers(), Ids(10006, 10012));
  EXPECT_EQ(BlueRows(), std::vector<int>{2});
  // An empty row appends nothing (it turns blue, which shows nothing).
  Click(W().songlistnextBitBtn2);  // songs 13..19
  Click(W().songlistnextBitBtn2);  // song 20 alone
  EXPECT_EQ(Numbers(), Ids(10020, 10020));
  Click(W().songlistLabel[7]);
  EXPECT_EQ(W().State().SelectedSongs.size(), 2U);

  // Once the player has taken a song off the queue it shows white again.
  W().State().SelectedSongs.erase(W().State().SelectedSongs.begin() + 1);
  Click(W().songlistprevBitBtn1);
  Click(W().songlistprevBitBtn1);
  EXPECT_EQ(Numbers(), Ids(10001, 10007));
  EXPECT_EQ(BlueRows(), std::vector<int>{2});
  EXPECT_TRUE(f_->Notifier().messages.isEmpty()) << Utf8(f_->Notifier().messages.join("|"));
}

TEST_F(SongListTest, TheRealServerProgramAnswersThePhotoTouch) {
  Open(test::ServerKind::kProgram);
  ShowSongsOf(1);
  EXPECT_EQ(Numbers(), Ids(10001, 10007));
  // The program's log names every statement it ran, the providers' own
  // default commands of the openings at show included: the last ones are
  // the guest's.
  EXPECT_EQ(f_->Statements("singerDataSetProvider").back(),
            "select * from singer where SEX=\"男\"");
  EXPECT_EQ(f_->Statements("songDataSetProvider").back(),
            "select SINGID,SINGNAME,SINGER from vodinfo where SINGER=\"甲\"");
}

}  // namespace
}  // namespace quor::ui
