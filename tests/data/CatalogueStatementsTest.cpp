#include <gtest/gtest.h>

#include "data/CatalogueStatements.h"
#include "platform/Codepage.h"

namespace quor::data {
namespace {

std::string G(const char* utf8) {
  return platform::Utf8ToGbk(utf8);
}

TEST(CatalogueStatements, SingerCategoriesAreSentAsGbkBytes) {
  EXPECT_EQ(SingerStatement(SingerCategory::Male), "select * from singer where SEX=\"\xC4\xD0\"");
  EXPECT_EQ(SingerStatement(SingerCategory::Female), "select * from singer where SEX=\"\xC5\xAE\"");
  EXPECT_EQ(SingerStatement(SingerCategory::Group),
            "select * from singer where SEX=\"\xD7\xE9\xBA\xCF\"");
}

TEST(CatalogueStatements, SlotOneSpellsSingerInCapitalsTheOthersDoNot) {
  const std::string name = G("张学友");
  EXPECT_EQ(SongsOfSingerSlot1Statement(name),
            "select SINGID,SINGNAME,SINGER from vodinfo where SINGER=\"" + name + "\"");
  EXPECT_EQ(SongsOfSingerStatement(name),
            "select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"" + name + "\"");
  EXPECT_EQ(SongsOfSingerStatement(""),
            "select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"\"");
}

TEST(CatalogueStatements, DoubleQuotesInANameAreDoubledAndNothingElseChanges) {
  EXPECT_EQ(SongsOfSingerStatement("a\"b"),
            "select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"a\"\"b\"");
  EXPECT_EQ(SongsOfSingerSlot1Statement("x\" or \"1\"=\"1"),
            "select SINGID,SINGNAME,SINGER from vodinfo where SINGER=\"x\"\" or \"\"1\"\"=\"\"1\"");
  EXPECT_EQ(SongsOfSingerStatement("O'Neil"),
            "select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"O'Neil\"");
}

TEST(CatalogueStatements, WordsGoBetweenApostrophesWithApostrophesDoubled) {
  EXPECT_EQ(SongsOfTypeStatement(G("流行")),
            "select SINGID,SINGNAME,SINGER from vodinfo where TYPE='\xC1\xF7\xD0\xD0'");
  EXPECT_EQ(SongsOfLanguageStatement(G("其他")),
            "select SINGID,SINGNAME,SINGER from vodinfo where SONGLANGUAGE='" + G("其他") + "'");
  EXPECT_EQ(SongsOfTypeStatement("it's"),
            "select SINGID,SINGNAME,SINGER from vodinfo where TYPE='it''s'");
  EXPECT_EQ(QuoteApostrophes(""), "''");
}

TEST(CatalogueStatements, NumbersBareAndLettersAsLikePrefix) {
  EXPECT_EQ(SongByNumberStatement("10023"),
            "select SINGID,SINGNAME,SINGER from vodinfo where SINGID=10023");
  EXPECT_EQ(SongsByLettersStatement("AB"),
            "select SINGID,SINGNAME,SINGER from vodinfo where FIRSTWORD like \"AB%\"");
}

TEST(CatalogueStatements, PathLookupKeepsTheBlankAfterTheNumber) {
  const std::string entry = "10023 " + G("张学友") + "." + G("吻别");
  EXPECT_EQ(EntryNumber(entry), "10023 ");
  EXPECT_EQ(MediaPathStatement(entry), "select PATH1 from vodinfo where SINGID=10023 ");
  EXPECT_EQ(EntryNumber("10023"), "");
  EXPECT_EQ(MediaPathStatement("10023"), "select PATH1 from vodinfo where SINGID=");
  EXPECT_EQ(EntryNumber(" x"), " ");
}

}  // namespace
}  // namespace quor::data
