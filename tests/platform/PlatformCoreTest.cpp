#include <gtest/gtest.h>

#include <clocale>

#include "platform/AsciiCase.h"
#include "platform/Codepage.h"
#include "platform/Ticks.h"

namespace quor::platform {
namespace {

TEST(Codepage, GbkRoundTripsThroughUtf16) {
  const std::string gbk = "\xB8\xE8\xD0\xC7\xB5\xE3\xB8\xE8";  // 歌星点歌
  const std::u16string wide = GbkToUtf16(gbk);
  EXPECT_EQ(wide, u"歌星点歌");
  EXPECT_EQ(Utf16ToGbk(wide), gbk);
  EXPECT_EQ(GbkToUtf16("Room1"), u"Room1");
}

TEST(Codepage, CharactersOutsideGbkSurvive) {
  // U+20000 (a CJK Extension B character, a surrogate pair) and U+00E9 have no
  // GBK code but GB18030 four-byte codes: they must come back unchanged.
  const std::u16string wide = u"\U00020000\u00E9x";
  const std::string bytes = Utf16ToGbk(wide);
  EXPECT_EQ(bytes.find('?'), std::string::npos);
  EXPECT_EQ(GbkToUtf16(bytes), wide);
}

TEST(Codepage, BrokenInputIsReplacedNotDropped) {
  // A lead byte at the very end, and a lone surrogate.
  EXPECT_EQ(GbkToUtf16("ab\xB8"), u"ab\uFFFD");
  EXPECT_EQ(Utf16ToGbk(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b");
  EXPECT_EQ(GbkToUtf16(""), u"");
  EXPECT_EQ(Utf16ToGbk(u""), "");
}

TEST(Codepage, Utf8Bridges) {
  EXPECT_EQ(Utf8ToGbk("流行"), "\xC1\xF7\xD0\xD0");
  EXPECT_EQ(GbkToUtf8("\xC1\xF7\xD0\xD0"), "流行");
  EXPECT_EQ(Utf8ToUtf16("国语"), u"国语");
  EXPECT_EQ(Utf16ToUtf8(u"国语"), "国语");
}

TEST(Codepage, CutsFallBetweenWholeCharacters) {
  // "a", 歌 (two bytes), U+20000 (four bytes), "b".
  const std::string text =
      "a\xB8\xE8\x95\x32\x82\x36"
      "b";
  EXPECT_EQ(Utf16ToGbk(u"a歌\U00020000b"), text);
  EXPECT_EQ(GbkCharLength(text, 0), 1u);
  EXPECT_EQ(GbkCharLength(text, 1), 2u);
  EXPECT_EQ(GbkCharLength(text, 3), 4u);
  EXPECT_EQ(GbkCharLength(text, 7), 1u);
  for (std::size_t max = 0; max <= text.size() + 1; ++max) {
    const std::string_view cut = GbkCutBytes(text, max);
    EXPECT_LE(cut.size(), max);
    EXPECT_EQ(GbkToUtf16(cut).find(u'\uFFFD'), std::u16string::npos) << max;
  }
  EXPECT_EQ(GbkCutBytes(text, 6), "a\xB8\xE8");
  EXPECT_EQ(GbkCutBytes(text, 7), "a\xB8\xE8\x95\x32\x82\x36");
  EXPECT_EQ(GbkCutChars(text, 2), "a\xB8\xE8");
  EXPECT_EQ(GbkCutChars(text, 3), "a\xB8\xE8\x95\x32\x82\x36");
  EXPECT_EQ(GbkCutChars(text, 9), text);
  // Broken text still cuts without reading past its end: a lead byte at the
  // end, a four-byte form cut short, a digit second byte without the rest.
  EXPECT_EQ(GbkCharLength("a\x81", 1), 1u);
  EXPECT_EQ(GbkCharLength("\x95\x32\x82", 0), 2u);
  EXPECT_EQ(GbkCharLength("\x95\x32xy", 0), 2u);
  EXPECT_EQ(GbkCutChars("\x95\x32\x82", 2), "\x95\x32\x82");
}

TEST(AsciiCase, FoldsAsciiLettersAndNothingElse) {
  EXPECT_TRUE(EqualsNoCase("songDataSetProvider", "SONGDATASETPROVIDER"));
  EXPECT_TRUE(EqualsNoCase(u"AS_GetRecords", u"as_getrecords"));
  EXPECT_FALSE(EqualsNoCase("Path", "Paths"));
  EXPECT_FALSE(EqualsNoCase("a", ""));
  // '@' + 32 is '`' and '[' + 32 is '{': only A to Z fold.
  EXPECT_FALSE(EqualsNoCase("@[", "`{"));
  // GBK bytes 0xC1 and 0xE1 are lead bytes of different characters; U+00C9
  // and U+00E9 are different letters to a name lookup. No locale changes that.
  std::setlocale(LC_ALL, "C.UTF-8");
  EXPECT_FALSE(EqualsNoCase("\xC1\xF7", "\xE1\xF7"));
  EXPECT_FALSE(EqualsNoCase(u"\u00C9", u"\u00E9"));
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(AsciiLower('Q'), 'q');
  EXPECT_EQ(AsciiLower(u'\u00C9'), u'\u00C9');
}

TEST(Ticks, DifferenceSurvivesTheWrap) {
  const std::uint32_t start = 0xFFFFFFF0u;
  const std::uint32_t later = 0x00000010u;
  EXPECT_EQ(later - start, 0x20u);
  const std::uint32_t now = TickCount();
  EXPECT_LT(TicksSince(now), 1000u);
}

}  // namespace
}  // namespace quor::platform

#include "platform/Share.h"

#include <cstdlib>

namespace quor::platform {
namespace {

TEST(Share, UncPathsMapUnderTheMountRoot) {
  unsetenv("QUORVOD_SHARE_ROOT");
  EXPECT_EQ(MapSharePath("\\\\media01\\quorvod\\songs\\10023.mpg"),
            "/mnt/media01/quorvod/songs/10023.mpg");
  setenv("QUORVOD_SHARE_ROOT", "/srv/demo/media/", 1);
  EXPECT_EQ(MapSharePath("\\\\quorvod\\quorvod\\a\\b.mkv"), "/srv/demo/media/a/b.mkv");
  unsetenv("QUORVOD_SHARE_ROOT");
  EXPECT_EQ(MapSharePath("C:\\x\\y.mpg"), "C:/x/y.mpg");
  EXPECT_EQ(MapSharePath("\\\\server"), "//server");
  EXPECT_EQ(MapSharePath(""), "");
}

TEST(Share, RemembersTheLastConnection) {
  ShareConnection c;
  c.remoteName = "\\\\quorvod\\quorvod";
  c.user = "quorvod";
  EXPECT_EQ(ConnectShare(c), 0);
  EXPECT_EQ(ConnectedShare().remoteName, c.remoteName);
  EXPECT_EQ(ConnectedShare().type, 1);
}

}  // namespace
}  // namespace quor::platform

#include "platform/Guid.h"

namespace quor::platform {
namespace {

TEST(Guid, ParsesAndPrintsBracedText) {
  const auto g = Guid::Parse("{6ee68eed-0503-48A7-8626-C11D1330E902}");
  ASSERT_TRUE(g.has_value());
  EXPECT_EQ(g->data1, 0x6EE68EEDu);
  EXPECT_EQ(g->data4[7], 0x02);
  EXPECT_EQ(g->ToString(), "{6EE68EED-0503-48A7-8626-C11D1330E902}");
  EXPECT_FALSE(g->IsNull());
  EXPECT_TRUE(Guid{}.IsNull());
  EXPECT_EQ(Guid{}.ToString(), "{00000000-0000-0000-0000-000000000000}");
  for (const char* bad :
       {"", "Lyrahub.DM", "6EE68EED-0503-48A7-8626-C11D1330E902",
        "{6EE68EED-0503-48A7-8626-C11D1330E90G}", "{6EE68EED+0503-48A7-8626-C11D1330E902}"})
    EXPECT_FALSE(Guid::Parse(bad).has_value()) << bad;
}

}  // namespace
}  // namespace quor::platform

#include "platform/SharedLibrary.h"

namespace quor::platform {
namespace {

TEST(SharedLibrary, LoadsFindsSymbolsAndSaysWhyNot) {
  SharedLibrary missing;
  EXPECT_FALSE(missing.Open("/nonexistent/libquor-none.so"));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_NE(missing.Error().find("libquor-none.so"), std::string::npos) << missing.Error();
  EXPECT_EQ(missing.Symbol("cos"), nullptr);

  SharedLibrary math;
  ASSERT_TRUE(math.Open("libm.so.6")) << math.Error();
  using Cos = double (*)(double);
  const Cos cosine = math.Function<Cos>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(math.Symbol("quor_no_such_symbol"), nullptr);
  EXPECT_NE(math.Error().find("quor_no_such_symbol"), std::string::npos) << math.Error();

  SharedLibrary moved = std::move(math);
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_EQ(moved.Path(), "libm.so.6");
  moved.Close();
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_EQ(moved.Symbol("cos"), nullptr);
}

}  // namespace
}  // namespace quor::platform

#include <poll.h>
#include <unistd.h>

#include "platform/EventFd.h"
#include "platform/Socket.h"

namespace quor::platform {
namespace {

TEST(WaitFd, WaitsOnSeveralDescriptorsAndFailsInsteadOfSpinning) {
  EventFd a, b, cancel;
  WaitItem items[2] = {{a.Fd(), POLLIN, true}, {b.Fd(), POLLIN, true}};
  int err = -1;
  EXPECT_EQ(WaitFd(items, 10, cancel.Fd(), err), WaitResult::kTimeout);
  EXPECT_EQ(err, 0);

  b.Signal();
  EXPECT_EQ(WaitFd(items, -1, cancel.Fd(), err), WaitResult::kReady);
  EXPECT_FALSE(items[0].ready);
  EXPECT_TRUE(items[1].ready);
  a.Signal();
  EXPECT_EQ(WaitFd(items, -1, -1, err), WaitResult::kReady);
  EXPECT_TRUE(items[0].ready && items[1].ready);

  cancel.Signal();  // being told to stop wins over ready descriptors
  EXPECT_EQ(WaitFd(items, -1, cancel.Fd(), err), WaitResult::kCancelled);

  // A descriptor that is not open fails the wait at once, with its reason.
  const int closed = ::dup(a.Fd());
  ::close(closed);
  WaitItem broken[2] = {{b.Fd(), POLLIN, false}, {closed, POLLIN, false}};
  EXPECT_EQ(WaitFd(broken, -1, -1, err), WaitResult::kError);
  EXPECT_EQ(err, EBADF);
  EXPECT_EQ(WaitFd(closed, POLLIN, -1, -1, err), WaitResult::kError);
}

}  // namespace
}  // namespace quor::platform
