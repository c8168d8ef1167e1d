#pragma once
// A transparent text label that reports clicks. Its font colour is held as a
// colour value with red in the low byte and blue in the third (0xFF0000 is
// blue, 0xFFFFFF white): the song rows use the colour as state, so it is
// kept exactly as set rather than read back from the palette.
//
// The text is one line from the top of the box, the em box of the font at the
// top edge: the Song faces the layout was drawn for have no extra line
// spacing, and a box of the font's pixel height (infoLabel: 22 for 21) must
// hold the whole line, whatever spacing the machine's CJK face carries.
// GUI thread only.

#include <QLabel>
#include <cstdint>
#include <string>

namespace quor::ui {

inline constexpr std::uint32_t kColourWhite = 0xFFFFFF;
inline constexpr std::uint32_t kColourBlue = 0xFF0000;

// The QColor of a colour value (red low byte, green, blue high byte).
QColor ColourOf(std::uint32_t value);

class Label : public QLabel {
  Q_OBJECT
 public:
  explicit Label(QWidget* parent = nullptr);

  void SetFontColour(std::uint32_t value);
  std::uint32_t FontColour() const { return fontColour_; }

  // The text as the system holds it: Chinese code page bytes (a song row's
  // SongEntry, a singer's name). The label shows it decoded; whoever splices
  // or compares it reads the same bytes back, whatever they hold.
  void SetGbkText(std::string gbk);
  const std::string& GbkText() const { return gbk_; }

  // A text wider than the box ends in an ellipsis instead of being cut
  // off at the box's edge (the text itself stays whole).
  void SetElide(bool elide) { elide_ = elide; }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  std::uint32_t fontColour_ = 0;
  std::string gbk_;
  bool elide_ = false;
  bool pressed_ = false;
};

}  // namespace quor::ui
