// The screens' pure rules: the SongEntry text, the blue marking, the paging
// moves and where a singer's photo is found.

#include <gtest/gtest.h>

#include "ui/Keypad.h"
#include "ui/Paging.h"
#include "ui/QueueRules.h"
#include "ui/SingerPages.h"
#include "ui/SongEntry.h"

namespace quor::ui {
namespace {

TEST(ScreenRules, SongEntryIsNumberBlankSingerStopTitleWithEmptyPlacesKept) {
  struct Case {
    const char* id;
    const char* singer;
    const char* title;
    const char* entry;
  };
  const Case cases[] = {
      {"10023", "A", "B", "10023 A.B"},
      {"10023", "", "B", "10023 .B"},
      {"10023", "A", "", "10023 A."},
      {"", "", "", " ."},
      // GBK bytes pass through unchanged (刘德华.忘情水).
      {"10001", "\xC1\xF5\xB5\xC2\xBB\xAA", "\xCD\xFC\xC7\xE9\xCB\xAE",
       "10001 \xC1\xF5\xB5\xC2\xBB\xAA.\xCD\xFC\xC7\xE9\xCB\xAE"},
      // A blank inside a title stays: the number ends at the first blank.
      {"7", "X Y", "Z W", "7 X Y.Z W"},
  };
  for (const Case& c : cases) EXPECT_EQ(MakeSongEntry(c.id, c.singer, c.title), c.entry);
}

TEST(ScreenRules, QueuedMeansAnEntryEqualByteForByte) {
  const std::vector<std::string> queue{"10001 A.B", "10002 A.C", "10001 A.B"};
  EXPECT_TRUE(IsQueued(queue, "10001 A.B"));
  EXPECT_TRUE(IsQueued(queue, "10002 A.C"));
  EXPECT_FALSE(IsQueued(queue, "10001 A.b"));
  EXPECT_FALSE(IsQueued(queue, "10001 A.B "));
  EXPECT_FALSE(IsQueued(queue, "10001"));
  EXPECT_FALSE(IsQueued({}, ""));
  EXPECT_FALSE(IsQueued({"10001 A.B"}, std::string("10001 A.B\0", 10)));
}

TEST(ScreenRules, PreviousPageMovesBackTwoPages) {
  EXPECT_EQ(PreviousPageMove(kPhotoPageSize), -12);
  EXPECT_EQ(PreviousPageMove(kSongPageSize), -14);
}

TEST(ScreenRules, PhotoPathsAreMappedUnderTheProgramFolder) {
  struct Case {
    const char* path;  // as the catalogue holds it (GBK)
    const char* file;  // UTF-8 file name
  };
  const Case cases[] = {
      {"Photo\\m1.jpg", "/opt/q/Photo/m1.jpg"},
      {"Photo\\Sub\\A.JPG", "/opt/q/Photo/Sub/A.JPG"},
      {"Photo/m1.jpg", "/opt/q/Photo/m1.jpg"},
      {"", "/opt/q/"},
      // 刘德华.jpg in GBK names a UTF-8 file.
      {"Photo\\\xC1\xF5\xB5\xC2\xBB\xAA.jpg", "/opt/q/Photo/刘德华.jpg"},
  };
  for (const Case& c : cases) EXPECT_EQ(PhotoFilePath("/opt/q/", c.path), c.file) << c.path;
}

}  // namespace
}  // namespace quor::ui

namespace quor::ui {
namespace {

TEST(KeypadRules, KeysOneToEightCarryTheAlphabetInThreesNotATelephonesGroups) {
  const char* groups[] = {"ABC", "DEF", "GHI", "JKL", "MNO", "PQR", "STU", "VWX"};
  for (int key = 1; key <= 8; ++key) {
    const KeyLetters l = LettersOfKey(key);
    EXPECT_EQ(std::string({l.first, l.second, l.third}), groups[key - 1]) << key;
  }
  EXPECT_EQ(LettersOfKey(0).first, 0);
  EXPECT_EQ(LettersOfKey(9).first, 0);
}

// Presses keys (1..9; 10 sets the flag; -1 is the letter delete) from an
// empty box and returns the text and the flag after each press.
std::vector<std::pair<std::string, bool>> Press(std::initializer_list<int> keys,
                                                LetterEntry entry = {}) {
  std::vector<std::pair<std::string, bool>> out;
  for (int key : keys) {
    if (key == 10) {
      entry.nextLetterPending = true;
    } else if (key == -1) {
      entry = DeleteLetter(entry);
    } else if (key == 9) {
      entry = CycleYZ(entry);
    } else {
      const KeyLetters l = LettersOfKey(key);
      entry = CycleLetter(entry, l.first, l.second, l.third);
    }
    out.emplace_back(entry.text, entry.nextLetterPending);
  }
  return out;
}

TEST(KeypadRules, MultiTapCyclesAppendsAndDeletes) {
  using R = std::vector<std::pair<std::string, bool>>;
  EXPECT_EQ(Press({1, 1, 1, 1}), (R{{"A", false}, {"B", false}, {"C", false}, {"A", false}}));
  EXPECT_EQ(Press({1, 10, 1}), (R{{"A", false}, {"A", true}, {"AA", false}}));
  EXPECT_EQ(Press({1, 2}), (R{{"A", false}, {"D", false}}));  // replaced, not appended
  EXPECT_EQ(Press({9, 9, 9}), (R{{"Y", false}, {"Z", false}, {"Y", false}}));
  EXPECT_EQ(Press({1, 9, 9}), (R{{"A", false}, {"Y", false}, {"Z", false}}));
  EXPECT_EQ(Press({9, 1}), (R{{"Y", false}, {"A", false}}));
  // The flag on an empty box: the first key sets its letter and the flag
  // stays, so the next key appends.
  EXPECT_EQ(Press({10, 1, 2}), (R{{"", true}, {"A", true}, {"AD", false}}));
  EXPECT_EQ(Press({10, 9, 9}), (R{{"", true}, {"Y", true}, {"YY", false}}));
  // The delete clears the flag and an empty box stays empty.
  EXPECT_EQ(Press({3, 10, -1, 3}), (R{{"G", false}, {"G", true}, {"", false}, {"G", false}}));
  EXPECT_EQ(Press({-1}), (R{{"", false}}));
  // Nothing bounds the program's own text: a ninth letter is kept.
  LetterEntry eight{"ABCDEFGH", true};
  EXPECT_EQ(Press({5}, eight), (R{{"ABCDEFGHM", false}}));
}

TEST(KeypadRules, OnlyKeypadTextIsLettersOrDigits) {
  EXPECT_TRUE(KeypadLetters("AZ"));
  EXPECT_FALSE(KeypadLetters(""));
  EXPECT_FALSE(KeypadLetters("a"));
  EXPECT_FALSE(KeypadLetters("A%"));
  EXPECT_FALSE(KeypadLetters("A\""));
  EXPECT_TRUE(KeypadDigits("10023"));
  EXPECT_FALSE(KeypadDigits(""));
  EXPECT_FALSE(KeypadDigits("1 or 1=1"));
  EXPECT_FALSE(KeypadDigits("１"));
}

}  // namespace
}  // namespace quor::ui

namespace quor::ui {
namespace {

std::vector<std::string> Queue(int n) {
  std::vector<std::string> q;
  for (int i = 0; i < n; ++i) q.push_back(std::to_string(i));
  return q;
}

TEST(QueueRules, ThePickNamesAnEntryOfThePageShownOrNothing) {
  struct Case {
    std::size_t size;
    int page, cursor;
    std::optional<std::size_t> picked;
  };
  const Case cases[] = {
      {8, 1, 1, 0},
      {8, 1, 7, 6},
      {8, 2, 1, 7},
      {8, 2, 2, std::nullopt},  // an empty row of the last page
      {14, 2, 3, 9},
      {14, 2, 7, 13},
      {21, 3, 1, 14},
      {5, 1, 0, std::nullopt},  // no pick
      {0, 1, 1, std::nullopt},  // an empty queue
      {5, 1, 8, std::nullopt},
      {5, 0, 1, std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PickedEntry(c.size, c.page, c.cursor), c.picked)
        << c.size << " entries, page " << c.page << " row " << c.cursor;
}

TEST(QueueRules, MoveToFrontShiftsOnlyTheEntriesBefore) {
  std::vector<std::string> q = Queue(14);
  MoveToFront(q, 9);
  EXPECT_EQ(q, (std::vector<std::string>{"9", "0", "1", "2", "3", "4", "5", "6", "7", "8", "10",
                                         "11", "12", "13"}));
  q = Queue(3);
  MoveToFront(q, 0);
  EXPECT_EQ(q, Queue(3));
  MoveToFront(q, 3);  // outside: unchanged
  EXPECT_EQ(q, Queue(3));
}

TEST(QueueRules, TheDeleteGoesBackAPageOnlyForRowOneOfAQueueEndingOneShort) {
  EXPECT_EQ(PageAfterDelete(2, 1, 7), 2);   // 8 entries, page 2 row 1: 14 - 7 = 7
  EXPECT_EQ(PageAfterDelete(2, 1, 13), 1);  // 14 entries: 14 - 13 = 1
  EXPECT_EQ(PageAfterDelete(3, 1, 20), 2);  // 21 entries
  EXPECT_EQ(PageAfterDelete(2, 3, 13), 2);  // row 3: no correction
  // 7 entries, page 1 row 1: the queue also ends one short, but there is no
  // page 0 to go back to (the view would not be redrawn at all).
  EXPECT_EQ(PageAfterDelete(1, 1, 6), 1);
  EXPECT_EQ(PageAfterDelete(1, 2, 6), 1);
}

}  // namespace
}  // namespace quor::ui
