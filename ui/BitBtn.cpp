#include "ui/BitBtn.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPen>

namespace quor::ui {

BitBtn::BitBtn(QWidget* parent) : QAbstractButton(parent) {
  setAttribute(Qt::WA_NoSystemBackground, true);
}

void BitBtn::SetGlyph(const QImage& glyph) {
  glyph_ = glyph;
  update();
}

void BitBtn::SetMargin(int margin) {
  if (margin == margin_) return;
  margin_ = margin;
  update();
}

QPoint BitBtn::GlyphOrigin() const {
  // Integer halves truncate towards zero: a 68-pixel glyph on a 67-pixel
  // button sits at 0 when centred, one pixel further right with margin 1.
  const int x = margin_ < 0 ? (width() - glyph_.width()) / 2 : margin_;
  const int y = (height() - glyph_.height()) / 2;
  return {x, y};
}

QSize BitBtn::sizeHint() const {
  return glyph_.isNull() ? QSize(67, 39) : glyph_.size();
}

void BitBtn::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (glyph_.isNull()) {
    painter.fillRect(rect(), palette().button());
    return;
  }
  // The face under a shifted glyph is the glyph itself, centred, so a shift
  // never uncovers a seam of another colour.
  const QPoint centred((width() - glyph_.width()) / 2, (height() - glyph_.height()) / 2);
  QPoint origin = GlyphOrigin();
  if (isDown()) origin += QPoint(1, 1);
  if (origin != centred) painter.drawImage(centred, glyph_);
  painter.drawImage(origin, glyph_);
  if (isDown()) painter.fillRect(rect(), QColor(0, 0, 0, 48));
  if (margin_ >= 0) {
    // The cue as a remote-control user sees it from the sofa: a light rim
    // around the button whose glyph has moved.
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QColor(255, 236, 150, 230), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
  }
}

namespace {
bool IsEnter(const QKeyEvent* event) {
  return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}
}  // namespace

void BitBtn::keyPressEvent(QKeyEvent* event) {
  if (!IsEnter(event)) {
    QAbstractButton::keyPressEvent(event);
    return;
  }
  if (!event->isAutoRepeat()) setDown(true);
  event->accept();
}

void BitBtn::keyReleaseEvent(QKeyEvent* event) {
  if (!IsEnter(event)) {
    QAbstractButton::keyReleaseEvent(event);
    return;
  }
  event->accept();
  if (event->isAutoRepeat() || !isDown()) return;
  setDown(false);
  click();
}

}  // namespace quor::ui
