// The mpv driver's pure rules: the channel-mix filter and the path mapping.

#include <gtest/gtest.h>

#include "drivers/DriverTestSupport.h"
#include "drivers/mpv/MpvDriver.h"

namespace quor::drivers {
namespace {

TEST(MixFilter, PlainStereoAtEqualLevelsNeedsNoFilter) {
  EXPECT_EQ(MixFilter(100, 6553600, 200u << 16 | 200), "");
  EXPECT_EQ(MixFilter(100, 6553600, 0), "");
  EXPECT_EQ(MixFilter(100, 6553600, 255u << 16 | 255), "");
}

TEST(MixFilter, TheChannelCycleMixes) {
  const unsigned levels = 200u << 16 | 200;
  EXPECT_EQ(MixFilter(100, 100, levels), "@quormix:lavfi=[pan=stereo|c0=1*c0+0*c1|c1=1*c0+0*c1]");
  EXPECT_EQ(MixFilter(6553600, 6553600, levels),
            "@quormix:lavfi=[pan=stereo|c0=0*c0+1*c1|c1=0*c0+1*c1]");
  // Half of each input, and levels that differ.
  EXPECT_EQ(MixFilter(50u << 16 | 50, 6553600, 100u << 16 | 50),
            "@quormix:lavfi=[pan=stereo|c0=0.25*c0+0.25*c1|c1=0*c0+1*c1]");
  // Levels beyond 255 count as 255.
  EXPECT_EQ(MixFilter(100, 6553600, 0xFFFFu << 16 | 255), "");
}

TEST(LocalMediaPath, MapsSharePathsAndGbkNames) {
  testing::TempDir dir;
  testing::ScopedEnv root("QUORVOD_SHARE_ROOT", dir.File(""));
  EXPECT_EQ(LocalMediaPath("\\\\srv\\quorvod\\a\\b.mpg"), dir.File("a/b.mpg"));
  // 流行.mpg stored in GBK, the file named in UTF-8 on the disk.
  const std::string utf8 = dir.Write("流行.mpg", "x");
  EXPECT_EQ(LocalMediaPath("\\\\srv\\quorvod\\\xC1\xF7\xD0\xD0.mpg"), utf8);
  EXPECT_EQ(LocalMediaPath("/local/x.mpg"), "/local/x.mpg");
}

TEST(DisplayOnScreen, NamesTheScreenOfTheSameDisplay) {
  EXPECT_EQ(DisplayOnScreen(":0", "1"), ":0.1");
  EXPECT_EQ(DisplayOnScreen(":77.0", "1"), ":77.1");
  EXPECT_EQ(DisplayOnScreen("tv-pc:12.1", "0"), "tv-pc:12.0");
  EXPECT_EQ(DisplayOnScreen("[::1]:3", "2"), "[::1]:3.2");
  // Not a display name, or not a screen number: nothing to go on.
  for (const char* display : {"", "0", ":", ":x", ":0.", ":0.a", "host:"})
    EXPECT_EQ(DisplayOnScreen(display, "1"), std::nullopt) << display;
  for (const char* screen : {"", "-1", "256", "1.5", " 1", "tv"})
    EXPECT_EQ(DisplayOnScreen(":0", screen), std::nullopt) << screen;
}

TEST(MpvOptions, ReadsItsOwnSectionOnly) {
  testing::TempDir dir;
  const std::string ini =
      dir.Write("drivers.ini",
                "[Drivers32]\nreeldrv=x.so\n[REELDRV-MPV]\nVO = null\nhwdec=no\n[other]\nao=x\n");
  const auto options = ReadMpvOptions(ini.c_str());
  ASSERT_EQ(options.size(), 2u);
  EXPECT_EQ(options.at("vo"), "null");
  EXPECT_EQ(options.at("hwdec"), "no");
  EXPECT_TRUE(ReadMpvOptions(dir.File("absent.ini").c_str()).empty());
  EXPECT_TRUE(ReadMpvOptions(nullptr).empty());
}

}  // namespace
}  // namespace quor::drivers
