// FIRSTWORD against the initials guests type for well-known songs, and the
// normalisation every lookup goes through.

#include <gtest/gtest.h>

#include <utility>

#include "Initials.h"
#include "Text.h"
#include "Words.h"

namespace quor::tools::catalogue {
namespace {

// Titles of real songs with the initials of their standard readings.
const std::pair<const char*, const char*> kTitles[] = {
    {"月亮代表我的心", "YLDBWDX"},
    {"甜蜜蜜", "TMM"},
    {"小城故事", "XCGS"},
    {"但愿人长久", "DYRCJ"},
    {"童年", "TN"},
    {"朋友", "PY"},
    {"海阔天空", "HKTK"},
    {"光辉岁月", "GHSY"},
    {"真的爱你", "ZDAN"},
    {"吻别", "WB"},
    {"忘情水", "WQS"},
    {"冰雨", "BY"},
    {"后来", "HL"},
    {"十年", "SN"},
    {"稻香", "DX"},
    {"晴天", "QT"},
    {"七里香", "QLX"},
    {"青花瓷", "QHC"},
    {"菊花台", "JHT"},
    {"双截棍", "SJG"},
    {"东风破", "DFP"},
    {"夜曲", "YQ"},
    {"简单爱", "JDA"},
    {"告白气球", "GBQQ"},
    {"说好的幸福呢", "SHDXFN"},
    {"老鼠爱大米", "LSADM"},
    {"两只蝴蝶", "LZHD"},
    {"江南", "JN"},
    {"小酒窝", "XJW"},
    {"倔强", "JJ"},
    {"温柔", "WR"},
    {"突然好想你", "TRHXN"},
    {"知足", "ZZ"},
    {"至少还有你", "ZSHYN"},
    {"红豆", "HD"},
    {"传奇", "CQ"},
    {"匆匆那年", "CCNN"},
    {"当你老了", "DNLL"},
    {"平凡之路", "PFZL"},
    {"南山南", "NSN"},
    {"成都", "CD"},
    {"演员", "YY"},
    {"丑八怪", "CBG"},
    {"刚好遇见你", "GHYJN"},
    {"体面", "TM"},
    {"往后余生", "WHYS"},
    {"沙漠骆驼", "SMLT"},
    {"学猫叫", "XMJ"},
    {"少年", "SN"},
    {"芒种", "MZ"},
    {"大鱼", "DY"},
    {"光年之外", "GNZW"},
    {"泡沫", "PM"},
    {"富士山下", "FSSX"},
    {"红日", "HR"},
    {"千千阙歌", "QQQG"},
    {"一生所爱", "YSSA"},
    {"爱情转移", "AQZY"},
    {"浮夸", "FK"},
    {"好久不见", "HJBJ"},
    {"最炫民族风", "ZXMZF"},
    {"小苹果", "XPG"},
    {"荷塘月色", "HTYS"},
    {"北京欢迎你", "BJHYN"},
    {"我的中国心", "WDZGX"},
    {"龙的传人", "LDCR"},
    {"橄榄树", "GLS"},
    {"外婆的澎湖湾", "WPDPHW"},
    {"童话", "TH"},
    {"隐形的翅膀", "YXDCB"},
    {"遇见", "YJ"},
    {"勇气", "YQ"},
    {"小幸运", "XXY"},
    {"那些年", "NXN"},
    {"送别", "SB"},
    {"茉莉花", "MLH"},
    {"在那遥远的地方", "ZNYYDDF"},
    {"康定情歌", "KDQG"},
    {"草原之夜", "CYZY"},
    {"我和我的祖国", "WHWDZG"},
    {"歌唱祖国", "GCZG"},
    {"长江之歌", "CJZG"},
    {"我爱你中国", "WANZG"},
    {"春天里", "CTL"},
    {"飞得更高", "FDGG"},
    {"从头再来", "CTZL"},
    {"爱拼才会赢", "APCHY"},
    {"酒干倘卖无", "JGTMW"},
    {"千里之外", "QLZW"},
    {"夜上海", "YSH"},
    {"天涯歌女", "TYGN"},
    {"何日君再来", "HRJZL"},
    {"重庆森林", "CQSL"},
    {"盛夏的果实", "SXDGS"},
    {"单车", "DC"},
    {"红玫瑰", "HMG"},
    {"好汉歌", "HHG"},
    {"铿锵玫瑰", "KQMG"},
    {"大海", "DH"},
    {"恋曲1990", "LQYJJL"},
    {"2002年的第一场雪", "ELLENDDYCX"},
    {"卷珠帘", "JZL"},
    {"漂洋过海来看你", "PYGHLKN"},
    {"我的歌声里", "WDGSL"},
    {"父亲", "FQ"},
    {"时间都去哪儿了", "SJDQNEL"},
    {"水手", "SS"},
    {"星星点灯", "XXDD"},
    {"蓝莲花", "LLH"},
    {"让我们荡起双桨", "RWMDQSJ"},
    {"送战友", "SZY"},
    {"咱当兵的人", "ZDBDR"},
    {"说唱脸谱", "SCLP"},
    {"新贵妃醉酒", "XGFZJ"},
    {"女驸马", "NFM"},
    {"天仙配", "TXP"},
    {"长大后我就成了你", "ZDHWJCLN"},
    {"快乐崇拜", "KLCB"},
    {"音乐之声", "YYZS"},
    {"西藏的天空", "XZDTK"},
    {"弹起我心爱的土琵琶", "TQWXADTPP"},
    {"重逢", "CF"},
    {"朝阳", "ZY"},
    {"漂泊", "PB"},
    {"我们的爱", "WMDA"},
    {"后会无期", "HHWQ"},
    // Latin and mixed titles
    {"Yesterday Once More", "YOM"},
    {"My Heart Will Go On", "MHWGO"},
    {"Take Me To Your Heart", "TMTYH"},
    {"Don't Cry", "DC"},
    {"Hotel California", "HC"},
    {"野狼disco", "YLD"},
    {"Super Star", "SS"},
    {"123我爱你", "YESWAN"},
    {"9420", "JSEL"},
    {"I Believe", "IB"},
    {"Let It Go", "LIG"},
};

TEST(Initials, RealTitlesGiveTheLettersGuestsType) {
  ASSERT_GE(std::size(kTitles), 100u);
  Initials initials;
  for (const auto& [title, letters] : kTitles) EXPECT_EQ(initials.Of(title), letters) << title;
}

TEST(Initials, WritingFormsAndMarksDoNotChangeTheLetters) {
  Initials initials;
  // Traditional characters read as the simplified ones, phrases included.
  EXPECT_EQ(initials.Of("重慶森林"), "CQSL");
  EXPECT_EQ(initials.Of("後來"), "HL");
  // Full-width letters and digits, accents, punctuation, blanks, kana.
  EXPECT_EQ(initials.Of("ＬＯＶＥ　ｙｏｕ"), "LY");
  EXPECT_EQ(initials.Of("２００２"), "ELLE");
  EXPECT_EQ(initials.Of("Café Olé"), "CO");
  EXPECT_EQ(initials.Of("忘情水（Live版）"), "WQSLB");
  EXPECT_EQ(initials.Of("《吻别》！"), "WB");
  EXPECT_EQ(initials.Of("さくら 樱花"), "YH");
  EXPECT_EQ(initials.Of("♥🎤"), "");
  EXPECT_EQ(initials.Of(""), "");
  // Malformed UTF-8 gives nothing rather than garbage.
  EXPECT_EQ(initials.Of(std::string_view("\xff\xfe", 2)), "");
  // A very long title stops at the column's width.
  std::string longTitle;
  for (int i = 0; i < 300; ++i) longTitle += "爱";
  EXPECT_EQ(initials.Of(longTitle), std::string(kMaxInitials, 'A'));
}

TEST(Normaliser, KeysFoldWidthCaseAndTraditionalForms) {
  Normaliser n;
  EXPECT_EQ(n.Key("國語"), "国语");
  EXPECT_EQ(n.Key(" 廣東話 "), "广东话");
  EXPECT_EQ(n.Key("Ｍａｎｄａｒｉｎ"), "mandarin");
  EXPECT_EQ(n.Key("劉德華"), n.Key("刘德华"));
  EXPECT_EQ(n.Key("BEYOND"), n.Key("Beyond"));
  EXPECT_EQ(*LanguageOf(n.Key("普通话")), "国语");
  EXPECT_EQ(*LanguageOf(n.Key("台語")), "闽南");
  EXPECT_EQ(*LanguageOf(n.Key("English")), "英语");
  EXPECT_EQ(*LanguageOf(n.Key("日语")), "其他");
  EXPECT_FALSE(LanguageOf(n.Key("流行")));
  EXPECT_EQ(*TypeOf(n.Key("兒歌")), "少儿");
  EXPECT_EQ(*TypeOf(n.Key("京剧")), "戏曲");
  EXPECT_EQ(*SexOf(n.Key("男歌手")), "男");
  EXPECT_EQ(*SexOf(n.Key("Band")), "组合");
  EXPECT_EQ(LanguageWords().size(), 5u);
  EXPECT_EQ(TypeWords().size(), 8u);
}

TEST(Text, NamesDecodeAsUtf8OrGbk) {
  std::string utf8;
  Encoding how = Encoding::Utf8;
  EXPECT_TRUE(DecodeName("刘德华", utf8, &how));
  EXPECT_EQ(how, Encoding::Utf8);
  EXPECT_EQ(utf8, "刘德华");
  EXPECT_TRUE(DecodeName("\xc1\xf5\xb5\xc2\xbb\xaa", utf8, &how));  // 刘德华 in GBK
  EXPECT_EQ(how, Encoding::Gbk);
  EXPECT_EQ(utf8, "刘德华");
  EXPECT_FALSE(DecodeName("\xff\xff", utf8, &how));
  // Overlong forms and surrogates are not UTF-8.
  EXPECT_FALSE(IsUtf8("\xc0\xaf"));
  EXPECT_FALSE(IsUtf8("\xed\xa0\x80"));
  std::string cut = "爱你一万年";
  EXPECT_TRUE(CutToChars(cut, 2));
  EXPECT_EQ(cut, "爱你");
  EXPECT_EQ(Trim(std::string_view("\xe3\x80\x80 歌 \t")), "歌");
}

}  // namespace
}  // namespace quor::tools::catalogue
