#include "Icons.h"

#include "Paint.h"

#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <numbers>

namespace quor::tools {

namespace {

// Every icon is drawn on a 24x24 grid; Begin maps that grid onto the box.
void Begin(QPainter& p, const QRectF& box) {
  const qreal side = qMin(box.width(), box.height());
  p.translate(box.center().x() - side / 2, box.center().y() - side / 2);
  p.scale(side / 24.0, side / 24.0);
}

QPolygonF Triangle(qreal x, qreal y, qreal w, qreal h, bool right) {
  if (right) return QPolygonF({QPointF(x, y), QPointF(x + w, y + h / 2), QPointF(x, y + h)});
  return QPolygonF({QPointF(x + w, y), QPointF(x, y + h / 2), QPointF(x + w, y + h)});
}

QPainterPath Star(QPointF c, qreal outer, qreal inner) {
  QPainterPath path;
  for (int i = 0; i < 10; ++i) {
    const qreal r = (i % 2 == 0) ? outer : inner;
    const qreal a = -std::numbers::pi / 2 + i * std::numbers::pi / 5;
    const QPointF pt(c.x() + r * std::cos(a), c.y() + r * std::sin(a));
    if (i == 0)
      path.moveTo(pt);
    else
      path.lineTo(pt);
  }
  path.closeSubpath();
  return path;
}

QPainterPath Speaker() {
  QPainterPath path;
  path.moveTo(3, 9);
  path.lineTo(7, 9);
  path.lineTo(12, 4.5);
  path.lineTo(12, 19.5);
  path.lineTo(7, 15);
  path.lineTo(3, 15);
  path.closeSubpath();
  return path;
}

void Shape(QPainter& p, Icon icon, const QColor& c) {
  const QPen thick(c, 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  const QPen thin(c, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  p.setBrush(c);
  p.setPen(Qt::NoPen);
  switch (icon) {
    case Icon::kNone:
      return;
    case Icon::kStar:
      p.drawPath(Star(QPointF(12, 12.8), 11, 4.6));
      return;
    case Icon::kGrid:
      for (int i = 0; i < 4; ++i)
        p.drawRoundedRect(QRectF(2.5 + (i % 2) * 10.5, 2.5 + (i / 2) * 10.5, 8.5, 8.5), 2, 2);
      return;
    case Icon::kGlobe:
      p.setBrush(Qt::NoBrush);
      p.setPen(thin);
      p.drawEllipse(QPointF(12, 12), 10, 10);
      p.drawEllipse(QPointF(12, 12), 4.5, 10);
      p.drawLine(QPointF(2, 12), QPointF(22, 12));
      p.drawLine(QPointF(4, 6.5), QPointF(20, 6.5));
      p.drawLine(QPointF(4, 17.5), QPointF(20, 17.5));
      return;
    case Icon::kKeypad:
      for (int i = 0; i < 9; ++i)
        p.drawRoundedRect(QRectF(2.5 + (i % 3) * 7, 2.5 + (i / 3) * 7, 5.5, 5.5), 1.3, 1.3);
      return;
    case Icon::kBell: {
      QPainterPath bell;
      bell.moveTo(12, 2.5);
      bell.cubicTo(5.5, 2.5, 5.5, 9, 5.5, 12);
      bell.lineTo(5.5, 15.5);
      bell.lineTo(3, 18.5);
      bell.lineTo(21, 18.5);
      bell.lineTo(18.5, 15.5);
      bell.lineTo(18.5, 12);
      bell.cubicTo(18.5, 9, 18.5, 2.5, 12, 2.5);
      p.drawPath(bell);
      p.drawEllipse(QPointF(12, 20.5), 2.6, 2.6);
      return;
    }
    case Icon::kList:
      for (int i = 0; i < 3; ++i) {
        p.drawEllipse(QPointF(4, 5 + i * 6.5), 1.9, 1.9);
        p.drawRoundedRect(QRectF(8, 3.6 + i * 6.5, 10, 2.8), 1.2, 1.2);
      }
      p.setPen(thin);
      p.drawLine(QPointF(21.5, 12), QPointF(21.5, 22));
      p.drawLine(QPointF(21.5, 12), QPointF(23.5, 13.5));
      p.setPen(Qt::NoPen);
      p.drawEllipse(QPointF(19.3, 21.5), 2.4, 2);
      return;
    case Icon::kPlay:
      p.drawPolygon(Triangle(6, 3, 15, 18, true));
      return;
    case Icon::kPause:
      p.drawRoundedRect(QRectF(5, 3.5, 5, 17), 1.3, 1.3);
      p.drawRoundedRect(QRectF(14, 3.5, 5, 17), 1.3, 1.3);
      return;
    case Icon::kNextSong:
      p.drawPolygon(Triangle(3.5, 4, 12.5, 16, true));
      p.drawRoundedRect(QRectF(16.5, 4, 4, 16), 1, 1);
      return;
    case Icon::kForward:
      p.drawPolygon(Triangle(2, 5, 10, 14, true));
      p.drawPolygon(Triangle(12, 5, 10, 14, true));
      return;
    case Icon::kBackward:
      p.drawPolygon(Triangle(2, 5, 10, 14, false));
      p.drawPolygon(Triangle(12, 5, 10, 14, false));
      return;
    case Icon::kChannel:
    case Icon::kNote: {
      // Microphone for the channel key, a double note otherwise.
      if (icon == Icon::kChannel) {
        p.drawRoundedRect(QRectF(8, 1.5, 8, 13), 4, 4);
        p.setBrush(Qt::NoBrush);
        p.setPen(thin);
        QPainterPath cup;
        cup.moveTo(5, 10);
        cup.cubicTo(5, 19, 19, 19, 19, 10);
        p.drawPath(cup);
        p.drawLine(QPointF(12, 17.5), QPointF(12, 21.5));
        p.drawLine(QPointF(8, 22), QPointF(16, 22));
        return;
      }
      p.drawEllipse(QPointF(6.5, 18.5), 3.4, 2.8);
      p.drawEllipse(QPointF(17.5, 16.5), 3.4, 2.8);
      p.setPen(thick);
      p.drawLine(QPointF(9.4, 18), QPointF(9.4, 5));
      p.drawLine(QPointF(20.4, 16), QPointF(20.4, 3));
      p.drawLine(QPointF(9.4, 5), QPointF(20.4, 3));
      return;
    }
    case Icon::kVolumeUp:
    case Icon::kVolumeDown:
      // Speaker with sound waves: two for louder, one for softer.
      p.drawPath(Speaker());
      p.setBrush(Qt::NoBrush);
      p.setPen(thin);
      p.drawArc(QRectF(9, 7, 10, 10), -50 * 16, 100 * 16);
      if (icon == Icon::kVolumeUp) p.drawArc(QRectF(7, 3, 18, 18), -50 * 16, 100 * 16);
      return;
    case Icon::kPagePrev:
      p.drawPolygon(Triangle(5, 3, 13, 18, false));
      return;
    case Icon::kPageNext:
      p.drawPolygon(Triangle(6, 3, 13, 18, true));
      return;
    case Icon::kToTop:
      p.drawRoundedRect(QRectF(3, 2.5, 18, 3), 1.2, 1.2);
      p.drawPolygon(QPolygonF({QPointF(12, 7), QPointF(20.5, 15), QPointF(15, 15), QPointF(15, 22),
                               QPointF(9, 22), QPointF(9, 15), QPointF(3.5, 15)}));
      return;
    case Icon::kDelete:
      p.setBrush(Qt::NoBrush);
      p.setPen(QPen(c, 3.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(5, 5), QPointF(19, 19));
      p.drawLine(QPointF(19, 5), QPointF(5, 19));
      return;
    case Icon::kLetters:
    case Icon::kDigits: {
      p.setBrush(Qt::NoBrush);
      p.setPen(thin);
      p.drawRoundedRect(QRectF(1.5, 3, 21, 18), 3.5, 3.5);
      p.setPen(Qt::NoPen);
      p.fillPath(TextPath(QRectF(1.5, 3, 21, 17.5),
                          icon == Icon::kLetters ? QStringLiteral("Aa") : QStringLiteral("123"),
                          FaceFont(icon == Icon::kLetters ? 12 : 11, QFont::Black)),
                 c);
      return;
    }
    case Icon::kBeer:
      p.drawRoundedRect(QRectF(4, 6, 12, 16), 1.5, 1.5);
      p.setBrush(Qt::NoBrush);
      p.setPen(thin);
      p.drawRoundedRect(QRectF(15.5, 9, 5, 8), 2.5, 2.5);
      p.setPen(Qt::NoPen);
      p.setBrush(c.lighter(140));
      p.drawEllipse(QPointF(6.5, 5.5), 3, 2.6);
      p.drawEllipse(QPointF(11, 4.5), 3.4, 2.8);
      p.drawEllipse(QPointF(14, 6), 2.6, 2.3);
      return;
    case Icon::kGlass: {
      QPainterPath cup;
      cup.moveTo(4, 3);
      cup.lineTo(20, 3);
      cup.cubicTo(20, 10, 16, 13, 12, 13);
      cup.cubicTo(8, 13, 4, 10, 4, 3);
      p.drawPath(cup);
      p.drawRect(QRectF(11, 12, 2, 8));
      p.drawRoundedRect(QRectF(6.5, 19.5, 11, 2.5), 1.2, 1.2);
      return;
    }
    case Icon::kCup:
      p.drawPolygon(QPolygonF({QPointF(5, 7), QPointF(19, 7), QPointF(17, 22), QPointF(7, 22)}));
      p.setPen(thick);
      p.drawLine(QPointF(13, 7), QPointF(16, 1.5));
      p.drawLine(QPointF(16, 1.5), QPointF(19.5, 1.5));
      return;
    case Icon::kSnack: {
      QPainterPath bowl;
      bowl.moveTo(2, 11);
      bowl.lineTo(22, 11);
      bowl.cubicTo(22, 18, 17, 21, 12, 21);
      bowl.cubicTo(7, 21, 2, 18, 2, 11);
      p.drawPath(bowl);
      p.drawEllipse(QPointF(7, 9), 3, 2.6);
      p.drawEllipse(QPointF(12, 7.5), 3.2, 2.8);
      p.drawEllipse(QPointF(17, 9), 3, 2.6);
      return;
    }
    case Icon::kFruit:
      p.drawEllipse(QPointF(12, 14), 8.5, 8);
      p.setPen(thin);
      p.drawLine(QPointF(12, 7), QPointF(13.5, 2));
      p.setPen(Qt::NoPen);
      p.setBrush(c.lighter(130));
      p.drawEllipse(QPointF(17, 4), 3.4, 1.8);
      return;
  }
}

}  // namespace

void DrawIcon(QPainter& p, Icon icon, const QRectF& box, const QColor& colour) {
  if (icon == Icon::kNone) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  Begin(p, box);
  p.save();
  p.translate(0, 0.9);
  Shape(p, icon, QColor(0, 0, 0, 120));
  p.restore();
  Shape(p, icon, colour);
  p.restore();
}

void DrawBackspace(QPainter& p, const QRectF& box, const QColor& colour) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  Begin(p, box);
  QPainterPath key;
  key.moveTo(1.5, 12);
  key.lineTo(8, 4.5);
  key.lineTo(22, 4.5);
  key.lineTo(22, 19.5);
  key.lineTo(8, 19.5);
  key.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPath(key);
  p.setPen(QPen(QColor(0, 0, 0, 200), 2.2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(11, 8.5), QPointF(18, 15.5));
  p.drawLine(QPointF(18, 8.5), QPointF(11, 15.5));
  p.restore();
}

void DrawMagnifier(QPainter& p, const QRectF& box, const QColor& colour) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  Begin(p, box);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(colour, 3.0));
  p.drawEllipse(QPointF(10, 10), 6.5, 6.5);
  p.setPen(QPen(colour, 4.0, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(15, 15), QPointF(21, 21));
  p.restore();
}

void DrawRightArrow(QPainter& p, const QRectF& box, const QColor& colour) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  Begin(p, box);
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawPolygon(QPolygonF({QPointF(2, 9), QPointF(13, 9), QPointF(13, 3.5), QPointF(22.5, 12),
                           QPointF(13, 20.5), QPointF(13, 15), QPointF(2, 15)}));
  p.restore();
}

}  // namespace quor::tools
