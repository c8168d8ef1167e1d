// Finding songs through the real window: the select buttons, the type and
// language buttons and the keypad, observed in the statements that reach
// the server (UTF-16 as it travels) and in what the window shows.

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>

#include "ScreenTestSupport.h"
#include "platform/Codepage.h"

namespace quor::ui {
namespace {

using test::CatalogueSong;
using test::Click;
using test::Utf8;

constexpr const char* kSelect = "select SINGID,SINGNAME,SINGER from vodinfo where ";

std::vector<CatalogueSong> SearchSongs() {
  std::vector<CatalogueSong> songs;
  // 流行 Mandarin songs 10001..10009 with initials AB1..AB9.
  for (int i = 1; i <= 9; ++i)
    songs.push_back({10000 + i, "流行" + std::to_string(i), "甲", "流行", "国语",
                     "AB" + std::to_string(i), "x"});
  songs.push_back({10010, "其他歌", "乙", "其他", "粤语", "QTG", "x"});
  songs.push_back({10011, "别的话", "乙", "民歌", "其他", "BDH", "x"});
  songs.push_back({10012, "九个字", "丙", "少儿", "英语", "ABCDEFGHMX", "x"});
  return songs;
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f_ = std::make_unique<test::ScreenFixture>(std::vector<test::CatalogueSinger>{}, SearchSongs());
  }
  MainWindow& W() { return f_->Window(); }
  // The statements of songClientDataSet as they travelled (UTF-16).
  std::vector<std::u16string> Sent() {
    std::vector<std::u16string> out;
    for (const data::test::RecordedCall& c : f_->Peer().Calls())
      if (c.op == "AS_GetRecords" && c.provider == "songDataSetProvider" && !c.command16.empty())
        out.push_back(c.command16);
    return out;
  }
  std::u16string Expected(const std::string& whereUtf8) {
    return platform::Utf8ToUtf16(kSelect + whereUtf8);
  }
  std::string Row(int n) { return Utf8(W().songlistLabel[static_cast<std::size_t>(n)]->text()); }
  bool RowsShown() {
    for (std::size_t n = 1; n <= 7; ++n)
      if (!W().songlistLabel[n]->isVisible()) return false;
    return W().songlistnextBitBtn2->isVisible();
  }
  bool RowsHidden() {
    for (std::size_t n = 1; n <= 7; ++n)
      if (W().songlistLabel[n]->isVisible()) return false;
    return !W().songlistnextBitBtn2->isVisible() && !W().songlistprevBitBtn1->isVisible();
  }
  void Keys(std::initializer_list<int> keys) {
    for (int k : keys) Click(W().numImage[static_cast<std::size_t>(k)]);
  }
  std::string Letters() { return Utf8(W().PYselEdit->text()); }
  std::string Digits() { return Utf8(W().BMnumEdit->text()); }
  void ExpectNoMessage() {
    EXPECT_TRUE(f_->Notifier().messages.isEmpty()) << Utf8(f_->Notifier().messages.join("|"));
  }
  std::unique_ptr<test::ScreenFixture> f_;
};

TEST_F(SearchTest, SelectButtonsSwitchTheSearchMethod) {
  Click(W().selectBitBtn[2]);
  EXPECT_TRUE(W().songtypeBitBtn[8]->isVisible());
  EXPECT_FALSE(W().singerBitBtn[1]->isVisible());
  Click(W().songtypeBitBtn[1]);
  EXPECT_TRUE(RowsShown());
  W().State().QueueView = true;
  Click(W().selectBitBtn[3]);
  EXPECT_FALSE(W().State().QueueView);
  EXPECT_TRUE(W().LanguageBitBtn[5]->isVisible());
  EXPECT_FALSE(W().songtypeBitBtn[1]->isVisible());
  EXPECT_TRUE(RowsHidden());
  Click(W().selectBitBtn[1]);
  EXPECT_TRUE(W().singerBitBtn[3]->isVisible());
  EXPECT_FALSE(W().LanguageBitBtn[1]->isVisible());
  Click(W().selectBitBtn[4]);
  EXPECT_TRUE(W().PYselBitBtn->isVisible());
  EXPECT_TRUE(W().BMselBitBtn->isVisible());
  EXPECT_FALSE(W().singerBitBtn[1]->isVisible());
  EXPECT_FALSE(W().BMnumPanel->isVisible());  // the keypad opens with its mode button
  // Hiding the keypad buttons closes the keypad and wipes it.
  Click(W().BMselBitBtn);
  Keys({1, 2});
  Click(W().selectBitBtn[2]);
  EXPECT_FALSE(W().BMnumPanel->isVisible());
  EXPECT_EQ(Digits(), "");
  ExpectNoMessage();
}

TEST_F(SearchTest, TypeAndLanguageWordsGoToTheirColumnsQuoted) {
  Click(W().selectBitBtn[2]);
  for (std::size_t n = 1; n <= 8; ++n) Click(W().songtypeBitBtn[n]);
  Click(W().selectBitBtn[3]);
  for (std::size_t n = 1; n <= 5; ++n) Click(W().LanguageBitBtn[n]);
  const std::vector<std::u16string> expected{
      Expected("TYPE='流行'"),         Expected("TYPE='怀旧'"),
      Expected("TYPE='民歌'"),         Expected("TYPE='少儿'"),
      Expected("TYPE='情歌'"),         Expected("TYPE='军旅'"),
      Expected("TYPE='戏曲'"),         Expected("TYPE='其他'"),
      Expected("SONGLANGUAGE='国语'"), Expected("SONGLANGUAGE='粤语'"),
      Expected("SONGLANGUAGE='英语'"), Expected("SONGLANGUAGE='闽南'"),
      Expected("SONGLANGUAGE='其他'")};
  EXPECT_EQ(Sent(), expected);
  // 其他 as a language is 别的话; as a type it was 其他歌.
  EXPECT_EQ(Row(1), "10011 乙.别的话");
  ExpectNoMessage();
}

TEST_F(SearchTest, ATypeShowsItsFirstPageAndAnEmptyOneHidesTheRows) {
  Click(W().selectBitBtn[2]);
  Click(W().songtypeBitBtn[1]);
  EXPECT_TRUE(RowsShown());
  EXPECT_EQ(Row(1), "10001 甲.流行1");
  EXPECT_EQ(Row(7), "10007 甲.流行7");
  Click(W().songlistnextBitBtn2);
  EXPECT_EQ(Row(2), "10009 甲.流行9");
  Click(W().songtypeBitBtn[2]);  // 怀旧: no songs
  EXPECT_TRUE(RowsHidden());
  // The keypad button empties the rows of an earlier result but leaves them
  // and their page buttons shown; next page still pages that result.
  Click(W().songtypeBitBtn[1]);
  Click(W().selectBitBtn[4]);
  EXPECT_TRUE(RowsShown());
  EXPECT_EQ(Row(1), "");
  Click(W().songlistnextBitBtn2);
  EXPECT_EQ(Row(1), "10008 甲.流行8");
  ExpectNoMessage();
}

TEST_F(SearchTest, TheFifthDigitSearchesAtOnceAndASongClosesThePanel) {
  Click(W().selectBitBtn[4]);
  Click(W().BMselBitBtn);
  EXPECT_TRUE(W().BMnumPanel->isVisible());
  EXPECT_TRUE(W().BMnumEdit->isVisible());
  EXPECT_FALSE(W().PYselEdit->isVisible());
  EXPECT_FALSE(W().delpyImage->isVisible());
  Keys({1, 10, 10, 10});
  EXPECT_EQ(Digits(), "1000");
  EXPECT_TRUE(Sent().empty());
  QElapsedTimer clock;
  clock.start();
  Keys({3});
  EXPECT_LT(clock.elapsed(), 700);  // found: no pause
  EXPECT_EQ(Sent(), std::vector<std::u16string>{Expected("SINGID=10003")});
  EXPECT_FALSE(W().BMnumPanel->isVisible());
  EXPECT_TRUE(RowsShown());
  EXPECT_EQ(Row(1), "10003 甲.流行3");
  EXPECT_EQ(Row(2), "");
  // The digits stay in the hidden box; setting it to them again is no
  // change and searches nothing.
  EXPECT_EQ(Digits(), "10003");
  W().BMnumEdit->setText(QStringLiteral("10003"));
  EXPECT_EQ(Sent().size(), 1U);
  // The delete key takes the last digit.
  Click(W().BMselBitBtn);
  Keys({4, 2});
  Click(W().delnumImage);
  EXPECT_EQ(Digits(), "4");
  ExpectNoMessage();
}

TEST_F(SearchTest, ANumberWithoutASongStaysForASecondWhileTheWindowLivesOn) {
  Click(W().selectBitBtn[4]);
  Click(W().BMselBitBtn);
  std::string during;
  bool panelDuring = false;
  // A key touched during the pause runs at once: a sixth digit.
  QTimer::singleShot(300, [&] {
    during = Digits();
    panelDuring = W().BMnumPanel->isVisible();
    Click(W().numImage[6]);
  });
  QElapsedTimer clock;
  clock.start();
  Keys({9, 9, 9, 9, 9});
  const qint64 took = clock.elapsed();
  EXPECT_GE(took, 950);
  EXPECT_LT(took, 2500);
  EXPECT_EQ(during, "99999");
  EXPECT_TRUE(panelDuring);
  EXPECT_EQ(Sent(), std::vector<std::u16string>{Expected("SINGID=99999")});
  EXPECT_EQ(Digits(), "");
  EXPECT_TRUE(W().BMnumPanel->isVisible());
  ExpectNoMessage();
}

TEST_F(SearchTest, ClosingTheWindowDuringThePauseEndsIt) {
  Click(W().selectBitBtn[4]);
  Click(W().BMselBitBtn);
  QTimer::singleShot(200, [&] { W().close(); });
  QElapsedTimer clock;
  clock.start();
  Keys({9, 9, 9, 9, 9});
  EXPECT_LT(clock.elapsed(), 800);
  EXPECT_FALSE(W().isVisible());
}

TEST_F(SearchTest, LettersAreTypedByMultiTap) {
  Click(W().selectBitBtn[4]);
  Click(W().PYselBitBtn);
  EXPECT_TRUE(W().PYselEdit->isVisible());
  EXPECT_FALSE(W().BMnumEdit->isVisible());
  EXPECT_TRUE(W().delpyImage->isVisible());
  EXPECT_TRUE(W().PYBGImage->isVisible());
  EXPECT_FALSE(W().BMselImage->isVisible());
  Keys({1, 1, 1});
  EXPECT_EQ(Letters(), "C");
  Keys({1});
  EXPECT_EQ(Letters(), "A");
  Keys({10, 1});
  EXPECT_EQ(Letters(), "AA");
  Keys({2});
  EXPECT_EQ(Letters(), "AD");
  Click(W().delpyImage);
  Click(W().delpyImage);
  EXPECT_EQ(Letters(), "");
  Keys({9});
  EXPECT_EQ(Letters(), "Y");
  Keys({9});
  EXPECT_EQ(Letters(), "Z");
  Keys({9});
  EXPECT_EQ(Letters(), "Y");
  // The flag on an empty box: the first key sets its letter and the flag
  // stays, so the next key appends.
  Click(W().delpyImage);
  Keys({10, 1});
  EXPECT_EQ(Letters(), "A");
  EXPECT_TRUE(W().State().NextLetterPending);
  Keys({2});
  EXPECT_EQ(Letters(), "AD");
  EXPECT_FALSE(W().State().NextLetterPending);
  // Nothing typed into the read-only box reaches it.
  QKeyEvent key(QEvent::KeyPress, Qt::Key_Percent, Qt::NoModifier, QStringLiteral("%"));
  QCoreApplication::sendEvent(W().PYselEdit, &key);
  EXPECT_EQ(Letters(), "AD");
  EXPECT_TRUE(Sent().empty());
  ExpectNoMessage();
}

TEST_F(SearchTest, TheLetterSearchFindsByPrefixOrEmptiesTheLetters) {
  Click(W().selectBitBtn[4]);
  Click(W().PYselBitBtn);
  Keys({8, 8, 8});  // X: nothing starts with it
  Click(W().delnumImage);
  EXPECT_EQ(Sent(), std::vector<std::u16string>{Expected("FIRSTWORD like \"X%\"")});
  EXPECT_EQ(Letters(), "");
  EXPECT_TRUE(W().BMnumPanel->isVisible());
  EXPECT_FALSE(W().songlistLabel[1]->isVisible());
  Click(W().delnumImage);  // an empty box searches nothing
  EXPECT_EQ(Sent().size(), 1U);

  Keys({1, 10, 1, 1});  // AB
  Click(W().delnumImage);
  EXPECT_EQ(Sent().back(), Expected("FIRSTWORD like \"AB%\""));
  EXPECT_FALSE(W().BMnumPanel->isVisible());
  EXPECT_EQ(Letters(), "");
  EXPECT_TRUE(RowsShown());
  EXPECT_EQ(Row(1), "10001 甲.流行1");
  EXPECT_EQ(Row(7), "10007 甲.流行7");

  // Nine letters: the box keeps them all and so does the statement.
  Click(W().PYselBitBtn);
  for (int key : {1, 10, 1, 1, 10, 1, 1, 1, 10, 2, 10, 2, 2, 10, 2, 2, 2, 10, 3, 10, 3, 3, 10, 5})
    Click(W().numImage[static_cast<std::size_t>(key)]);
  EXPECT_EQ(Letters(), "ABCDEFGHM");
  Click(W().delnumImage);
  EXPECT_EQ(Sent().back(), Expected("FIRSTWORD like \"ABCDEFGHM%\""));
  EXPECT_EQ(Row(1), "10012 丙.九个字");
  ExpectNoMessage();
}

}  // namespace
}  // namespace quor::ui
