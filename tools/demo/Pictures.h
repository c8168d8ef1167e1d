#pragma once
// The demo's pictures, drawn with Qt Gui (a QGuiApplication must exist):
// singer photos (113 x 153, JPEG) and the title card of a song video.

#include <QImage>
#include <QString>

namespace quor::tools::demo {

inline constexpr int kPhotoWidth = 113;
inline constexpr int kPhotoHeight = 153;

// A portrait for a singer: colours by category (男, 女, 组合: one figure or
// three), varied by index, with the name on a band at the bottom.
QImage DrawSingerPhoto(const QString& name, const QString& sex, int index);

// The still picture of a demo video (320 x 240) on a gradient from fromRgb
// (top-left) to toRgb (bottom-right), colours as 0xRRGGBB.
QImage DrawTitleCard(const QString& title, const QString& line, unsigned fromRgb, unsigned toRgb);

}  // namespace quor::tools::demo
