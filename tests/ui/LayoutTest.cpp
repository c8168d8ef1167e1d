// The window against the control tables: every control's place, size, start
// visibility, tab order and tab stop, fonts, cursors, stacking and pictures.

#include <gtest/gtest.h>

#include <QValidator>

#include <QFontInfo>
#include <QFrame>
#include <QLineEdit>
#include <QPainter>
#include <map>
#include <string>

#include "UiTestSupport.h"
#include "ui/MainWindow.h"

namespace quor::ui {
namespace {

enum Kind { kPic, kText, kBtn, kPanel, kEdit };

struct Row {
  const char* name;
  Kind kind;
  int x, y, w, h;
  bool shown;
  int tab;    // -1: no tab order
  bool stop;  // tab stop
  int font;   // pixel size of "宋体", 0 = none
  bool hand;
  bool inPanel;
};

// Transcribed from the layout tables, one row per control, in creation order.
const Row kRows[] = {
    {"BGImage", kPic, 0, 0, 800, 600, true, -1, false, 0, false, false},
    {"photonameLabel1", kText, 314, 210, 111, 27, false, -1, false, 24, false, false},
    {"photonameLabel2", kText, 474, 210, 111, 27, false, -1, false, 24, false, false},
    {"photonameLabel3", kText, 626, 210, 111, 27, false, -1, false, 24, false, false},
    {"photonameLabel4", kText, 314, 418, 111, 27, false, -1, false, 24, false, false},
    {"photonameLabel5", kText, 482, 418, 111, 27, false, -1, false, 24, false, false},
    {"photonameLabel6", kText, 634, 418, 111, 27, false, -1, false, 24, false, false},
    {"songlistLabel1", kText, 297, 75, 477, 35, false, -1, false, 28, true, false},
    {"songlistLabel2", kText, 297, 131, 477, 35, false, -1, false, 28, true, false},
    {"songlistLabel3", kText, 297, 187, 477, 35, false, -1, false, 28, true, false},
    {"songlistLabel4", kText, 297, 243, 477, 35, false, -1, false, 28, true, false},
    {"songlistLabel5", kText, 297, 299, 477, 35, false, -1, false, 28, true, false},
    {"songlistLabel6", kText, 297, 355, 477, 35, false, -1, false, 28, true, false},
    {"songlistLabel7", kText, 297, 411, 477, 35, false, -1, false, 28, true, false},
    {"photoImage6", kPic, 632, 259, 113, 153, false, -1, false, 0, true, false},
    {"photoImage5", kPic, 480, 259, 113, 153, false, -1, false, 0, true, false},
    {"photoImage4", kPic, 312, 259, 113, 153, false, -1, false, 0, true, false},
    {"photoImage3", kPic, 624, 53, 113, 153, false, -1, false, 0, true, false},
    {"photoImage2", kPic, 472, 53, 113, 153, false, -1, false, 0, true, false},
    {"photoImage1", kPic, 312, 53, 113, 153, false, -1, false, 0, true, false},
    {"infoLabel", kText, 300, 25, 381, 22, true, -1, false, 21, false, false},
    {"LanguageBitBtn1", kBtn, 204, 104, 67, 39, false, 17, true, 0, false, false},
    {"LanguageBitBtn2", kBtn, 204, 168, 67, 39, false, 18, true, 0, false, false},
    {"LanguageBitBtn3", kBtn, 204, 240, 67, 39, false, 19, true, 0, false, false},
    {"LanguageBitBtn4", kBtn, 204, 312, 67, 39, false, 20, true, 0, false, false},
    {"LanguageBitBtn5", kBtn, 204, 376, 67, 39, false, 21, true, 0, false, false},
    {"selectBitBtn1", kBtn, 40, 82, 119, 48, true, 0, true, 0, false, false},
    {"selectBitBtn2", kBtn, 40, 144, 119, 48, true, 1, true, 0, false, false},
    {"selectBitBtn3", kBtn, 40, 209, 119, 48, true, 2, true, 0, false, false},
    {"selectBitBtn4", kBtn, 40, 272, 119, 48, true, 3, true, 0, false, false},
    {"selectBitBtn5", kBtn, 40, 336, 119, 48, true, 4, true, 0, false, false},
    {"selectBitBtn6", kBtn, 40, 400, 119, 48, true, 5, false, 0, false, false},
    {"controlBitBtn1", kBtn, 51, 515, 67, 39, true, 6, false, 0, false, false},
    {"controlBitBtn2", kBtn, 143, 515, 67, 39, true, 7, false, 0, false, false},
    {"controlBitBtn3", kBtn, 234, 515, 67, 39, true, 8, false, 0, false, false},
    {"controlBitBtn4", kBtn, 509, 515, 67, 39, true, 11, false, 0, false, false},
    {"controlBitBtn5", kBtn, 597, 515, 67, 39, true, 12, false, 0, false, false},
    {"controlBitBtn6", kBtn, 683, 515, 67, 39, true, 13, false, 0, false, false},
    {"controlBitBtn7", kBtn, 327, 515, 67, 39, true, 9, false, 0, false, false},
    {"controlBitBtn8", kBtn, 418, 515, 67, 39, true, 10, false, 0, false, false},
    {"singerBitBtn1", kBtn, 204, 96, 67, 39, false, 14, true, 0, false, false},
    {"singerBitBtn2", kBtn, 204, 245, 67, 39, false, 15, true, 0, false, false},
    {"singerBitBtn3", kBtn, 204, 384, 67, 39, false, 16, true, 0, false, false},
    {"songtypeBitBtn1", kBtn, 204, 54, 67, 39, false, 22, true, 0, false, false},
    {"songtypeBitBtn2", kBtn, 204, 106, 67, 39, false, 23, true, 0, false, false},
    {"songtypeBitBtn3", kBtn, 204, 154, 67, 39, false, 24, true, 0, false, false},
    {"songtypeBitBtn4", kBtn, 204, 210, 67, 39, false, 25, true, 0, false, false},
    {"songtypeBitBtn5", kBtn, 204, 266, 67, 39, false, 26, true, 0, false, false},
    {"songtypeBitBtn6", kBtn, 204, 322, 67, 39, false, 27, true, 0, false, false},
    {"songtypeBitBtn7", kBtn, 204, 378, 67, 39, false, 28, true, 0, false, false},
    {"songtypeBitBtn8", kBtn, 204, 434, 67, 39, false, 29, true, 0, false, false},
    {"photoprevBitBtn1", kBtn, 604, 452, 67, 37, false, 30, true, 0, false, false},
    {"photonextBitBtn2", kBtn, 700, 453, 67, 37, false, 31, true, 0, false, false},
    {"songlistprevBitBtn1", kBtn, 605, 452, 67, 37, false, 32, true, 0, false, false},
    {"songlistnextBitBtn2", kBtn, 700, 453, 67, 37, false, 33, true, 0, false, false},
    {"selectedsongBitBtn1", kBtn, 204, 114, 67, 39, false, 34, true, 0, false, false},
    {"selectedsongBitBtn2", kBtn, 204, 373, 67, 39, false, 35, true, 0, false, false},
    {"PYselBitBtn", kBtn, 204, 114, 67, 39, false, 36, true, 0, false, false},
    {"BMselBitBtn", kBtn, 204, 373, 67, 39, false, 37, true, 0, false, false},
    {"BMnumPanel", kPanel, 300, 57, 252, 150, false, 38, false, 0, false, false},
    {"jsBitBtn1", kBtn, 204, 104, 67, 39, false, 39, true, 0, false, false},
    {"jsBitBtn2", kBtn, 204, 167, 67, 39, false, 40, true, 0, false, false},
    {"jsBitBtn3", kBtn, 204, 240, 67, 39, false, 41, true, 0, false, false},
    {"jsBitBtn4", kBtn, 204, 311, 67, 39, false, 42, true, 0, false, false},
    {"jsBitBtn5", kBtn, 204, 376, 67, 39, false, 43, true, 0, false, false},
    {"PYBGImage", kPic, 1, 1, 250, 148, false, -1, false, 0, false, true},
    {"BMselImage", kPic, 1, 1, 250, 148, true, -1, false, 0, false, true},
    {"numImage1", kPic, 11, 13, 35, 36, true, -1, false, 0, true, true},
    {"numImage2", kPic, 59, 13, 35, 36, true, -1, false, 0, true, true},
    {"numImage3", kPic, 108, 13, 35, 36, true, -1, false, 0, true, true},
    {"numImage4", kPic, 156, 13, 35, 36, true, -1, false, 0, true, true},
    {"numImage5", kPic, 204, 13, 35, 36, true, -1, false, 0, true, true},
    {"numImage6", kPic, 12, 65, 35, 36, true, -1, false, 0, true, true},
    {"numImage7", kPic, 61, 65, 35, 36, true, -1, false, 0, true, true},
    {"numImage8", kPic, 109, 65, 35, 36, true, -1, false, 0, true, true},
    {"numImage9", kPic, 157, 66, 35, 36, true, -1, false, 0, true, true},
    {"numImage10", kPic, 205, 65, 35, 36, true, -1, false, 0, true, true},
    {"delnumImage", kPic, 211, 117, 24, 25, true, -1, false, 0, true, true},
    {"delpyImage", kPic, 177, 116, 25, 25, true, -1, false, 0, true, true},
    {"PYselEdit", kEdit, 56, 115, 117, 27, true, 1, false, 25, false, true},
    {"BMnumEdit", kEdit, 101, 115, 82, 27, true, 0, false, 27, false, true},
};

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { test::EnsureApp(); }
  test::RecordingNotifier notifier_;
  test::RecordingShell shell_;
};

TEST_F(LayoutTest, EveryControlHasItsPlaceSizeVisibilityFocusAndCursor) {
  MainWindow w(shell_, notifier_);
  w.resize(800, 600);  // full screen on the room PC; the background follows
  w.show();
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    QWidget* c = w.Control(row.name);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->objectName(), QString::fromLatin1(row.name));
    EXPECT_EQ(c->geometry(), QRect(row.x, row.y, row.w, row.h));
    EXPECT_EQ(c->parentWidget(), row.inPanel ? w.Control("BMnumPanel") : &w);
    EXPECT_EQ(!c->isHidden(), row.shown);
    EXPECT_EQ(c->isVisible(), row.shown && (!row.inPanel || w.BMnumPanel->isVisible()));
    const bool tabStop = (c->focusPolicy() & Qt::TabFocus) != 0;
    EXPECT_EQ(tabStop, row.stop);
    if (row.kind == kPic || row.kind == kText) {
      EXPECT_EQ(c->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(c->cursor().shape(), row.hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
    if (row.font > 0) {
      EXPECT_EQ(c->font().pixelSize(), row.font);
      EXPECT_TRUE(c->font().bold());
      // "宋体" stands for the Song-style CJK face of this machine.
      EXPECT_TRUE(QFontInfo(c->font()).family().contains(QStringLiteral("Serif CJK")))
          << QFontInfo(c->font()).family().toStdString();
    }
  }
}

TEST_F(LayoutTest, TabOrderFollowsTheNumbersOfEachParent) {
  MainWindow w(shell_, notifier_);
  std::map<int, std::string> top, panel;
  for (const Row& row : kRows)
    if (row.tab >= 0) (row.inPanel ? panel : top)[row.tab] = row.name;
  std::vector<std::string> expected;
  for (const auto& [order, name] : top) {
    expected.push_back(name);
    if (name == "BMnumPanel")
      for (const auto& [inner, child] : panel) expected.push_back(child);
  }
  std::vector<std::string> seen;
  QWidget* start = w.Control("selectBitBtn1");
  QWidget* c = start;
  do {
    for (const std::string& name : expected)
      if (c->objectName() == QString::fromStdString(name)) seen.push_back(name);
    c = c->nextInFocusChain();
  } while (c != start && seen.size() < 200);
  EXPECT_EQ(seen, expected);
}

TEST_F(LayoutTest, ButtonsPanelAndEditsStackAbovePicturesAndLabels) {
  MainWindow w(shell_, notifier_);
  for (QWidget* parent : {static_cast<QWidget*>(&w), w.Control("BMnumPanel")}) {
    int lastFlat = -1, firstWindowed = 1 << 30, lastFlatRow = -1;
    const QObjectList& kids = parent->children();
    for (const Row& row : kRows) {
      QWidget* c = w.Control(row.name);
      if (c->parentWidget() != parent) continue;
      const int z = static_cast<int>(kids.indexOf(c));
      if (row.kind == kPic || row.kind == kText) {
        // Pictures and labels keep their creation order among themselves.
        EXPECT_GT(z, lastFlatRow) << row.name;
        lastFlatRow = z;
        lastFlat = std::max(lastFlat, z);
      } else {
        firstWindowed = std::min(firstWindowed, z);
      }
    }
    EXPECT_LT(lastFlat, firstWindowed);
  }
}

TEST_F(LayoutTest, WindowIsABorderlessStayOnTopKioskWindow) {
  MainWindow w(shell_, notifier_);
  EXPECT_EQ(w.objectName(), QStringLiteral("MainForm"));
  EXPECT_EQ(w.windowTitle(), QStringLiteral("QuorVOD客户端"));
  EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(w.size(), QSize(790, 564));
  EXPECT_EQ(w.font().pixelSize(), 11);
  EXPECT_EQ(MainForm(), &w);
  // The background fills the window whatever its size, drawn unscaled.
  w.resize(800, 600);
  w.show();
  EXPECT_EQ(w.BGImage->geometry(), QRect(0, 0, 800, 600));
  EXPECT_FALSE(w.BGImage->Stretch());
  EXPECT_TRUE(w.photoImage[1]->Stretch());
}

TEST_F(LayoutTest, LabelsAreTransparentWhiteAndAligned) {
  MainWindow w(shell_, notifier_);
  for (Label* label : {w.photonameLabel[1], w.infoLabel, w.songlistLabel[4]}) {
    EXPECT_EQ(label->FontColour(), kColourWhite);
    EXPECT_FALSE(label->autoFillBackground());
    EXPECT_FALSE(label->wordWrap());
  }
  EXPECT_TRUE(w.photonameLabel[6]->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(w.infoLabel->alignment() & Qt::AlignHCenter);
  EXPECT_TRUE(w.songlistLabel[1]->alignment() & Qt::AlignLeft);
}

// The status line is one pixel taller than its font: the whole line must
// show, nothing cut at the top or bottom edge, whatever line spacing the
// machine's CJK face carries. The reference is the same text drawn with room
// to spare around it.
TEST_F(LayoutTest, TheStatusLineHoldsItsWholeLine) {
  MainWindow w(shell_, notifier_);
  const QString text = QStringLiteral("欢迎使用QuorKTV视频点播系统");
  w.infoLabel->setText(text);
  auto ink = [](const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += qGray(image.pixel(x, y)) > 128;
    return n;
  };
  QImage shown(w.infoLabel->size(), QImage::Format_RGB32);
  shown.fill(Qt::black);
  w.infoLabel->render(&shown);
  QImage roomy(w.infoLabel->width() + 40, 80, QImage::Format_RGB32);
  roomy.fill(Qt::black);
  {
    QPainter p(&roomy);
    p.setFont(w.infoLabel->font());
    p.setPen(Qt::white);
    p.drawText(QPointF(20, 30), text);
  }
  const int expected = ink(roomy);
  ASSERT_GT(expected, 200);
  EXPECT_NEAR(ink(shown), expected, expected / 50);
}

TEST_F(LayoutTest, EditBoxesAreReadOnlyBlackWithTheirLimits) {
  MainWindow w(shell_, notifier_);
  EXPECT_TRUE(w.PYselEdit->isReadOnly());
  EXPECT_TRUE(w.BMnumEdit->isReadOnly());
  // The boxes' limits bind typing (8 letters, 6 digits), never the program's
  // own text.
  auto typable = [](QLineEdit* edit, const QString& text) {
    QString t = text;
    int pos = 0;
    return edit->validator()->validate(t, pos) != QValidator::Invalid;
  };
  EXPECT_TRUE(typable(w.PYselEdit, QStringLiteral("ABCDEFGH")));
  EXPECT_FALSE(typable(w.PYselEdit, QStringLiteral("ABCDEFGHI")));
  EXPECT_TRUE(typable(w.BMnumEdit, QStringLiteral("123456")));
  EXPECT_FALSE(typable(w.BMnumEdit, QStringLiteral("1234567")));
  w.PYselEdit->setText(QStringLiteral("ABCDEFGHI"));
  EXPECT_EQ(w.PYselEdit->text(), QStringLiteral("ABCDEFGHI"));
  for (QLineEdit* e : {w.PYselEdit, w.BMnumEdit}) {
    EXPECT_EQ(e->palette().color(QPalette::Base), QColor(Qt::black));
    EXPECT_EQ(e->palette().color(QPalette::Text), QColor(Qt::white));
  }
  w.BMnumEdit->setText(QStringLiteral("12345678"));
  EXPECT_EQ(w.BMnumEdit->text(), QStringLiteral("12345678"));
}

TEST_F(LayoutTest, PicturesAndGlyphsAreCompiledIn) {
  MainWindow w(shell_, notifier_);
  EXPECT_EQ(w.BGImage->Image().size(), QSize(800, 600));
  EXPECT_EQ(w.BMselImage->Image().size(), QSize(250, 148));
  EXPECT_EQ(w.PYBGImage->Image().size(), QSize(250, 148));
  EXPECT_TRUE(w.numImage[1]->Image().isNull());  // keys are bare click areas
  EXPECT_TRUE(w.photoImage[1]->Image().isNull());
  for (const Row& row : kRows) {
    if (row.kind != kBtn) continue;
    SCOPED_TRACE(row.name);
    auto* b = qobject_cast<BitBtn*>(w.Control(row.name));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Glyph().size(), row.w == 119 ? QSize(120, 49) : QSize(68, 40));
    EXPECT_TRUE(b->text().isEmpty());
    EXPECT_EQ(b->Margin(), -1);
  }
  EXPECT_TRUE(notifier_.messages.isEmpty());
}

}  // namespace
}  // namespace quor::ui
