#include "ui/BitBtn.h"

#include <QPainter>

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

QSize BitBtn::sizeHint() const { return glyph_.isNull() ? QSize(67, 39) : glyph_.size(); }

void BitBtn::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().button());
  if (glyph_.isNull()) return;
  QPoint origin = GlyphOrigin();
  if (isDown()) origin += QPoint(1, 1);
  painter.drawImage(origin, glyph_);
  if (isDown()) painter.fillRect(rect(), QColor(0, 0, 0, 48));
}

}  // namespace quor::ui
