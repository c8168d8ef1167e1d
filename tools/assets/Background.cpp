#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

#include "Icons.h"
#include "Paint.h"
#include "Pictures.h"

namespace quor::tools {

namespace {

void DrawStage(QPainter& p) {
  QLinearGradient sky(0, 0, 0, kWindowH);
  sky.setColorAt(0.0, QColor(0x14, 0x0a, 0x3e));
  sky.setColorAt(0.45, QColor(0x1c, 0x0c, 0x4c));
  sky.setColorAt(0.8, QColor(0x10, 0x06, 0x30));
  sky.setColorAt(1.0, QColor(0x06, 0x03, 0x16));
  p.fillRect(0, 0, kWindowW, kWindowH, sky);

  // Coloured washes: violet from the top centre, magenta from the right,
  // blue from the left, as from stage lamps behind the screen.
  DrawGlow(p, QPointF(420, -60), 560, QColor(0x7a, 0x34, 0xe0, 150));
  DrawGlow(p, QPointF(820, 260), 420, QColor(0xd0, 0x2a, 0xa8, 90));
  DrawGlow(p, QPointF(-40, 360), 380, QColor(0x24, 0x60, 0xe0, 90));
  DrawGlow(p, QPointF(400, 640), 420, QColor(0x5c, 0x20, 0xd0, 110));
}

// Light beams from spotlights above the top edge, added on the stage.
void DrawRays(QPainter& p) {
  struct Beam {
    QPointF from;
    qreal angleDeg;  // direction, 90 = straight down
    qreal spreadDeg;
    QColor colour;
  };
  const Beam beams[] = {
      {{120, -30}, 62, 9, QColor(0x50, 0xc8, 0xff, 64)},
      {{120, -30}, 80, 6, QColor(0x90, 0x70, 0xff, 48)},
      {{420, -40}, 100, 7, QColor(0xff, 0x60, 0xe0, 56)},
      {{420, -40}, 78, 5, QColor(0xa0, 0x80, 0xff, 50)},
      {{700, -30}, 118, 9, QColor(0x50, 0xc8, 0xff, 58)},
      {{700, -30}, 100, 5, QColor(0xff, 0x70, 0xd0, 44)},
  };
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setCompositionMode(QPainter::CompositionMode_Plus);
  p.setPen(Qt::NoPen);
  const qreal length = 760;
  for (const Beam& b : beams) {
    const qreal a0 = (b.angleDeg - b.spreadDeg / 2) * std::numbers::pi / 180;
    const qreal a1 = (b.angleDeg + b.spreadDeg / 2) * std::numbers::pi / 180;
    QPainterPath beam;
    beam.moveTo(b.from);
    beam.lineTo(b.from + QPointF(std::cos(a0), std::sin(a0)) * length);
    beam.lineTo(b.from + QPointF(std::cos(a1), std::sin(a1)) * length);
    beam.closeSubpath();
    QRadialGradient fade(b.from, length);
    fade.setColorAt(0.0, b.colour);
    QColor end = b.colour;
    end.setAlpha(0);
    fade.setColorAt(1.0, end);
    p.setBrush(fade);
    p.drawPath(beam);
  }
  // The lamps themselves, just showing at the top edge.
  for (const Beam& b : beams) DrawGlow(p, b.from + QPointF(0, 24), 34, QColor(255, 255, 255, 40));
  p.restore();
}

// Out-of-focus lights and sparkles. Bokeh is drawn under the panels (their
// glass dims it); sparkles only where no panel is, so text stays clean.
void DrawBokeh(QPainter& p) {
  Rng rng(20241208);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setCompositionMode(QPainter::CompositionMode_Plus);
  const QColor tints[] = {QColor(0x60, 0xb0, 0xff), QColor(0xff, 0x60, 0xd0),
                          QColor(0xa0, 0x80, 0xff), QColor(0xff, 0xd0, 0x80)};
  for (int i = 0; i < 70; ++i) {
    const QPointF c(rng.Uniform(0, kWindowW), rng.Uniform(0, kWindowH));
    const qreal r = rng.Uniform(4, 22);
    QColor t = tints[rng.Next() % 4];
    t.setAlpha(static_cast<int>(rng.Uniform(14, 40)));
    DrawGlow(p, c, r, t);
  }
  p.restore();
}

bool InsideAnyPanel(const QPointF& pt, qreal margin) {
  const Rect panels[] = {kMenuPanel, kMiddlePanel, kContentPanel, kPlayerBar};
  for (const Rect& r : panels)
    if (ToRectF(r).adjusted(-margin, -margin, margin, margin).contains(pt)) return true;
  return false;
}

void DrawSparkles(QPainter& p) {
  Rng rng(7731);
  int drawn = 0;
  for (int tries = 0; tries < 400 && drawn < 34; ++tries) {
    const QPointF c(rng.Uniform(2, kWindowW - 2), rng.Uniform(2, kWindowH - 2));
    const qreal size = rng.Uniform(1.5, 5.5);
    const int alpha = static_cast<int>(rng.Uniform(110, 230));
    if (InsideAnyPanel(c, size * 2 + 2)) continue;
    if (c.y() > 562 && c.y() < 590 && c.x() > 180 && c.x() < 620) continue;  // footer text
    DrawSparkle(p, c, size, QColor(255, 250, 255, alpha));
    ++drawn;
  }
}

// A faint record and notes in the content panel: it is not empty at start,
// yet everything stays dark enough under the white song rows.
void DrawWatermark(QPainter& p) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF c(536, 276);
  DrawGlow(p, c, 230, QColor(110, 60, 230, 34));
  // Grooves, and two light wedges across them as on a spinning record.
  p.setBrush(Qt::NoBrush);
  for (int i = 0; i < 10; ++i) {
    p.setPen(QPen(QColor(150, 120, 255, 15 + (i % 3) * 5), 1.2));
    p.drawEllipse(c, 58.0 + i * 13, 58.0 + i * 13);
  }
  QPainterPath disc;
  disc.addEllipse(c, 178, 178);
  QPainterPath hole;
  hole.addEllipse(c, 44, 44);
  disc = disc.subtracted(hole);
  for (int side = 0; side < 2; ++side) {
    QPainterPath wedge;
    wedge.moveTo(c);
    wedge.arcTo(QRectF(c.x() - 190, c.y() - 190, 380, 380), 30 + side * 180, 28);
    wedge.closeSubpath();
    p.fillPath(disc.intersected(wedge), QColor(200, 170, 255, 12));
  }
  p.setPen(QPen(QColor(150, 120, 255, 40), 1.2));
  p.setBrush(QColor(120, 70, 230, 30));
  p.drawEllipse(c, 44, 44);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(6, 4, 20, 160));
  p.drawEllipse(c, 5, 5);
  QFont f = FaceFont(12, QFont::Black);
  f.setItalic(true);
  p.fillPath(TextPath(QRectF(c.x() - 40, c.y() - 26, 80, 16), QStringLiteral("QuorKTV"), f),
             QColor(255, 210, 140, 46));
  DrawIcon(p, Icon::kNote, QRectF(360, 360, 54, 54), QColor(160, 120, 255, 30));
  DrawIcon(p, Icon::kNote, QRectF(680, 130, 40, 40), QColor(255, 120, 220, 28));
  p.restore();
}

void DrawBrand(QPainter& p) {
  const QRectF title(kMenuPanel.x, kMenuPanel.y + 8, kMenuPanel.w, 34);
  QFont f = FaceFont(23, QFont::Black);
  f.setItalic(true);
  f.setLetterSpacing(QFont::AbsoluteSpacing, 0.5);
  const QString brand = QStringLiteral("QuorKTV");
  const qreal textW = QFontMetricsF(f).horizontalAdvance(brand);
  const qreal iconW = 22;
  const qreal left = title.center().x() - (textW + iconW + 4) / 2;
  DrawIcon(p, Icon::kChannel, QRectF(left, title.top() + 6, iconW, iconW), QColor(255, 214, 120));

  QPainterPath text;
  text.addText(QPointF(left + iconW + 4, title.top() + 27), f, brand);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(0, 1.5);
  p.fillPath(text, QColor(0, 0, 0, 150));
  p.translate(0, -1.5);
  QLinearGradient gold(0, title.top() + 6, 0, title.top() + 30);
  gold.setColorAt(0.0, QColor(255, 246, 200));
  gold.setColorAt(0.5, QColor(255, 200, 90));
  gold.setColorAt(1.0, QColor(255, 120, 200));
  p.fillPath(text, gold);
  p.restore();

  const QRectF sub(kMenuPanel.x, title.bottom() - 1, kMenuPanel.w, 14);
  QFont s = FaceFont(11, QFont::Medium);
  s.setLetterSpacing(QFont::AbsoluteSpacing, 3);
  DrawShadowText(p, sub, QStringLiteral("视频点播系统"), s, QColor(200, 190, 255, 220));
}

void DrawContentPanel(QPainter& p) {
  const QRectF box = ToRectF(kContentPanel);
  DrawGlassPanel(p, box, 16, 205);
  // The header strip behind the status line: lighter glass with a glowing
  // separator under it.
  QPainterPath header;
  header.addRoundedRect(box.adjusted(3, 3, -3, 0), 13, 13);
  QPainterPath cut;
  cut.addRect(QRectF(box.left(), box.top(), box.width(), kContentHeaderBottom - box.top()));
  header = header.intersected(cut);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient glass(0, box.top(), 0, kContentHeaderBottom);
  glass.setColorAt(0.0, QColor(120, 100, 255, 80));
  glass.setColorAt(0.5, QColor(70, 40, 170, 70));
  glass.setColorAt(1.0, QColor(40, 20, 110, 90));
  p.fillPath(header, glass);
  QLinearGradient line(box.left(), 0, box.right(), 0);
  line.setColorAt(0.0, QColor(80, 200, 255, 0));
  line.setColorAt(0.3, QColor(80, 200, 255, 200));
  line.setColorAt(0.7, QColor(255, 90, 220, 200));
  line.setColorAt(1.0, QColor(255, 90, 220, 0));
  p.setPen(QPen(QBrush(line), 1.2));
  p.drawLine(QPointF(box.left() + 6, kContentHeaderBottom + 0.5),
             QPointF(box.right() - 6, kContentHeaderBottom + 0.5));
  p.restore();
  // Small equaliser bars and a note at the strip's ends.
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  const qreal heights[] = {8, 14, 10, 17, 7};
  for (int i = 0; i < 5; ++i) {
    QLinearGradient bar(0, 40, 0, 40 - heights[i]);
    bar.setColorAt(0.0, QColor(80, 210, 255, 200));
    bar.setColorAt(1.0, QColor(255, 110, 230, 220));
    p.fillRect(QRectF(742 + i * 6, 41 - heights[i], 4, heights[i]), bar);
  }
  p.restore();
  DrawIcon(p, Icon::kNote, QRectF(700, 23, 18, 18), QColor(255, 214, 120, 220));
}

void DrawPlayerBar(QPainter& p) {
  const QRectF bar = ToRectF(kPlayerBar);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  DrawGlow(p, QPointF(bar.center().x(), bar.bottom() + 10), 420, QColor(120, 60, 255, 90));
  DrawGlassPanel(p, bar, 20, 215);
  // A recessed track the keys sit in.
  QLinearGradient track(0, bar.top() + 6, 0, bar.bottom() - 6);
  track.setColorAt(0.0, QColor(0, 0, 0, 110));
  track.setColorAt(1.0, QColor(40, 30, 90, 90));
  p.setPen(QPen(QColor(255, 255, 255, 26), 1));
  p.setBrush(track);
  p.drawRoundedRect(bar.adjusted(12, 6, -12, -6), 14, 14);
  // Indicator lamps at both ends of the bar, left of the first key and right
  // of the last one.
  for (int i = 0; i < 3; ++i) {
    const qreal y = bar.center().y() - 9 + i * 9;
    const QColor lamp = i == 1 ? QColor(255, 120, 220, 230) : QColor(90, 210, 255, 230);
    for (qreal x : {bar.left() + 13.5, bar.right() - 13.5}) {
      DrawGlow(p, QPointF(x, y), 6, lamp);
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(255, 255, 255, 220));
      p.drawEllipse(QPointF(x, y), 1.3, 1.3);
    }
  }
  p.restore();
}

void DrawFooter(QPainter& p) {
  QFont f = FaceFont(10, QFont::Medium);
  f.setLetterSpacing(QFont::AbsoluteSpacing, 2);
  DrawShadowText(p, QRectF(0, 567, kWindowW, 16),
                 QStringLiteral("QuorKTV 视频点播系统  ·  欢乐欢唱  尽情K歌"), f,
                 QColor(180, 170, 240, 170));
}

}  // namespace

QImage DrawBackground() {
  QImage img(kWindowW, kWindowH, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  DrawStage(p);
  DrawRays(p);
  DrawBokeh(p);
  DrawGlassPanel(p, ToRectF(kMenuPanel), 16, 190);
  DrawBrand(p);
  DrawGlassPanel(p, ToRectF(kMiddlePanel), 12, 190);
  DrawContentPanel(p);
  DrawWatermark(p);
  DrawPlayerBar(p);
  DrawSparkles(p);
  DrawFooter(p);
  p.end();
  return img;
}

}  // namespace quor::tools
