// The singer photo pages through the real window over a real data module
// and real server sessions: what reaches the server and what the slots show.

#include <gtest/gtest.h>

#include <QFile>
#include <filesystem>

#include "ScreenTestSupport.h"
#include "data/DataModule.h"

namespace quor::ui {
namespace {

using test::CatalogueSinger;
using test::CatalogueSong;
using test::Click;
using test::Middle;
using test::Near;
using test::Utf8;

std::string Two(int i) {
  return (i < 10 ? "0" : "") + std::to_string(i);
}

QRgb ColourOf(int category, int i) {
  return qRgb(40 * category + 5 * i, 250 - 9 * i, (37 * i + 60 * category) % 256);
}

// 20 male singers, 8 female (the third without a photo file), 6 groups
// (photos in upper case, as a bitmap, broken, and huge).
struct PhotoCatalogue {
  std::vector<CatalogueSinger> singers;
  std::vector<CatalogueSong> songs;
  PhotoCatalogue() {
    for (int i = 1; i <= 20; ++i)
      singers.push_back({"男", "男" + Two(i), "Photo\\m" + Two(i) + ".jpg"});
    for (int i = 1; i <= 8; ++i)
      singers.push_back({"女", "女" + Two(i), "Photo\\f" + Two(i) + ".jpg"});
    singers.push_back({"组合", "组01", "Photo\\G01.JPG"});
    singers.push_back({"组合", "组02", "Photo\\g02.bmp"});
    singers.push_back({"组合", "组03", "Photo\\g03.jpg"});
    singers.push_back({"组合", "组04", "Photo\\g04.bmp"});
    singers.push_back({"组合", "组05", "Photo\\g05.jpeg"});
    singers.push_back({"组合", "组06", ""});
    songs.push_back({10001, "歌", "男01", "流行", "国语", "G", "x"});
  }
  void WritePhotos(const std::string& folder) const {
    for (int i = 1; i <= 20; ++i)
      test::WritePhoto(folder, "Photo\\m" + Two(i) + ".jpg", ColourOf(1, i));
    for (int i = 1; i <= 8; ++i)
      if (i != 3) test::WritePhoto(folder, "Photo\\f" + Two(i) + ".jpg", ColourOf(2, i));
    test::WritePhoto(folder, "Photo\\G01.JPG", ColourOf(3, 1));
    test::WritePhoto(folder, "Photo\\g02.bmp", ColourOf(3, 2));
    QFile broken(QString::fromStdString(folder + "Photo/g03.jpg"));
    broken.open(QIODevice::WriteOnly);
    broken.write("\xFF\xD8\xFF\xE0 this is not a picture");
    broken.close();
    // A bitmap header that claims 30000 x 30000 pixels and holds none.
    QByteArray header(54, '\0');
    header[0] = 'B';
    header[1] = 'M';
    header[10] = 54;
    header[14] = 40;
    auto put32 = [&](int at, quint32 v) {
      for (int b = 0; b < 4; ++b) header[at + b] = static_cast<char>((v >> (8 * b)) & 0xFF);
    };
    put32(18, 30000);
    put32(22, 30000);
    header[26] = 1;
    header[28] = 24;
    QFile huge(QString::fromStdString(folder + "Photo/g04.bmp"));
    huge.open(QIODevice::WriteOnly);
    huge.write(header);
    huge.close();
    test::WritePhoto(folder, "Photo\\g05.jpeg", ColourOf(3, 5));
  }
};

class SingerPagesTest : public ::testing::Test {
 protected:
  void Open(const std::vector<CatalogueSinger>& singers, const std::vector<CatalogueSong>& songs) {
    f_ = std::make_unique<test::ScreenFixture>(singers, songs);
    f_->Window().ShowControlGroup("singerBitBtn", 1);  // as the singer menu button shows them
  }
  MainWindow& W() { return f_->Window(); }
  std::string Name(int slot) {
    return Utf8(W().photonameLabel[static_cast<std::size_t>(slot)]->text());
  }
  QRgb Photo(int slot) { return Middle(W().photoImage[static_cast<std::size_t>(slot)]->Image()); }
  bool ShowsFallback(int slot) {
    return W().photoImage[static_cast<std::size_t>(slot)]->Image() == f_->Fallback();
  }
  // Slots 1..6 show the singers of `category` numbered first.. (0: skip).
  void ExpectPage(int category, const char* prefix, std::vector<int> numbers) {
    for (std::size_t slot = 1; slot <= numbers.size(); ++slot) {
      const int i = numbers[slot - 1];
      if (i == 0) continue;
      EXPECT_EQ(Name(static_cast<int>(slot)), prefix + Two(i)) << "slot " << slot;
      EXPECT_TRUE(Near(Photo(static_cast<int>(slot)), ColourOf(category, i))) << "slot " << slot;
    }
  }
  std::unique_ptr<test::ScreenFixture> f_;
};

TEST_F(SingerPagesTest, TwentySingersPageForwardAndBackByTheCursor) {
  PhotoCatalogue c;
  Open(c.singers, c.songs);
  c.WritePhotos(f_->ProgramFolder());
  W().songlistLabel[1]->show();  // a song page that the category button must hide
  Click(W().singerBitBtn[1]);
  ASSERT_TRUE(f_->Notifier().messages.isEmpty()) << Utf8(f_->Notifier().messages.join("|"));
  EXPECT_EQ(f_->Statements("singerDataSetProvider"),
            std::vector<std::string>{"select * from singer where SEX=\"男\""});
  for (std::size_t n = 1; n <= 6; ++n) {
    EXPECT_TRUE(W().photoImage[n]->isVisible());
    EXPECT_TRUE(W().photonameLabel[n]->isVisible());
  }
  EXPECT_TRUE(W().photonextBitBtn2->isVisible());
  EXPECT_FALSE(W().songlistLabel[1]->isVisible());
  EXPECT_FALSE(W().songlistnextBitBtn2->isVisible());
  ExpectPage(1, "男", {1, 2, 3, 4, 5, 6});

  Click(W().photonextBitBtn2);
  ExpectPage(1, "男", {7, 8, 9, 10, 11, 12});
  Click(W().photonextBitBtn2);
  ExpectPage(1, "男", {13, 14, 15, 16, 17, 18});
  // The last two singers fill slots 1 and 2; the others keep what they had.
  Click(W().photonextBitBtn2);
  ExpectPage(1, "男", {19, 20, 15, 16, 17, 18});
  Click(W().photonextBitBtn2);
  ExpectPage(1, "男", {19, 20, 15, 16, 17, 18});
  // The cursor stood on singer 20: back twelve is singer 8.
  Click(W().photoprevBitBtn1);
  ExpectPage(1, "男", {8, 9, 10, 11, 12, 13});
  // From there the cursor stands on singer 14: back twelve is singer 2, and
  // the move stops at the first row after that.
  Click(W().photoprevBitBtn1);
  ExpectPage(1, "男", {2, 3, 4, 5, 6, 7});
  Click(W().photoprevBitBtn1);
  ExpectPage(1, "男", {1, 2, 3, 4, 5, 6});
  Click(W().photoprevBitBtn1);
  ExpectPage(1, "男", {1, 2, 3, 4, 5, 6});
  EXPECT_TRUE(f_->Notifier().messages.isEmpty());
}

TEST_F(SingerPagesTest, EightAndSixSingersAndPhotosThatCannotBeShown) {
  PhotoCatalogue c;
  Open(c.singers, c.songs);
  c.WritePhotos(f_->ProgramFolder());
  Click(W().singerBitBtn[1]);
  // The third female singer has no photo file: the fallback shows under the
  // name the slot showed before.
  Click(W().singerBitBtn[2]);
  EXPECT_EQ(f_->Statements("singerDataSetProvider").back(),
            "select * from singer where SEX=\"女\"");
  ExpectPage(2, "女", {1, 2, 0, 4, 5, 6});
  EXPECT_EQ(Name(3), "男03");
  EXPECT_TRUE(ShowsFallback(3));
  // Eight: the next page puts 7 and 8 in slots 1 and 2, then nothing moves.
  Click(W().photonextBitBtn2);
  ExpectPage(2, "女", {7, 8, 0, 4, 5, 6});
  Click(W().photonextBitBtn2);
  ExpectPage(2, "女", {7, 8, 0, 4, 5, 6});
  Click(W().photoprevBitBtn1);
  ExpectPage(2, "女", {1, 2, 0, 4, 5, 6});

  // Six groups: an upper-case extension and a bitmap load; a broken file, a
  // bitmap claiming 30000 x 30000 pixels and an empty Path fall back.
  Click(W().singerBitBtn[3]);
  EXPECT_EQ(f_->Statements("singerDataSetProvider").back(),
            "select * from singer where SEX=\"组合\"");
  ExpectPage(3, "组", {1, 2, 0, 0, 5, 0});
  EXPECT_TRUE(ShowsFallback(3));
  EXPECT_TRUE(ShowsFallback(4));
  EXPECT_TRUE(ShowsFallback(6));
  EXPECT_EQ(Name(3), "男03");  // the female page could not name it either
  EXPECT_EQ(Name(4), "女04");
  EXPECT_EQ(Name(6), "女06");
  // Exactly six: next page changes nothing.
  Click(W().photonextBitBtn2);
  ExpectPage(3, "组", {1, 2, 0, 0, 5, 0});
  EXPECT_EQ(Name(4), "女04");
  EXPECT_TRUE(f_->Notifier().messages.isEmpty()) << Utf8(f_->Notifier().messages.join("|"));
}

TEST_F(SingerPagesTest, FourSingersRepeatTheLastAndNoneKeepsTheNames) {
  std::vector<CatalogueSinger> singers;
  for (int i = 1; i <= 4; ++i)
    singers.push_back({"组合", "组" + Two(i), "Photo\\g" + Two(i) + ".jpg"});
  Open(singers, {});
  for (int i = 1; i <= 4; ++i)
    test::WritePhoto(f_->ProgramFolder(), "Photo\\g" + Two(i) + ".jpg", ColourOf(3, i));
  // No male singers at all: six fallbacks under the names of start-up (none).
  Click(W().singerBitBtn[1]);
  for (int slot = 1; slot <= 6; ++slot) {
    EXPECT_TRUE(ShowsFallback(slot)) << slot;
    EXPECT_EQ(Name(slot), "") << slot;
  }
  // A touch on such a slot asks for the songs of the empty name.
  Click(W().photoImage[2]);
  EXPECT_EQ(f_->Statements("songDataSetProvider").back(),
            "select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"\"");
  // Four: slots 5 and 6 repeat the fourth (the cursor stays on the last row).
  Click(W().singerBitBtn[3]);
  ExpectPage(3, "组", {1, 2, 3, 4, 4, 4});
  EXPECT_TRUE(f_->Notifier().messages.isEmpty()) << Utf8(f_->Notifier().messages.join("|"));
}

TEST_F(SingerPagesTest, APhotoTouchListsTheSingersSongsWithTheColumnSpelledBySlot) {
  PhotoCatalogue c;
  c.songs.clear();
  for (int i = 1; i <= 9; ++i)
    c.songs.push_back({10000 + i, "歌" + Two(i), "男01", "流行", "国语", "G", "x"});
  c.songs.push_back({10020, "独唱", "男02", "流行", "国语", "D", "x"});
  Open(c.singers, c.songs);
  c.WritePhotos(f_->ProgramFolder());
  Click(W().singerBitBtn[1]);
  Click(W().photoImage[1]);
  EXPECT_EQ(f_->Statements("songDataSetProvider").back(),
            "select SINGID,SINGNAME,SINGER from vodinfo where SINGER=\"男01\"");
  EXPECT_FALSE(W().photoImage[1]->isVisible());
  EXPECT_FALSE(W().photonextBitBtn2->isVisible());
  EXPECT_TRUE(W().songlistLabel[7]->isVisible());
  EXPECT_TRUE(W().songlistprevBitBtn1->isVisible());
  EXPECT_EQ(Utf8(W().songlistLabel[1]->text()), "10001 男01.歌01");
  EXPECT_EQ(Utf8(W().songlistLabel[7]->text()), "10007 男01.歌07");

  Click(W().singerBitBtn[1]);
  Click(W().photoImage[2]);
  EXPECT_EQ(f_->Statements("songDataSetProvider").back(),
            "select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"男02\"");
  EXPECT_EQ(Utf8(W().songlistLabel[1]->text()), "10020 男02.独唱");
  EXPECT_EQ(Utf8(W().songlistLabel[2]->text()), "");

  // A singer without songs: the statement goes, the screen stays.
  Click(W().singerBitBtn[1]);
  Click(W().photoImage[6]);
  EXPECT_EQ(f_->Statements("songDataSetProvider").back(),
            "select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"男06\"");
  EXPECT_TRUE(W().photoImage[6]->isVisible());
  EXPECT_FALSE(W().songlistLabel[1]->isVisible());
  EXPECT_TRUE(f_->Notifier().messages.isEmpty()) << Utf8(f_->Notifier().messages.join("|"));
}

TEST_F(SingerPagesTest, AFailingQueryIsReportedOnceAndTheStepsBeforeItStayDone) {
  PhotoCatalogue c;
  Open(c.singers, c.songs);
  c.WritePhotos(f_->ProgramFolder());
  Click(W().singerBitBtn[1]);
  ExpectPage(1, "男", {1, 2, 3, 4, 5, 6});
  W().songlistLabel[3]->show();
  f_->StopServer();
  Click(W().singerBitBtn[2]);
  ASSERT_EQ(f_->Notifier().messages.size(), 1);
  EXPECT_FALSE(f_->Notifier().messages[0].isEmpty());
  // Groups switched and the song rows hidden before the query; the slots
  // keep what they showed.
  EXPECT_TRUE(W().photoImage[1]->isVisible());
  EXPECT_FALSE(W().songlistLabel[3]->isVisible());
  ExpectPage(1, "男", {1, 2, 3, 4, 5, 6});
}

}  // namespace
}  // namespace quor::ui
