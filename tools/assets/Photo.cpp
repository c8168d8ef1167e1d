#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "Paint.h"
#include "Pictures.h"

namespace quor::tools {

QImage DrawNoPhoto() {
  QImage img(kPhotoW, kPhotoH, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient back(0, 0, 0, kPhotoH);
  back.setColorAt(0.0, QColor(0x5a, 0x5c, 0x8c));
  back.setColorAt(1.0, QColor(0x26, 0x26, 0x4a));
  p.fillRect(img.rect(), back);
  DrawGlow(p, QPointF(kPhotoW / 2.0, 52), 70, QColor(255, 255, 255, 50));

  // Head and shoulders, cut off by the bottom of the portrait area.
  const qreal cx = kPhotoW / 2.0;
  QPainterPath figure;
  figure.addEllipse(QPointF(cx, 52), 20, 23);
  QPainterPath body;
  body.moveTo(cx - 44, 124);
  body.cubicTo(cx - 44, 88, cx - 22, 80, cx, 80);
  body.cubicTo(cx + 22, 80, cx + 44, 88, cx + 44, 124);
  body.closeSubpath();
  figure.addPath(body);
  QLinearGradient fig(0, 26, 0, 124);
  fig.setColorAt(0.0, QColor(0xc8, 0xcc, 0xe8));
  fig.setColorAt(1.0, QColor(0x8a, 0x8e, 0xb8));
  p.fillPath(figure, fig);

  // Caption band.
  p.fillRect(QRectF(0, 124, kPhotoW, kPhotoH - 124), QColor(0x16, 0x14, 0x34));
  p.setPen(QPen(QColor(255, 255, 255, 50), 1));
  p.drawLine(QPointF(0, 124.5), QPointF(kPhotoW, 124.5));
  DrawShadowText(p, QRectF(0, 125, kPhotoW, kPhotoH - 126), QStringLiteral("暂无照片"),
                 FaceFont(15), QColor(0xe8, 0xe8, 0xf8));

  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(255, 255, 255, 70), 1));
  p.drawRect(QRectF(0.5, 0.5, kPhotoW - 1, kPhotoH - 1));
  p.end();
  return img;
}

}  // namespace quor::tools
