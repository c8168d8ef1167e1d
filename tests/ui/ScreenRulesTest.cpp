// The screens' pure rules: the SongEntry text, the blue marking, the paging
// moves and where a singer's photo is found.

#include <gtest/gtest.h>

#include "ui/Paging.h"
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
