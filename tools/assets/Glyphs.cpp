#include <QFontMetricsF>
#include <QPainter>
#include <QRadialGradient>

#include "Icons.h"
#include "Paint.h"
#include "Pictures.h"

namespace quor::tools {

namespace {

// Corner radius of the drawn key: larger than the 4-pixel radius of the
// window mask, so the mask never cuts into the key's rim.
constexpr qreal kMenuRadius = 7;
constexpr qreal kKeyRadius = 6;

QImage BackgroundUnder(const ButtonFace& b, const QImage& background, int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(QColor(0x14, 0x0c, 0x3a));
  QPainter p(&img);
  // A glyph one pixel larger than its button is drawn from the button's
  // top-left corner; the 37-pixel page buttons show it one pixel higher.
  const int shiftY = b.place.h < h - 1 ? (h - b.place.h) / 2 : 0;
  p.drawImage(QPoint(0, 0), background, QRect(b.place.x, b.place.y - shiftY, w, h));
  p.end();
  return img;
}

void DrawMenuFace(QPainter& p, const ButtonFace& b, const KeyColours& c) {
  const QRectF key(0.5, 0.5, kMenuGlyphW - 2, kMenuGlyphH - 2);
  DrawGlossyKey(p, key, kMenuRadius, c);
  // Icon badge: a lit disc at the left of the key.
  const QPointF centre(22, key.center().y());
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient disc(centre - QPointF(3, 4), 16);
  disc.setColorAt(0.0, QColor(255, 255, 255, 120));
  disc.setColorAt(1.0, QColor(255, 255, 255, 30));
  p.setBrush(disc);
  p.setPen(QPen(QColor(255, 255, 255, 110), 1));
  p.drawEllipse(centre, 14, 14);
  p.restore();
  DrawIcon(p, b.icon, QRectF(centre.x() - 9, centre.y() - 9, 18, 18), Qt::white);
  const QString text = QString::fromUtf8(b.text.data(), static_cast<int>(b.text.size()));
  const QRectF textBox(39, key.top(), key.right() - 42, key.height() - 1);
  DrawShadowText(p, textBox, text, FitFont(text, textBox.width(), 18, 11), Qt::white);
}

void DrawSmallFace(QPainter& p, const ButtonFace& b, const KeyColours& c) {
  const bool page = b.place.h < kGlyphH - 1;
  const QRectF key = page ? QRectF(0.5, 2.0, kGlyphW - 2, kGlyphH - 5)
                          : QRectF(0.5, 0.5, kGlyphW - 2, kGlyphH - 2);
  DrawGlossyKey(p, key, kKeyRadius, c);
  const QString text = QString::fromUtf8(b.text.data(), static_cast<int>(b.text.size()));
  const qreal inner = key.width() - 8;
  if (b.icon == Icon::kNone) {
    DrawShadowText(p, key.adjusted(0, 0, 0, -1), text, FitFont(text, inner, 18, 10), Qt::white);
    return;
  }
  const qreal iconSide = 16;
  const QFont font = FitFont(text, inner - iconSide - 3, 16, 9);
  const qreal textW = QFontMetricsF(font).horizontalAdvance(text);
  const qreal left = key.center().x() - (iconSide + 3 + textW) / 2;
  DrawIcon(p, b.icon, QRectF(left, key.center().y() - iconSide / 2 - 0.5, iconSide, iconSide),
           Qt::white);
  DrawShadowText(p, QRectF(left + iconSide + 3, key.top(), textW + 1, key.height() - 1), text, font,
                 Qt::white, Qt::AlignLeft | Qt::AlignVCenter);
}

}  // namespace

QImage DrawGlyph(const ButtonFace& button, const QImage& background) {
  const bool menu = IsMenuButton(button);
  const int w = menu ? kMenuGlyphW : kGlyphW;
  const int h = menu ? kMenuGlyphH : kGlyphH;
  QImage img = BackgroundUnder(button, background, w, h);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const KeyColours colours = ColoursOf(button.family);
  if (menu)
    DrawMenuFace(p, button, colours);
  else
    DrawSmallFace(p, button, colours);
  p.end();
  return img;
}

}  // namespace quor::tools
