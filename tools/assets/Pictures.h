// The pictures of the terminal's window, each drawn from scratch.
#pragma once

#include <QImage>

#include "Layout.h"

namespace quor::tools {

// The 800x600 background: stage, light rays, panels behind the controls.
QImage DrawBackground();

// The 250x148 keypad pictures for number mode and letter mode.
QImage DrawNumberPad();
QImage DrawLetterPad();

// The glyph of one button (120x49 for the menu, 68x40 otherwise). Its corners,
// which the rounded window mask or the key's own rounding leaves visible, are
// the background pixels at the button's place, so the key sits seamlessly.
QImage DrawGlyph(const ButtonFace& button, const QImage& background);

// The singer photo fallback, 113x153.
QImage DrawNoPhoto();

}  // namespace quor::tools
