// Drawing helpers shared by every picture: fonts, glass panels, glossy keys,
// shadowed text and a small deterministic random source.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <cstdint>

#include "Layout.h"

namespace quor::tools {

// The face font of every picture (bold Chinese sans serif).
inline constexpr char kFaceFamily[] = "Noto Sans CJK SC";
// The song-style font the window maps its "宋体" labels to; the preview uses it.
inline constexpr char kLabelFamily[] = "Noto Serif CJK SC";

QFont FaceFont(qreal pixelSize, QFont::Weight weight = QFont::Bold);
QFont LabelFont(qreal pixelSize);

// The largest face font from startPx down to minPx whose text fits maxWidth.
QFont FitFont(const QString& text, qreal maxWidth, qreal startPx, qreal minPx);

// The outline of text placed in box by the alignment flags (left, right,
// top, bottom, centre). Text is always filled as a path: rasterised glyph
// caches depend on what was drawn before, which would make the pictures'
// bytes depend on drawing order.
QPainterPath TextPath(const QRectF& box, const QString& text, const QFont& font,
                      int flags = Qt::AlignCenter);

// Text with a one-pixel dark drop shadow, so it reads on light and dark faces.
void DrawShadowText(QPainter& p, const QRectF& box, const QString& text, const QFont& font,
                    const QColor& colour, int flags = Qt::AlignCenter,
                    const QColor& shadow = QColor(0, 0, 0, 170));

// Colours of one glossy key: the face runs from top to bottom; rim is the thin
// light edge; glow tints the lower half.
struct KeyColours {
  QColor top;
  QColor bottom;
  QColor rim;
  QColor glow;
};

KeyColours ColoursOf(Family family);

// A glossy rounded key: drop shadow, gradient face, dark outline, light inner
// rim, a highlight over the upper half and a soft glow under it.
void DrawGlossyKey(QPainter& p, const QRectF& box, qreal radius, const KeyColours& c);

// A dark translucent panel with a two-tone glowing rim.
void DrawGlassPanel(QPainter& p, const QRectF& box, qreal radius, int fillAlpha);

// A soft round glow (bokeh, spotlights).
void DrawGlow(QPainter& p, const QPointF& centre, qreal radius, const QColor& colour);

// A four-pointed sparkle with a glow around it.
void DrawSparkle(QPainter& p, const QPointF& centre, qreal size, const QColor& colour);

QRectF ToRectF(const Rect& r);

// Deterministic pseudo-random numbers (a 32-bit xorshift): the pictures must
// be the same bytes on every run and every machine.
class Rng {
 public:
  explicit Rng(std::uint32_t seed) : state_(seed ? seed : 0x9E3779B9u) {}
  std::uint32_t Next();
  // Uniform in [lo, hi).
  double Uniform(double lo, double hi);

 private:
  std::uint32_t state_;
};

}  // namespace quor::tools
