#include "Paint.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>

namespace quor::tools {

namespace {

QFont MakeFont(const char* family, qreal pixelSize, QFont::Weight weight) {
  QFont f{QString::fromLatin1(family)};
  f.setPixelSize(qMax(1, qRound(pixelSize)));
  f.setWeight(weight);
  f.setStyleStrategy(QFont::PreferAntialias);
  f.setHintingPreference(QFont::PreferNoHinting);
  return f;
}

}  // namespace

QFont FaceFont(qreal pixelSize, QFont::Weight weight) {
  return MakeFont(kFaceFamily, pixelSize, weight);
}

QFont LabelFont(qreal pixelSize) {
  return MakeFont(kLabelFamily, pixelSize, QFont::Bold);
}

QFont FitFont(const QString& text, qreal maxWidth, qreal startPx, qreal minPx) {
  for (qreal px = startPx; px > minPx; px -= 1) {
    QFont f = FaceFont(px);
    if (QFontMetricsF(f).horizontalAdvance(text) <= maxWidth) return f;
  }
  return FaceFont(minPx);
}

QPainterPath TextPath(const QRectF& box, const QString& text, const QFont& font, int flags) {
  const QFontMetricsF m(font);
  const qreal w = m.horizontalAdvance(text);
  qreal x = box.center().x() - w / 2;
  if (flags & Qt::AlignLeft) x = box.left();
  if (flags & Qt::AlignRight) x = box.right() - w;
  qreal baseline = box.center().y() + (m.ascent() - m.descent()) / 2;
  if (flags & Qt::AlignTop) baseline = box.top() + m.ascent();
  if (flags & Qt::AlignBottom) baseline = box.bottom() - m.descent();
  QPainterPath path;
  path.addText(QPointF(x, baseline), font, text);
  return path;
}

void DrawShadowText(QPainter& p, const QRectF& box, const QString& text, const QFont& font,
                    const QColor& colour, int flags, const QColor& shadow) {
  const QPainterPath path = TextPath(box, text, font, flags);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(0, 1);
  p.fillPath(path, shadow);
  p.translate(0, -1);
  p.fillPath(path, colour);
  p.restore();
}

KeyColours ColoursOf(Family family) {
  switch (family) {
    case Family::kMenu:
      return {QColor(0xc0, 0x4c, 0xf0), QColor(0x48, 0x0c, 0x8a), QColor(0xf0, 0xc8, 0xff),
              QColor(0xff, 0x6c, 0xd8)};
    case Family::kPlayer:
      return {QColor(0x3c, 0xa8, 0xff), QColor(0x0a, 0x2e, 0x7c), QColor(0xc4, 0xea, 0xff),
              QColor(0x40, 0xe0, 0xff)};
    case Family::kSinger:
      return {QColor(0xff, 0x5c, 0x9c), QColor(0x8c, 0x0c, 0x44), QColor(0xff, 0xd0, 0xe4),
              QColor(0xff, 0x8c, 0xb8)};
    case Family::kSongType:
      return {QColor(0x24, 0xd0, 0xbc), QColor(0x06, 0x5a, 0x62), QColor(0xc8, 0xff, 0xf4),
              QColor(0x40, 0xff, 0xe0)};
    case Family::kLanguage:
      return {QColor(0xff, 0xb0, 0x3c), QColor(0x9c, 0x44, 0x04), QColor(0xff, 0xe8, 0xc0),
              QColor(0xff, 0xd0, 0x60)};
    case Family::kPage:
      return {QColor(0x78, 0x88, 0xff), QColor(0x22, 0x2a, 0x8c), QColor(0xd8, 0xdc, 0xff),
              QColor(0x90, 0xa0, 0xff)};
    case Family::kQueueTop:
      return {QColor(0x40, 0xd4, 0x74), QColor(0x0c, 0x64, 0x30), QColor(0xd0, 0xff, 0xdc),
              QColor(0x70, 0xff, 0xa0)};
    case Family::kQueueDelete:
      return {QColor(0xff, 0x5a, 0x50), QColor(0x90, 0x10, 0x10), QColor(0xff, 0xd4, 0xd0),
              QColor(0xff, 0x80, 0x70)};
    case Family::kKeypadMode:
      return {QColor(0x9c, 0x7c, 0xff), QColor(0x3a, 0x1e, 0x9c), QColor(0xe4, 0xdc, 0xff),
              QColor(0xb8, 0x9c, 0xff)};
    case Family::kDrinks:
      return {QColor(0x9c, 0xd8, 0x40), QColor(0x34, 0x6c, 0x08), QColor(0xec, 0xff, 0xc8),
              QColor(0xc8, 0xff, 0x70)};
  }
  return {Qt::gray, Qt::darkGray, Qt::white, Qt::white};
}

void DrawGlossyKey(QPainter& p, const QRectF& box, qreal radius, const KeyColours& c) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);

  // Drop shadow below the key.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0, 0, 0, 110));
  p.drawRoundedRect(box.translated(0, 1.0), radius, radius);

  // Face.
  QLinearGradient face(box.topLeft(), box.bottomLeft());
  face.setColorAt(0.0, c.top.lighter(112));
  face.setColorAt(0.48, c.top);
  face.setColorAt(0.52, c.top.darker(135));
  face.setColorAt(1.0, c.bottom);
  p.setBrush(face);
  p.setPen(QPen(c.bottom.darker(210), 1.0));
  p.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);

  // Glow from below: the key looks lit from inside.
  QRadialGradient glow(QPointF(box.center().x(), box.bottom()), box.width() * 0.55);
  QColor g = c.glow;
  g.setAlpha(120);
  glow.setColorAt(0.0, g);
  g.setAlpha(0);
  glow.setColorAt(1.0, g);
  p.setBrush(glow);
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(box.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1, radius - 1);

  // Light inner rim.
  QColor rim = c.rim;
  rim.setAlpha(150);
  QLinearGradient rimGrad(box.topLeft(), box.bottomLeft());
  rimGrad.setColorAt(0.0, rim);
  rim.setAlpha(30);
  rimGrad.setColorAt(0.6, rim);
  rim.setAlpha(90);
  rimGrad.setColorAt(1.0, rim);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QBrush(rimGrad), 1.0));
  p.drawRoundedRect(box.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1, radius - 1);

  // Gloss over the upper half.
  QRectF gloss = box.adjusted(2, 2, -2, -box.height() * 0.5);
  QPainterPath glossPath;
  glossPath.addRoundedRect(gloss, radius - 2, radius - 2);
  QLinearGradient shine(gloss.topLeft(), gloss.bottomLeft());
  shine.setColorAt(0.0, QColor(255, 255, 255, 120));
  shine.setColorAt(1.0, QColor(255, 255, 255, 18));
  p.fillPath(glossPath, shine);
  p.restore();
}

void DrawGlassPanel(QPainter& p, const QRectF& box, qreal radius, int fillAlpha) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  // Outer halo.
  for (int i = 3; i >= 1; --i) {
    p.setPen(QPen(QColor(120, 80, 255, 14 * (4 - i)), i * 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(box, radius, radius);
  }
  QLinearGradient fill(box.topLeft(), box.bottomLeft());
  fill.setColorAt(0.0, QColor(26, 16, 64, fillAlpha));
  fill.setColorAt(1.0, QColor(8, 6, 28, qMin(255, fillAlpha + 20)));
  p.setBrush(fill);
  QLinearGradient rim(box.topLeft(), box.bottomRight());
  rim.setColorAt(0.0, QColor(120, 210, 255, 200));
  rim.setColorAt(0.5, QColor(150, 110, 255, 150));
  rim.setColorAt(1.0, QColor(255, 100, 220, 200));
  p.setPen(QPen(QBrush(rim), 1.5));
  p.drawRoundedRect(box, radius, radius);
  // Thin highlight just inside the top edge.
  QLinearGradient top(box.topLeft(), box.topRight());
  top.setColorAt(0.0, QColor(255, 255, 255, 0));
  top.setColorAt(0.5, QColor(255, 255, 255, 70));
  top.setColorAt(1.0, QColor(255, 255, 255, 0));
  p.setPen(QPen(QBrush(top), 1.0));
  p.drawLine(QPointF(box.left() + radius, box.top() + 2.5),
             QPointF(box.right() - radius, box.top() + 2.5));
  // A faint diagonal sheen across the upper left, as on a glass pane.
  QPainterPath pane;
  pane.addRoundedRect(box.adjusted(2, 2, -2, -2), radius - 1, radius - 1);
  QPainterPath sheen;
  const qreal reach = qMin(box.width(), box.height()) * 0.9;
  sheen.moveTo(box.topLeft());
  sheen.lineTo(box.left() + reach, box.top());
  sheen.lineTo(box.left(), box.top() + reach);
  sheen.closeSubpath();
  QLinearGradient shine(box.topLeft(), box.topLeft() + QPointF(reach / 2, reach / 2));
  shine.setColorAt(0.0, QColor(255, 255, 255, 22));
  shine.setColorAt(1.0, QColor(255, 255, 255, 0));
  p.fillPath(pane.intersected(sheen), shine);
  p.restore();
}

void DrawGlow(QPainter& p, const QPointF& centre, qreal radius, const QColor& colour) {
  QRadialGradient g(centre, radius);
  g.setColorAt(0.0, colour);
  QColor mid = colour;
  mid.setAlphaF(colour.alphaF() * 0.35f);
  g.setColorAt(0.45, mid);
  QColor none = colour;
  none.setAlpha(0);
  g.setColorAt(1.0, none);
  p.save();
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawEllipse(centre, radius, radius);
  p.restore();
}

void DrawSparkle(QPainter& p, const QPointF& centre, qreal size, const QColor& colour) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  QColor halo = colour;
  halo.setAlpha(colour.alpha() / 3);
  DrawGlow(p, centre, size * 1.6, halo);
  QPainterPath star;
  const qreal w = size * 0.16;
  star.moveTo(centre.x(), centre.y() - size);
  star.quadTo(centre.x() + w, centre.y() - w, centre.x() + size, centre.y());
  star.quadTo(centre.x() + w, centre.y() + w, centre.x(), centre.y() + size);
  star.quadTo(centre.x() - w, centre.y() + w, centre.x() - size, centre.y());
  star.quadTo(centre.x() - w, centre.y() - w, centre.x(), centre.y() - size);
  p.fillPath(star, colour);
  p.restore();
}

QRectF ToRectF(const Rect& r) {
  return QRectF(r.x, r.y, r.w, r.h);
}

std::uint32_t Rng::Next() {
  state_ ^= state_ << 13;
  state_ ^= state_ >> 17;
  state_ ^= state_ << 5;
  return state_;
}

double Rng::Uniform(double lo, double hi) {
  return lo + (hi - lo) * (static_cast<double>(Next()) / 4294967296.0);
}

}  // namespace quor::tools
