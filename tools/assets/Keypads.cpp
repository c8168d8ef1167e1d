#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "Icons.h"
#include "Paint.h"
#include "Pictures.h"

namespace quor::tools {

namespace {

const KeyColours kKeyColours{QColor(0x6a, 0x74, 0xe8), QColor(0x1c, 0x1c, 0x64),
                             QColor(0xe0, 0xe4, 0xff), QColor(0x80, 0xc8, 0xff)};
const KeyColours kDeleteColours{QColor(0xff, 0x62, 0x5a), QColor(0x86, 0x0e, 0x12),
                                QColor(0xff, 0xd8, 0xd4), QColor(0xff, 0x90, 0x80)};
const KeyColours kSearchColours{QColor(0x3c, 0xd8, 0x7a), QColor(0x0a, 0x62, 0x2e),
                                QColor(0xd4, 0xff, 0xe0), QColor(0x80, 0xff, 0xb0)};

// The pad's body: a dark brushed plate with a bright rim and a recess behind
// the input row.
QImage Plate() {
  QImage img(kPadW, kPadH, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient body(0, 0, 0, kPadH);
  body.setColorAt(0.0, QColor(0x2a, 0x1e, 0x62));
  body.setColorAt(0.55, QColor(0x16, 0x10, 0x3c));
  body.setColorAt(1.0, QColor(0x0c, 0x08, 0x24));
  p.fillRect(img.rect(), body);
  DrawGlow(p, QPointF(kPadW / 2.0, -20), 150, QColor(0x90, 0x60, 0xff, 70));
  QLinearGradient rim(0, 0, kPadW, kPadH);
  rim.setColorAt(0.0, QColor(120, 210, 255, 220));
  rim.setColorAt(1.0, QColor(255, 100, 220, 220));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QBrush(rim), 1.5));
  p.drawRoundedRect(QRectF(0.75, 0.75, kPadW - 1.5, kPadH - 1.5), 8, 8);
  // Input row recess.
  p.setPen(QPen(QColor(255, 255, 255, 30), 1));
  p.setBrush(QColor(0, 0, 0, 70));
  p.drawRoundedRect(QRectF(5.5, 108.5, kPadW - 11, 37), 7, 7);
  p.end();
  return img;
}

void Key(QPainter& p, const Rect& r, const KeyColours& colours) {
  DrawGlossyKey(p, ToRectF(r).adjusted(0.5, 0.5, -0.5, -1.0), 7, colours);
}

// The framed box the black edit box lies in: a glowing frame two pixels
// outside the edit box, black inside.
void InputBox(QPainter& p, const Rect& edit) {
  const QRectF inner = ToRectF(edit);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(80, 200, 255, 70), 3));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(inner.adjusted(-2.5, -2.5, 2.5, 2.5), 5, 5);
  p.setPen(QPen(QColor(150, 225, 255), 1.2));
  p.setBrush(Qt::black);
  p.drawRoundedRect(inner.adjusted(-1.5, -1.5, 1.5, 1.5), 4, 4);
  p.restore();
}

void Caption(QPainter& p, const QRectF& box, const QString& text) {
  QFont f = FitFont(text, box.width(), 19, 10);
  p.save();
  QLinearGradient gold(0, box.top(), 0, box.bottom());
  gold.setColorAt(0.0, QColor(255, 240, 190));
  gold.setColorAt(1.0, QColor(255, 170, 70));
  QPainterPath path;
  const QFontMetricsF m(f);
  const qreal w = m.horizontalAdvance(text);
  path.addText(QPointF(box.center().x() - w / 2, box.center().y() + (m.ascent() - m.descent()) / 2),
               f, text);
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(0, 1);
  p.fillPath(path, QColor(0, 0, 0, 170));
  p.translate(0, -1);
  p.fillPath(path, gold);
  p.restore();
}

QString Digit(int key) {
  return QString::number((key + 1) % 10);
}

}  // namespace

QImage DrawNumberPad() {
  QImage img = Plate();
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 10; ++i) {
    Key(p, kPadKeys[i], kKeyColours);
    DrawShadowText(p, ToRectF(kPadKeys[i]).adjusted(0, -1, 0, -1), Digit(i), FaceFont(23),
                   Qt::white);
  }
  Caption(p, QRectF(12, 114, 82, 27), QStringLiteral("编号"));
  InputBox(p, kPadNumEdit);
  Key(p, kPadDelNum, kDeleteColours);
  DrawBackspace(p, ToRectF(kPadDelNum).adjusted(3, 3, -3, -4), Qt::white);
  p.end();
  return img;
}

QImage DrawLetterPad() {
  static constexpr const char* kLetters[10] = {"ABC", "DEF", "GHI", "JKL", "MNO",
                                               "PQR", "STU", "VWX", "YZ",  ""};
  QImage img = Plate();
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  for (int i = 0; i < 10; ++i) {
    const QRectF key = ToRectF(kPadKeys[i]);
    Key(p, kPadKeys[i], kKeyColours);
    DrawShadowText(p, key.adjusted(4, 1, 0, 0), Digit(i), FaceFont(10), QColor(200, 220, 255),
                   Qt::AlignLeft | Qt::AlignTop);
    if (i == 9) {
      DrawRightArrow(p, key.adjusted(9, 11, -7, -7), QColor(255, 220, 120));
      continue;
    }
    const QString letters = QString::fromLatin1(kLetters[i]);
    DrawShadowText(p, key.adjusted(1, 10, -1, -2), letters, FitFont(letters, 31, 14, 8), Qt::white);
  }
  Caption(p, QRectF(6, 114, 46, 27), QStringLiteral("拼音"));
  InputBox(p, kPadLetterEdit);
  Key(p, kPadDelLetter, kDeleteColours);
  DrawBackspace(p, ToRectF(kPadDelLetter).adjusted(3, 3, -3, -4), Qt::white);
  Key(p, kPadDelNum, kSearchColours);
  DrawMagnifier(p, ToRectF(kPadDelNum).adjusted(4, 4, -4, -5), Qt::white);
  p.end();
  return img;
}

}  // namespace quor::tools
