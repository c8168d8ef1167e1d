// The queue view through the real window: opening it, paging it, picking a
// row, moving it to the front and deleting it; and a long seeded random walk
// of touches, pages, moves, deletes, new songs and played songs checked
// against a model of the queue after every step.

#include <gtest/gtest.h>

#include <random>

#include "ScreenTestSupport.h"
#include "ui/Label.h"

namespace quor::ui {
namespace {

using test::Click;
using test::Utf8;

std::string Entry(int i) {
  return std::to_string(10000 + i) + " A.S" + std::to_string(i);
}

class SelectedSongsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f_ = std::make_unique<test::ScreenFixture>(std::vector<test::CatalogueSinger>{},
                                               std::vector<test::CatalogueSong>{});
  }
  MainWindow& W() { return f_->Window(); }
  std::vector<std::string>& Queue() { return W().State().SelectedSongs; }
  void Fill(int n) {
    Queue().clear();
    for (int i = 0; i < n; ++i) Queue().push_back(Entry(i));
  }
  // The rows' texts as the queue holds them ("" for an empty row).
  std::vector<std::string> Rows() { return test::RowTexts(W()); }
  std::vector<std::string> Page(std::initializer_list<int> indices) {
    std::vector<std::string> out;
    for (int i : indices) out.push_back(i < 0 ? "" : Queue().at(static_cast<std::size_t>(i)));
    while (out.size() < 7) out.push_back("");
    return out;
  }
  std::vector<int> Blue() {
    std::vector<int> out;
    for (int n = 1; n <= 7; ++n)
      if (W().songlistLabel[static_cast<std::size_t>(n)]->FontColour() == kColourBlue)
        out.push_back(n);
    return out;
  }
  void Row(int n) { Click(W().songlistLabel[static_cast<std::size_t>(n)]); }
  void Next() { Click(W().songlistnextBitBtn2); }
  void Prev() { Click(W().songlistprevBitBtn1); }
  void Open() { Click(W().selectBitBtn[6]); }
  void Move() { Click(W().selectedsongBitBtn1); }
  void Delete() { Click(W().selectedsongBitBtn2); }
  std::unique_ptr<test::ScreenFixture> f_;
};

TEST_F(SelectedSongsTest, OpeningOnAnEmptyQueueShowsTheEditButtonsAndKeepsTheRows) {
  W().songlistLabel[2]->show();
  W().songlistLabel[2]->SetGbkText("old");
  Open();
  EXPECT_TRUE(W().selectedsongBitBtn1->isVisible());
  EXPECT_TRUE(W().selectedsongBitBtn2->isVisible());
  EXPECT_TRUE(W().State().QueueView);
  EXPECT_EQ(Rows(), std::vector<std::string>(7, ""));
  EXPECT_TRUE(W().songlistLabel[2]->isVisible());   // kept its visibility
  EXPECT_FALSE(W().songlistLabel[3]->isVisible());  // and so did this one
  Row(1);
  Delete();
  Move();
  EXPECT_TRUE(Queue().empty());
}

TEST_F(SelectedSongsTest, PagesOfSevenAndTheDeletesPageCorrection) {
  Fill(8);
  Open();
  EXPECT_EQ(Rows(), Page({0, 1, 2, 3, 4, 5, 6}));
  Next();
  EXPECT_EQ(Rows(), Page({7}));
  Next();  // past the end: nothing
  EXPECT_EQ(Rows(), Page({7}));
  // 8 entries, page 2, row 1 deleted: 7 entries and page 1 afresh.
  Row(1);
  Delete();
  EXPECT_EQ(Queue().size(), 7U);
  EXPECT_EQ(W().State().PageNo, 1);
  EXPECT_EQ(Rows(), Page({0, 1, 2, 3, 4, 5, 6}));

  // 14 entries, page 2, row 1 deleted: the correction shows page 1 afresh.
  Fill(14);
  Open();
  Next();
  Row(1);
  Delete();
  EXPECT_EQ(W().State().PageNo, 1);
  EXPECT_EQ(Rows(), Page({0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Queue()[7], Entry(8));

  // 21 entries, page 3, row 1 deleted: page 2.
  Fill(21);
  Open();
  Next();
  Next();
  Row(1);
  Delete();
  EXPECT_EQ(W().State().PageNo, 2);
  EXPECT_EQ(Rows(), Page({7, 8, 9, 10, 11, 12, 13}));

  // 14 entries, page 2, row 3 deleted: page 2 again, six entries.
  Fill(14);
  Open();
  Next();
  Row(3);
  Delete();
  EXPECT_EQ(W().State().PageNo, 2);
  EXPECT_EQ(Rows(), Page({7, 8, 9, 10, 11, 12}));
  EXPECT_EQ(Blue(), std::vector<int>{});
  // No row is picked now: a second delete does nothing.
  Delete();
  EXPECT_EQ(Queue().size(), 13U);

  // 7 entries, row 1 of page 1 deleted: page 1 again without the song.
  Fill(7);
  Open();
  Row(1);
  Delete();
  EXPECT_EQ(W().State().PageNo, 1);
  EXPECT_EQ(Rows(), Page({0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Queue()[0], Entry(1));
}

TEST_F(SelectedSongsTest, MovingToTheFrontAndTheBlueHighlight) {
  Fill(14);
  Open();
  Next();
  Row(3);  // index 9
  EXPECT_EQ(Blue(), std::vector<int>{3});
  EXPECT_EQ(Queue().size(), 14U);  // a touch in the view queues nothing
  Row(5);
  EXPECT_EQ(Blue(), std::vector<int>{5});
  EXPECT_EQ(W().State().QueueCursor, 5);
  Row(3);
  Move();
  std::vector<std::string> expected{Entry(9)};
  for (int i = 0; i <= 8; ++i) expected.push_back(Entry(i));
  for (int i = 10; i <= 13; ++i) expected.push_back(Entry(i));
  EXPECT_EQ(Queue(), expected);
  // Page 2 shows what were indices 6, 7, 8, 10, 11, 12, 13.
  EXPECT_EQ(Rows(), (std::vector<std::string>{Entry(6), Entry(7), Entry(8), Entry(10), Entry(11),
                                              Entry(12), Entry(13)}));
  EXPECT_EQ(W().State().QueueCursor, 0);
  EXPECT_EQ(Blue(), std::vector<int>{});

  // Row 1 of page 1 to the front: unchanged, the view reopened.
  Prev();
  Row(1);
  Move();
  EXPECT_EQ(Queue(), expected);
  EXPECT_EQ(W().State().PageNo, 1);

  // An empty row of the last page: move and delete change nothing.
  Fill(9);
  Open();
  Next();
  Row(5);
  Move();
  Delete();
  EXPECT_EQ(Queue().size(), 9U);
  EXPECT_EQ(Rows(), Page({7, 8}));
}

TEST_F(SelectedSongsTest, ASelectButtonEndsTheViewAndATouchQueuesAgain) {
  Fill(3);
  Open();
  Click(W().selectBitBtn[2]);
  EXPECT_FALSE(W().State().QueueView);
  EXPECT_FALSE(W().selectedsongBitBtn1->isVisible());
  for (std::size_t b = 1; b <= 4; ++b) {
    Open();
    EXPECT_TRUE(W().State().QueueView);
    Click(W().selectBitBtn[b]);
    EXPECT_FALSE(W().State().QueueView) << b;
  }
  // Out of the view a touch on a white row queues its song again.
  W().songlistLabel[1]->SetGbkText(Entry(1));
  Row(1);
  EXPECT_EQ(Queue().size(), 4U);
  EXPECT_EQ(Queue().back(), Entry(1));
}

// The model: the queue, PageNo and QueueCursor as the view's rules define
// them, written out independently of the window's code.
struct Model {
  std::vector<std::string> queue;
  int page = 1;
  int cursor = 0;
  bool view = false;
  int pages() const { return static_cast<int>(queue.size()); }
  bool Picked(std::size_t& index) const {
    if (cursor == 0) return false;
    index = static_cast<std::size_t>((page - 1) * 7 + cursor - 1);
    return index < queue.size();
  }
  void Redraw() {
    if (page > 1 && static_cast<int>(queue.size()) <= (page - 1) * 7) page -= 1;
    if (page <= 1) page = 1;
    cursor = 0;
  }
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows;
    for (int r = 0; r < 7; ++r) {
      const auto i = static_cast<std::size_t>((page - 1) * 7 + r);
      rows.push_back(i < queue.size() ? queue[i] : "");
    }
    return rows;
  }
};

TEST_F(SelectedSongsTest, ARandomEveningAgreesWithTheModel) {
  std::mt19937 random(20261208);
  Model m;
  int added = 0;
  Open();
  m.view = true;
  for (int step = 0; step < 3000; ++step) {
    const int what = static_cast<int>(random() % 100);
    std::string did;
    if (what < 30) {
      const int n = static_cast<int>(random() % 7) + 1;
      Row(n);
      m.cursor = n;
      did = "touch " + std::to_string(n);
    } else if (what < 42) {
      Next();
      if (static_cast<int>(m.queue.size()) > m.page * 7) {
        m.page += 1;
        m.cursor = 0;
      }
      did = "next";
    } else if (what < 54) {
      Prev();
      if (m.page > 1) {
        m.page -= 1;
        m.cursor = 0;
      }
      did = "previous";
    } else if (what < 66) {
      Move();
      std::size_t i = 0;
      if (m.Picked(i)) {
        const std::string entry = m.queue[i];
        m.queue.erase(m.queue.begin() + static_cast<std::ptrdiff_t>(i));
        m.queue.insert(m.queue.begin(), entry);
        m.Redraw();
      }
      did = "move";
    } else if (what < 80) {
      Delete();
      std::size_t i = 0;
      if (m.Picked(i)) {
        m.queue.erase(m.queue.begin() + static_cast<std::ptrdiff_t>(i));
        if (m.page * 7 - static_cast<int>(m.queue.size()) == 1 && m.cursor == 1 && m.page > 1)
          m.page -= 1;
        m.Redraw();
      }
      did = "delete";
    } else if (what < 92) {
      // A song queued from a catalogue page, then the view opened again.
      Queue().push_back(Entry(added));
      m.queue.push_back(Entry(added++));
      Open();
      m.page = 1;
      m.cursor = 0;
      did = "new song";
    } else {
      // The player takes entry 0 and redraws the view.
      if (!Queue().empty()) {
        Queue().erase(Queue().begin());
        m.queue.erase(m.queue.begin());
      }
      f_->Window().RedrawQueuePage();
      m.Redraw();
      did = "played";
    }
    ASSERT_EQ(Queue(), m.queue) << "step " << step << ": " << did;
    ASSERT_EQ(W().State().PageNo, m.page) << "step " << step << ": " << did;
    ASSERT_EQ(Rows(), m.Rows()) << "step " << step << ": " << did;
    if (m.cursor == 0)
      ASSERT_EQ(Blue(), std::vector<int>{}) << "step " << step << ": " << did;
    else
      ASSERT_EQ(Blue(), std::vector<int>{m.cursor}) << "step " << step << ": " << did;
  }
}

}  // namespace
}  // namespace quor::ui
