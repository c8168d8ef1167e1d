// Vector pictograms for the button faces and keypads, drawn in any box.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>

#include "Layout.h"

namespace quor::tools {

// Draws the icon centred in box (kept square), with a soft dark shadow.
void DrawIcon(QPainter& p, Icon icon, const QRectF& box, const QColor& colour);

// A left-pointing back-space arrow (keypad delete).
void DrawBackspace(QPainter& p, const QRectF& box, const QColor& colour);
// A magnifier (keypad search).
void DrawMagnifier(QPainter& p, const QRectF& box, const QColor& colour);
// A right arrow (keypad "next letter").
void DrawRightArrow(QPainter& p, const QRectF& box, const QColor& colour);

}  // namespace quor::tools
