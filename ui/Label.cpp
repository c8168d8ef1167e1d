#include "ui/Label.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include "platform/Codepage.h"

namespace quor::ui {

QColor ColourOf(std::uint32_t value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

Label::Label(QWidget* parent) : QLabel(parent) {
  setAttribute(Qt::WA_TranslucentBackground, true);
  setAutoFillBackground(false);
  SetFontColour(0);
}

void Label::SetFontColour(std::uint32_t value) {
  fontColour_ = value;
  QPalette p = palette();
  p.setColor(QPalette::WindowText, ColourOf(value));
  setPalette(p);
}

void Label::SetGbkText(std::string gbk) {
  gbk_ = std::move(gbk);
  setText(QString::fromStdU16String(platform::GbkToUtf16(gbk_)));
}

void Label::paintEvent(QPaintEvent*) {
  if (text().isEmpty()) return;
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  const QFontMetricsF metrics(font());
  const qreal em = font().pixelSize() > 0 ? font().pixelSize() : metrics.height();
  // A Song face's ascent is 7/8 of its em; the baseline sits there.
  const qreal baseline = em * 0.875;
  QString shown = text();
  if (elide_ && metrics.horizontalAdvance(shown) > width())
    shown = metrics.elidedText(shown, Qt::ElideRight, width());
  const qreal advance = metrics.horizontalAdvance(shown);
  qreal x = 0;
  if (alignment() & Qt::AlignHCenter)
    x = (width() - advance) / 2;
  else if (alignment() & Qt::AlignRight)
    x = width() - advance;
  painter.drawText(QPointF(x, baseline), shown);
}

// A click is a press and a release of the left button over the label.
void Label::mousePressEvent(QMouseEvent* event) {
  pressed_ = event->button() == Qt::LeftButton;
  event->accept();
}

void Label::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton && rect().contains(event->pos());
  pressed_ = false;
  event->accept();
  if (click) emit clicked();
}

}  // namespace quor::ui
