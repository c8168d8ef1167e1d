#pragma once
// The fixed layout of the main window as data: every control with its kind,
// parent, place, size, start visibility, tab order, font and picture, in
// creation order (the main window's controls, then the keypad panel's).
// Nothing is laid out at run time. Read-only; any thread.

#include <QFont>
#include <span>

namespace quor::ui {

enum class ControlKind { kPicture, kLabel, kButton, kPanel, kEdit };

struct ControlDef {
  const char* name;
  ControlKind kind;
  const char* parent;            // nullptr: the main window
  int left, top, width, height;  // width 0: fills its parent
  bool shown;                    // shown at start
  int tabOrder;                  // -1 for pictures and labels (they take no focus)
  bool tabStop;                  // reached by Tab and the remote's up/down keys
  bool focusCue;                 // glyph margin follows the keyboard focus
  bool handCursor;
  int fontPixels;       // 0: the window's default font
  bool centred;         // text centred in the box
  int maxLength;        // edit boxes: most characters; 0 otherwise
  const char* picture;  // picture resource under :/assets/ (pictures)
  bool stretch;         // picture stretched to the box
};

// The window's design client area.
inline constexpr int kClientWidth = 790;
inline constexpr int kClientHeight = 564;

// All controls in creation order.
std::span<const ControlDef> ControlTable();

// The font "宋体" at px pixels, bold or not, mapped to the Song-style CJK face
// this machine has.
QFont SongFont(int px, bool bold);
// The window's default font ("MS Sans Serif" 11 pixels, mapped to a sans face).
QFont DefaultFont();

}  // namespace quor::ui
