// File names as venues write them, through the built-in profiles and
// patterns of their own.

#include <gtest/gtest.h>

#include <set>

#include "NameProfile.h"

namespace quor::tools::catalogue {
namespace {

class NameProfileTest : public ::testing::Test {
 protected:
  ParsedName Parse(const NameProfile& p, const std::string& name) {
    std::u32string text;
    EXPECT_TRUE(DecodeUtf8(name, text)) << name;
    return p.Parse(text, normaliser_,
                   [this](std::u32string_view s) { return known_.count(ToUtf8(s)) != 0; });
  }
  Normaliser normaliser_;
  std::set<std::string> known_;
};

TEST_F(NameProfileTest, DefaultProfileTellsLanguageFromCategory) {
  const NameProfile p = NameProfile::Make("default");
  ParsedName n = Parse(p, "刘德华-忘情水");
  EXPECT_TRUE(n.parsed);
  EXPECT_EQ(n.singer, "刘德华");
  EXPECT_EQ(n.title, "忘情水");
  EXPECT_EQ(n.language, "");
  EXPECT_EQ(n.type, "");

  n = Parse(p, "刘德华-忘情水-国语-流行");
  EXPECT_EQ(n.title, "忘情水");
  EXPECT_EQ(n.language, "国语");
  EXPECT_EQ(n.type, "流行");

  n = Parse(p, "周杰伦-稻香-流行");  // a category alone
  EXPECT_EQ(n.title, "稻香");
  EXPECT_EQ(n.language, "");
  EXPECT_EQ(n.type, "流行");

  n = Parse(p, "张学友 - 吻别 - 廣東話");  // blanks, traditional writing
  EXPECT_EQ(n.singer, "张学友");
  EXPECT_EQ(n.title, "吻别");
  EXPECT_EQ(n.language, "粤语");

  n = Parse(p, "Ｂｅｙｏｎｄ－海阔天空－粤语－怀旧金曲");  // full width
  EXPECT_EQ(n.singer, "Beyond");
  EXPECT_EQ(n.title, "海阔天空");
  EXPECT_EQ(n.type, "怀旧");

  // A dash inside the title stays in the title when what follows is no word.
  n = Parse(p, "蔡依林-Play-我呸");
  EXPECT_EQ(n.singer, "蔡依林");
  EXPECT_EQ(n.title, "Play-我呸");
  EXPECT_EQ(n.language, "");
}

TEST_F(NameProfileTest, KnownSingersSettleDashesInNames) {
  const NameProfile p = NameProfile::Make("default");
  EXPECT_EQ(Parse(p, "A-Lin-给我一个理由忘记").singer, "A");
  known_.insert("A-Lin");
  const ParsedName n = Parse(p, "A-Lin-给我一个理由忘记-国语");
  EXPECT_EQ(n.singer, "A-Lin");
  EXPECT_EQ(n.title, "给我一个理由忘记");
  EXPECT_EQ(n.language, "国语");
}

TEST_F(NameProfileTest, NamesThatDoNotParseKeepTheWholeNameAsTitle) {
  const NameProfile p = NameProfile::Make("default");
  for (const char* name : {"无名歌曲", "-忘情水", "刘德华-", "   ", ""}) {
    const ParsedName n = Parse(p, name);
    EXPECT_FALSE(n.parsed) << name;
    EXPECT_EQ(n.singer, "") << name;
  }
  EXPECT_EQ(Parse(p, " 无名歌曲 ").title, "无名歌曲");
}

TEST_F(NameProfileTest, NumberProfileReadsTheSongNumber) {
  const NameProfile p = NameProfile::Make("number");
  ParsedName n = Parse(p, "10023 刘德华-忘情水");
  ASSERT_TRUE(n.parsed);
  EXPECT_EQ(n.number, 10023);
  EXPECT_EQ(n.singer, "刘德华");
  EXPECT_EQ(n.title, "忘情水");
  n = Parse(p, "00042   王菲-红豆-国语");
  EXPECT_EQ(n.number, 42);
  EXPECT_EQ(n.language, "国语");
  EXPECT_FALSE(Parse(p, "A123 刘德华-忘情水").parsed);
  EXPECT_FALSE(Parse(p, "刘德华-忘情水").parsed);
  EXPECT_FALSE(Parse(p, "1234567890123 刘德华-忘情水").number);  // too long to be a number
}

TEST_F(NameProfileTest, PatternsOfTheVenuesOwn) {
  NameProfile p = NameProfile::Make("{title}_{singer}_{skip}");
  ParsedName n = Parse(p, "忘情水_刘德华_dvd");
  EXPECT_EQ(n.title, "忘情水");
  EXPECT_EQ(n.singer, "刘德华");

  p = NameProfile::Make("[{language} ]{singer}《{title}》");
  n = Parse(p, "粤语 张学友《吻别》");
  EXPECT_EQ(n.language, "粤语");
  EXPECT_EQ(n.singer, "张学友");
  EXPECT_EQ(n.title, "吻别");
  n = Parse(p, "张学友《吻别》");
  EXPECT_EQ(n.language, "");
  EXPECT_EQ(n.title, "吻别");

  p = NameProfile::Make("{singer}-{title}-{type}-{skip}");
  n = Parse(p, "王菲-红豆-情歌-20s");
  EXPECT_EQ(n.title, "红豆");
  EXPECT_EQ(n.type, "情歌");

  // Letters of a pattern match in either case.
  p = NameProfile::Make("KTV {number}-{title}");
  EXPECT_EQ(Parse(p, "ktv 12-歌").number, 12);
}

TEST_F(NameProfileTest, PatternsThatCannotWorkAreRefusedClearly) {
  for (const char* bad : {"{singer}", "{singer}-{titel}", "[{title}", "{title}]", "{title",
                          "[[{title}]]", "{title}[a][b][c][d][e]", "x}{title}"}) {
    EXPECT_THROW(NameProfile::Make(bad), std::invalid_argument) << bad;
  }
  try {
    NameProfile::Make("{singer}-{titel}");
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("{titel}"), std::string::npos) << e.what();
  }
}

TEST_F(NameProfileTest, MatchingStaysCheapOnHostileNames) {
  // Many fields and a long name of separators: the search is bounded.
  const NameProfile p = NameProfile::Make("{skip}-{skip}-{skip}-{skip}-{singer}-{title}-{skip}");
  std::string name;
  for (int i = 0; i < 250; ++i) name += "-a";
  const ParsedName n = Parse(p, name);
  EXPECT_FALSE(n.title.empty());
}

}  // namespace
}  // namespace quor::tools::catalogue
