// Lists as spreadsheets save them: encodings, separators, quotes, headers.

#include <gtest/gtest.h>

#include "ListFile.h"
#include "platform/Codepage.h"

namespace quor::tools::catalogue {
namespace {

TEST(ListFile, EncodingsAndSeparatorsAreDetected) {
  const std::string csv = "编号,歌名,歌手\n10001,忘情水,刘德华\n";
  ListTable t = ParseList(csv);
  EXPECT_EQ(t.encoding, Encoding::Utf8);
  EXPECT_EQ(t.separator, ',');
  ASSERT_EQ(t.rows.size(), 1u);
  EXPECT_EQ(t.rows[0][1], "忘情水");

  t = ParseList(platform::Utf8ToGbk("歌名\t歌手\t语种\n吻别\t张学友\t粤语\n"));
  EXPECT_EQ(t.encoding, Encoding::Gbk);
  EXPECT_EQ(t.separator, '\t');
  EXPECT_EQ(t.header[2], "语种");
  EXPECT_EQ(t.rows[0][1], "张学友");

  t = ParseList("\xEF\xBB\xBFtitle;singer\r\nRed;Blue\r\n");  // mark, CRLF, semicolons
  EXPECT_EQ(t.separator, ';');
  EXPECT_EQ(t.header[0], "title");
  EXPECT_EQ(t.rows[0][1], "Blue");

  // UTF-16 with its mark, as a spreadsheet's "Unicode text".
  std::string utf16 = "\xFF\xFE";
  for (const char16_t c : std::u16string(u"歌名\t歌手\n红豆\t王菲\n")) {
    utf16 += static_cast<char>(c & 0xFF);
    utf16 += static_cast<char>(c >> 8);
  }
  t = ParseList(utf16);
  EXPECT_EQ(t.encoding, Encoding::Utf16);
  EXPECT_EQ(t.rows[0][0], "红豆");
  EXPECT_THROW(ParseList(utf16.substr(0, utf16.size() - 1)), std::runtime_error);
}

TEST(ListFile, QuotesBlanksAndLinesAsSpreadsheetsWriteThem) {
  const ListTable t = ParseList(
      "title,singer,file\n"
      "\"Hello, Goodbye\",\"The \"\"Band\"\"\",a.mpg\n"
      "\n"
      "  spaced  ,\" kept \",\"two\nlines.mpg\"\n"
      "short\n");
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0][0], "Hello, Goodbye");
  EXPECT_EQ(t.rows[0][1], "The \"Band\"");
  EXPECT_EQ(t.rows[1][0], "spaced");
  EXPECT_EQ(t.rows[1][1], " kept ");
  EXPECT_EQ(t.rows[1][2], "two\nlines.mpg");
  EXPECT_EQ(t.lines, (std::vector<std::size_t>{2, 4, 6}));
  EXPECT_EQ(t.rows[2].size(), 1u);
}

TEST(ListFile, BadTextIsRefusedWithItsLine) {
  try {
    ParseList("title\nok\n\xff\xff\xff\n");
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("line 3"), std::string::npos) << e.what();
  }
  EXPECT_THROW(ParseList(""), std::runtime_error);
  EXPECT_THROW(ParseList("\n\n  \n"), std::runtime_error);
  EXPECT_THROW(ReadListFile("/nonexistent/list.csv"), std::runtime_error);
}

TEST(ListFile, ColumnsAreKnownByTheirNamesInEitherLanguage) {
  Normaliser n;
  ListColumns c = MapColumns({"编号", "歌名", "歌手", "类别", "语种", "文件", "备注"}, n);
  EXPECT_EQ(c.kind, ListKind::Songs);
  EXPECT_EQ(c.number, 0);
  EXPECT_EQ(c.title, 1);
  EXPECT_EQ(c.singer, 2);
  EXPECT_EQ(c.type, 3);
  EXPECT_EQ(c.language, 4);
  EXPECT_EQ(c.file, 5);
  EXPECT_EQ(c.ignored, (std::vector<std::string>{"备注"}));

  c = MapColumns({"Song Title", "ARTIST", "Path"}, n);
  EXPECT_EQ(c.kind, ListKind::Songs);
  EXPECT_EQ(c.title, 0);
  EXPECT_EQ(c.singer, 1);
  EXPECT_EQ(c.file, 2);

  // No title: a singers list, whose category may stand under 类别.
  c = MapColumns({"歌手", "类别", "照片"}, n);
  EXPECT_EQ(c.kind, ListKind::Singers);
  EXPECT_EQ(c.name, 0);
  EXPECT_EQ(c.sex, 1);
  EXPECT_EQ(c.photo, 2);
  c = MapColumns({"name", "sex"}, n);
  EXPECT_EQ(c.kind, ListKind::Singers);
  EXPECT_EQ(c.photo, -1);

  try {
    MapColumns({"foo", "bar"}, n);
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("foo, bar"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace quor::tools::catalogue
