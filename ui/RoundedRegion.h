#pragma once
// A rounded-rectangle region, the shape given to the menu and player buttons.

#include <QRegion>

namespace quor::ui {

// The pixels of the rectangle (0, 0) to (width, height), right and bottom
// edge excluded, whose corners are cut by quarter ellipses of
// ellipseWidth x ellipseHeight: a pixel of a corner square belongs to the
// region when its centre lies inside the corner's ellipse.
QRegion RoundRectRegion(int width, int height, int ellipseWidth, int ellipseHeight);

}  // namespace quor::ui
