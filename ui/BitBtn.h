#pragma once
// A picture button: its face is its glyph (a bitmap), drawn with a margin
// from the left edge: -1 centres the glyph, n >= 0 puts it n pixels from the
// left (vertically it is always centred). The focus cue moves the margin
// between -1 and 1, so the focused button's picture shifts. While pressed the
// glyph moves one pixel down and right, as push buttons always have. A button
// whose margin is not -1 (the focus cue is on) also shows a light rim.
// Enter clicks a focused button, as Space does: the room's remote has no
// Space key, and its Affirm key presses Enter on the focused button.
// GUI thread only.

#include <QAbstractButton>
#include <QImage>

namespace quor::ui {

class BitBtn : public QAbstractButton {
  Q_OBJECT
 public:
  explicit BitBtn(QWidget* parent = nullptr);

  void SetGlyph(const QImage& glyph);
  const QImage& Glyph() const { return glyph_; }

  void SetMargin(int margin);
  int Margin() const { return margin_; }

  // The top-left corner at which the glyph is drawn (not pressed).
  QPoint GlyphOrigin() const;

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  QImage glyph_;
  int margin_ = -1;
};

}  // namespace quor::ui
