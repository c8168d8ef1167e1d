#include "ui/Layout.h"

#include <QStringList>
#include <array>

namespace quor::ui {
namespace {

using K = ControlKind;

constexpr const char* kPanel = "BMnumPanel";

constexpr ControlDef Pic(const char* name, const char* parent, int x, int y, int w, int h,
                         bool shown, const char* picture, bool stretch, bool hand) {
  return {name,  K::kPicture, parent, x, y,     w, h,       shown,  -1,
          false, false,       hand,   0, false, 0, picture, stretch};
}
constexpr ControlDef Text(const char* name, int x, int y, int w, int h, bool shown, int px,
                          bool centred, bool hand) {
  return {name,  K::kLabel, nullptr, x,  y,       w, h,       shown, -1,
          false, false,     hand,    px, centred, 0, nullptr, false};
}
constexpr ControlDef Btn(const char* name, int x, int y, int w, int h, bool shown, int tab,
                         bool tabStop, bool cue) {
  return {name,    K::kButton, nullptr, x, y,     w, h,       shown, tab,
          tabStop, cue,        false,   0, false, 0, nullptr, false};
}
constexpr ControlDef Edit(const char* name, int x, int y, int w, int h, int tab, int px,
                          int maxLength) {
  return {name,  K::kEdit, kPanel, x,  y,     w,         h,       true, tab,
          false, false,    false,  px, false, maxLength, nullptr, false};
}

constexpr std::array kTable = {
    Pic("BGImage", nullptr, 0, 0, 0, 0, true, "bg.jpg", false, false),
    // Singer names under the photos.
    Text("photonameLabel1", 314, 210, 111, 27, false, 24, true, false),
    Text("photonameLabel2", 474, 210, 111, 27, false, 24, true, false),
    Text("photonameLabel3", 626, 210, 111, 27, false, 24, true, false),
    Text("photonameLabel4", 314, 418, 111, 27, false, 24, true, false),
    Text("photonameLabel5", 482, 418, 111, 27, false, 24, true, false),
    Text("photonameLabel6", 634, 418, 111, 27, false, 24, true, false),
    // Song rows, 56 pixels apart.
    Text("songlistLabel1", 297, 75, 477, 35, false, 28, false, true),
    Text("songlistLabel2", 297, 131, 477, 35, false, 28, false, true),
    Text("songlistLabel3", 297, 187, 477, 35, false, 28, false, true),
    Text("songlistLabel4", 297, 243, 477, 35, false, 28, false, true),
    Text("songlistLabel5", 297, 299, 477, 35, false, 28, false, true),
    Text("songlistLabel6", 297, 355, 477, 35, false, 28, false, true),
    Text("songlistLabel7", 297, 411, 477, 35, false, 28, false, true),
    // Singer photos, created from the last slot to the first.
    Pic("photoImage6", nullptr, 632, 259, 113, 153, false, nullptr, true, true),
    Pic("photoImage5", nullptr, 480, 259, 113, 153, false, nullptr, true, true),
    Pic("photoImage4", nullptr, 312, 259, 113, 153, false, nullptr, true, true),
    Pic("photoImage3", nullptr, 624, 53, 113, 153, false, nullptr, true, true),
    Pic("photoImage2", nullptr, 472, 53, 113, 153, false, nullptr, true, true),
    Pic("photoImage1", nullptr, 312, 53, 113, 153, false, nullptr, true, true),
    Text("infoLabel", 300, 25, 381, 22, true, 21, true, false),
    Btn("LanguageBitBtn1", 204, 104, 67, 39, false, 17, true, true),
    Btn("LanguageBitBtn2", 204, 168, 67, 39, false, 18, true, true),
    Btn("LanguageBitBtn3", 204, 240, 67, 39, false, 19, true, true),
    Btn("LanguageBitBtn4", 204, 312, 67, 39, false, 20, true, true),
    Btn("LanguageBitBtn5", 204, 376, 67, 39, false, 21, true, true),
    // The main menu.
    Btn("selectBitBtn1", 40, 82, 119, 48, true, 0, true, true),
    Btn("selectBitBtn2", 40, 144, 119, 48, true, 1, true, true),
    Btn("selectBitBtn3", 40, 209, 119, 48, true, 2, true, true),
    Btn("selectBitBtn4", 40, 272, 119, 48, true, 3, true, true),
    Btn("selectBitBtn5", 40, 336, 119, 48, true, 4, true, true),
    Btn("selectBitBtn6", 40, 400, 119, 48, true, 5, false, false),
    // The player row, left to right: play, pause, next song, wind forwards,
    // wind backwards, channel, volume up, volume down.
    Btn("controlBitBtn1", 51, 515, 67, 39, true, 6, false, false),
    Btn("controlBitBtn2", 143, 515, 67, 39, true, 7, false, false),
    Btn("controlBitBtn3", 234, 515, 67, 39, true, 8, false, false),
    Btn("controlBitBtn4", 509, 515, 67, 39, true, 11, false, false),
    Btn("controlBitBtn5", 597, 515, 67, 39, true, 12, false, false),
    Btn("controlBitBtn6", 683, 515, 67, 39, true, 13, false, false),
    Btn("controlBitBtn7", 327, 515, 67, 39, true, 9, false, false),
    Btn("controlBitBtn8", 418, 515, 67, 39, true, 10, false, false),
    Btn("singerBitBtn1", 204, 96, 67, 39, false, 14, true, true),
    Btn("singerBitBtn2", 204, 245, 67, 39, false, 15, true, true),
    Btn("singerBitBtn3", 204, 384, 67, 39, false, 16, true, true),
    Btn("songtypeBitBtn1", 204, 54, 67, 39, false, 22, true, true),
    Btn("songtypeBitBtn2", 204, 106, 67, 39, false, 23, true, true),
    Btn("songtypeBitBtn3", 204, 154, 67, 39, false, 24, true, true),
    Btn("songtypeBitBtn4", 204, 210, 67, 39, false, 25, true, true),
    Btn("songtypeBitBtn5", 204, 266, 67, 39, false, 26, true, true),
    Btn("songtypeBitBtn6", 204, 322, 67, 39, false, 27, true, true),
    Btn("songtypeBitBtn7", 204, 378, 67, 39, false, 28, true, true),
    Btn("songtypeBitBtn8", 204, 434, 67, 39, false, 29, true, true),
    Btn("photoprevBitBtn1", 604, 452, 67, 37, false, 30, true, false),
    Btn("photonextBitBtn2", 700, 453, 67, 37, false, 31, true, false),
    Btn("songlistprevBitBtn1", 605, 452, 67, 37, false, 32, true, false),
    Btn("songlistnextBitBtn2", 700, 453, 67, 37, false, 33, true, false),
    Btn("selectedsongBitBtn1", 204, 114, 67, 39, false, 34, true, false),
    Btn("selectedsongBitBtn2", 204, 373, 67, 39, false, 35, true, false),
    Btn("PYselBitBtn", 204, 114, 67, 39, false, 36, true, true),
    Btn("BMselBitBtn", 204, 373, 67, 39, false, 37, true, true),
    ControlDef{kPanel, K::kPanel, nullptr, 300, 57, 252, 150, false, 38, false, false, false, 0,
               false, 0, nullptr, false},
    Btn("jsBitBtn1", 204, 104, 67, 39, false, 39, true, true),
    Btn("jsBitBtn2", 204, 167, 67, 39, false, 40, true, true),
    Btn("jsBitBtn3", 204, 240, 67, 39, false, 41, true, true),
    Btn("jsBitBtn4", 204, 311, 67, 39, false, 42, true, true),
    Btn("jsBitBtn5", 204, 376, 67, 39, false, 43, true, true),
    // The keypad panel: its two pictures fill the panel inside its bevel.
    Pic("PYBGImage", kPanel, 1, 1, 250, 148, false, "pypad.jpg", false, false),
    Pic("BMselImage", kPanel, 1, 1, 250, 148, true, "numpad.jpg", false, false),
    Pic("numImage1", kPanel, 11, 13, 35, 36, true, nullptr, false, true),
    Pic("numImage2", kPanel, 59, 13, 35, 36, true, nullptr, false, true),
    Pic("numImage3", kPanel, 108, 13, 35, 36, true, nullptr, false, true),
    Pic("numImage4", kPanel, 156, 13, 35, 36, true, nullptr, false, true),
    Pic("numImage5", kPanel, 204, 13, 35, 36, true, nullptr, false, true),
    Pic("numImage6", kPanel, 12, 65, 35, 36, true, nullptr, false, true),
    Pic("numImage7", kPanel, 61, 65, 35, 36, true, nullptr, false, true),
    Pic("numImage8", kPanel, 109, 65, 35, 36, true, nullptr, false, true),
    Pic("numImage9", kPanel, 157, 66, 35, 36, true, nullptr, false, true),
    Pic("numImage10", kPanel, 205, 65, 35, 36, true, nullptr, false, true),
    Pic("delnumImage", kPanel, 211, 117, 24, 25, true, nullptr, false, true),
    Pic("delpyImage", kPanel, 177, 116, 25, 25, true, nullptr, false, true),
    Edit("PYselEdit", 56, 115, 117, 27, 1, 25, 8),
    Edit("BMnumEdit", 101, 115, 82, 27, 0, 27, 6),
};

}  // namespace

std::span<const ControlDef> ControlTable() {
  return kTable;
}

QFont SongFont(int px, bool bold) {
  QFont font;
  // "宋体" first, for a machine that has it; then the Song-style faces of
  // the Noto CJK family, then any serif face.
  font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                    QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Serif CJK TC"),
                    QStringLiteral("Droid Sans Fallback")});
  font.setStyleHint(QFont::Serif);
  font.setPixelSize(px);
  font.setBold(bold);
  return font;
}

QFont DefaultFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                    QStringLiteral("Noto Sans CJK SC")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

}  // namespace quor::ui
