// Places of the window's controls that the pictures are drawn to fit, and the
// face of every button glyph. Places are client pixels of the 800x600 window.
#pragma once

#include <array>
#include <string_view>

namespace quor::tools {

enum class Icon {
  kNone,
  kStar,
  kGrid,
  kGlobe,
  kKeypad,
  kBell,
  kList,
  kPlay,
  kPause,
  kNextSong,
  kForward,
  kBackward,
  kChannel,
  kVolumeUp,
  kVolumeDown,
  kPagePrev,
  kPageNext,
  kToTop,
  kDelete,
  kLetters,
  kDigits,
  kBeer,
  kGlass,
  kCup,
  kSnack,
  kFruit,
  kNote,
};

// Colour family of a group of buttons; every button of a group shares it.
enum class Family {
  kMenu,
  kPlayer,
  kSinger,
  kSongType,
  kLanguage,
  kPage,
  kQueueTop,
  kQueueDelete,
  kKeypadMode,
  kDrinks,
};

struct Rect {
  int x;
  int y;
  int w;
  int h;
};

struct ButtonFace {
  std::string_view name;  // control name; the glyph file is <name>.bmp
  Rect place;             // the button's place and size in the window
  std::string_view text;  // UTF-8 face word
  Icon icon;
  Family family;
};

// Glyph sizes: one pixel wider and higher than the 119x48 and 67x39 buttons.
inline constexpr int kMenuGlyphW = 120;
inline constexpr int kMenuGlyphH = 49;
inline constexpr int kGlyphW = 68;
inline constexpr int kGlyphH = 40;

inline constexpr int kWindowW = 800;
inline constexpr int kWindowH = 600;
inline constexpr int kPadW = 250;
inline constexpr int kPadH = 148;
inline constexpr int kPhotoW = 113;
inline constexpr int kPhotoH = 153;

inline constexpr bool IsMenuButton(const ButtonFace& b) {
  return b.place.w == 119;
}

inline constexpr std::array<ButtonFace, 43> kButtons{{
    {"selectBitBtn1", {40, 82, 119, 48}, "歌星点歌", Icon::kStar, Family::kMenu},
    {"selectBitBtn2", {40, 144, 119, 48}, "分类点歌", Icon::kGrid, Family::kMenu},
    {"selectBitBtn3", {40, 209, 119, 48}, "语种点歌", Icon::kGlobe, Family::kMenu},
    {"selectBitBtn4", {40, 272, 119, 48}, "拼音/编号", Icon::kKeypad, Family::kMenu},
    {"selectBitBtn5", {40, 336, 119, 48}, "呼叫服务", Icon::kBell, Family::kMenu},
    {"selectBitBtn6", {40, 400, 119, 48}, "已点歌曲", Icon::kList, Family::kMenu},
    {"controlBitBtn1", {51, 515, 67, 39}, "播放", Icon::kPlay, Family::kPlayer},
    {"controlBitBtn2", {143, 515, 67, 39}, "暂停", Icon::kPause, Family::kPlayer},
    {"controlBitBtn3", {234, 515, 67, 39}, "切歌", Icon::kNextSong, Family::kPlayer},
    {"controlBitBtn7", {327, 515, 67, 39}, "快进", Icon::kForward, Family::kPlayer},
    {"controlBitBtn8", {418, 515, 67, 39}, "快退", Icon::kBackward, Family::kPlayer},
    {"controlBitBtn4", {509, 515, 67, 39}, "原伴唱", Icon::kChannel, Family::kPlayer},
    {"controlBitBtn5", {597, 515, 67, 39}, "音量+", Icon::kVolumeUp, Family::kPlayer},
    {"controlBitBtn6", {683, 515, 67, 39}, "音量−", Icon::kVolumeDown, Family::kPlayer},
    {"singerBitBtn1", {204, 96, 67, 39}, "男歌星", Icon::kNone, Family::kSinger},
    {"singerBitBtn2", {204, 245, 67, 39}, "女歌星", Icon::kNone, Family::kSinger},
    {"singerBitBtn3", {204, 384, 67, 39}, "组合", Icon::kNone, Family::kSinger},
    {"songtypeBitBtn1", {204, 54, 67, 39}, "流行", Icon::kNone, Family::kSongType},
    {"songtypeBitBtn2", {204, 106, 67, 39}, "怀旧", Icon::kNone, Family::kSongType},
    {"songtypeBitBtn3", {204, 154, 67, 39}, "民歌", Icon::kNone, Family::kSongType},
    {"songtypeBitBtn4", {204, 210, 67, 39}, "少儿", Icon::kNone, Family::kSongType},
    {"songtypeBitBtn5", {204, 266, 67, 39}, "情歌", Icon::kNone, Family::kSongType},
    {"songtypeBitBtn6", {204, 322, 67, 39}, "军旅", Icon::kNone, Family::kSongType},
    {"songtypeBitBtn7", {204, 378, 67, 39}, "戏曲", Icon::kNone, Family::kSongType},
    {"songtypeBitBtn8", {204, 434, 67, 39}, "其他", Icon::kNone, Family::kSongType},
    {"LanguageBitBtn1", {204, 104, 67, 39}, "国语", Icon::kNone, Family::kLanguage},
    {"LanguageBitBtn2", {204, 168, 67, 39}, "粤语", Icon::kNone, Family::kLanguage},
    {"LanguageBitBtn3", {204, 240, 67, 39}, "英语", Icon::kNone, Family::kLanguage},
    {"LanguageBitBtn4", {204, 312, 67, 39}, "闽南", Icon::kNone, Family::kLanguage},
    {"LanguageBitBtn5", {204, 376, 67, 39}, "其他", Icon::kNone, Family::kLanguage},
    {"photoprevBitBtn1", {604, 452, 67, 37}, "上一页", Icon::kPagePrev, Family::kPage},
    {"photonextBitBtn2", {700, 453, 67, 37}, "下一页", Icon::kPageNext, Family::kPage},
    {"songlistprevBitBtn1", {605, 452, 67, 37}, "上一页", Icon::kPagePrev, Family::kPage},
    {"songlistnextBitBtn2", {700, 453, 67, 37}, "下一页", Icon::kPageNext, Family::kPage},
    {"selectedsongBitBtn1", {204, 114, 67, 39}, "置顶", Icon::kToTop, Family::kQueueTop},
    {"selectedsongBitBtn2", {204, 373, 67, 39}, "删除", Icon::kDelete, Family::kQueueDelete},
    {"PYselBitBtn", {204, 114, 67, 39}, "拼音", Icon::kLetters, Family::kKeypadMode},
    {"BMselBitBtn", {204, 373, 67, 39}, "编号", Icon::kDigits, Family::kKeypadMode},
    {"jsBitBtn1", {204, 104, 67, 39}, "啤酒", Icon::kBeer, Family::kDrinks},
    {"jsBitBtn2", {204, 167, 67, 39}, "洋酒", Icon::kGlass, Family::kDrinks},
    {"jsBitBtn3", {204, 240, 67, 39}, "饮料", Icon::kCup, Family::kDrinks},
    {"jsBitBtn4", {204, 311, 67, 39}, "小吃", Icon::kSnack, Family::kDrinks},
    {"jsBitBtn5", {204, 376, 67, 39}, "果盘", Icon::kFruit, Family::kDrinks},
}};

// Keypad click areas relative to the 250x148 picture (the picture sits at 1,1
// inside its 252x150 panel, so these are the panel places minus one).
inline constexpr std::array<Rect, 10> kPadKeys{{
    {10, 12, 35, 36},
    {58, 12, 35, 36},
    {107, 12, 35, 36},
    {155, 12, 35, 36},
    {203, 12, 35, 36},
    {11, 64, 35, 36},
    {60, 64, 35, 36},
    {108, 64, 35, 36},
    {156, 65, 35, 36},
    {204, 64, 35, 36},
}};
inline constexpr Rect kPadDelNum{210, 116, 24, 25};     // delete (digits) / search (letters)
inline constexpr Rect kPadDelLetter{176, 115, 25, 25};  // delete (letters)
inline constexpr Rect kPadNumEdit{100, 114, 82, 27};
inline constexpr Rect kPadLetterEdit{55, 114, 117, 27};

// Window places the background is drawn around.
inline constexpr Rect kStatusLine{300, 25, 381, 22};
inline constexpr std::array<Rect, 6> kPhotoPlaces{{
    {312, 53, 113, 153},
    {472, 53, 113, 153},
    {624, 53, 113, 153},
    {312, 259, 113, 153},
    {480, 259, 113, 153},
    {632, 259, 113, 153},
}};
inline constexpr std::array<Rect, 6> kPhotoNamePlaces{{
    {314, 210, 111, 27},
    {474, 210, 111, 27},
    {626, 210, 111, 27},
    {314, 418, 111, 27},
    {482, 418, 111, 27},
    {634, 418, 111, 27},
}};
inline constexpr Rect kSongRowFirst{297, 75, 477, 35};
inline constexpr int kSongRowStep = 56;
inline constexpr int kSongRows = 7;
inline constexpr Rect kPadPanel{300, 57, 252, 150};

// Panels of the background (window pixels).
inline constexpr Rect kMenuPanel{24, 20, 150, 444};
inline constexpr Rect kMiddlePanel{195, 45, 85, 438};
inline constexpr Rect kContentPanel{288, 14, 494, 486};
inline constexpr int kContentHeaderBottom = 49;  // the status strip is the panel's header
inline constexpr Rect kPlayerBar{30, 505, 740, 58};

}  // namespace quor::tools
