#include "Pictures.h"

#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace quor::tools::demo {
namespace {

QFont CjkFont(int pixelSize, bool bold) {
  QFont f(QStringLiteral("Noto Sans CJK SC"));
  f.setPixelSize(pixelSize);
  f.setBold(bold);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

void Figure(QPainter& p, qreal cx, qreal headY, qreal scale, const QColor& top,
            const QColor& bottom) {
  QPainterPath path;
  path.addEllipse(QPointF(cx, headY), 18 * scale, 21 * scale);
  QPainterPath body;
  const qreal shoulders = headY + 27 * scale;
  body.moveTo(cx - 40 * scale, shoulders + 44 * scale);
  body.cubicTo(cx - 40 * scale, shoulders + 8 * scale, cx - 20 * scale, shoulders, cx, shoulders);
  body.cubicTo(cx + 20 * scale, shoulders, cx + 40 * scale, shoulders + 8 * scale, cx + 40 * scale,
               shoulders + 44 * scale);
  body.closeSubpath();
  path.addPath(body);
  QLinearGradient g(0, headY - 21 * scale, 0, shoulders + 44 * scale);
  g.setColorAt(0, top);
  g.setColorAt(1, bottom);
  p.fillPath(path, g);
}

}  // namespace

QImage DrawSingerPhoto(const QString& name, const QString& sex, int index) {
  QImage img(kPhotoWidth, kPhotoHeight, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  // Hue by category, shifted a little per singer so that pages look varied.
  const int base = sex == QStringLiteral("男") ? 215 : sex == QStringLiteral("女") ? 335 : 140;
  const int hue = (base + (index * 23) % 50 - 25 + 360) % 360;
  QLinearGradient back(0, 0, 0, kPhotoHeight);
  back.setColorAt(0, QColor::fromHsv(hue, 120, 210));
  back.setColorAt(1, QColor::fromHsv(hue, 200, 90));
  p.fillRect(img.rect(), back);
  const QColor light = QColor::fromHsv(hue, 40, 245);
  const QColor dark = QColor::fromHsv(hue, 90, 170);
  if (sex == QStringLiteral("组合")) {
    Figure(p, 30, 58, 0.7, light, dark);
    Figure(p, 83, 58, 0.7, light, dark);
    Figure(p, 56.5, 48, 0.85, light.lighter(110), dark);
  } else {
    Figure(p, kPhotoWidth / 2.0, 50, 1.0, light, dark);
  }
  const QRectF band(0, 124, kPhotoWidth, kPhotoHeight - 124);
  p.fillRect(band, QColor(20, 18, 40, 220));
  QFont font = CjkFont(15, true);
  while (font.pixelSize() > 9 && QFontMetrics(font).horizontalAdvance(name) > kPhotoWidth - 6)
    font.setPixelSize(font.pixelSize() - 1);
  p.setFont(font);
  p.setPen(QColor(240, 240, 250));
  p.drawText(band, Qt::AlignCenter, name);
  p.setPen(QPen(QColor(255, 255, 255, 80), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(0.5, 0.5, kPhotoWidth - 1, kPhotoHeight - 1));
  p.end();
  return img;
}

QImage DrawTitleCard(const QString& title, const QString& line, unsigned fromRgb, unsigned toRgb) {
  QImage img(320, 240, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient back(0, 0, 320, 240);
  back.setColorAt(0, QColor::fromRgb(fromRgb));
  back.setColorAt(1, QColor::fromRgb(toRgb));
  p.fillRect(img.rect(), back);
  p.setPen(QColor(255, 255, 255));
  p.setFont(CjkFont(26, true));
  p.drawText(QRectF(0, 60, 320, 60), Qt::AlignCenter, title);
  p.setFont(CjkFont(15, false));
  p.setPen(QColor(220, 220, 240));
  p.drawText(QRectF(0, 130, 320, 40), Qt::AlignCenter, line);
  p.end();
  return img;
}

}  // namespace quor::tools::demo
