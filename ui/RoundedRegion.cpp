#include "ui/RoundedRegion.h"

#include <algorithm>
#include <cmath>

namespace quor::ui {

QRegion RoundRectRegion(int width, int height, int ellipseWidth, int ellipseHeight) {
  if (width <= 0 || height <= 0) return {};
  const double rx = std::max(1, std::min(ellipseWidth, width)) / 2.0;
  const double ry = std::max(1, std::min(ellipseHeight, height)) / 2.0;
  QRegion region;
  for (int y = 0; y < height; ++y) {
    // Distance of this row's pixel centres from the nearer corner ellipse's
    // centre line; rows between the corners are full.
    const double cy = y + 0.5;
    double dy = 0;
    if (cy < ry)
      dy = ry - cy;
    else if (cy > height - ry)
      dy = cy - (height - ry);
    int inset = 0;
    if (dy > 0) {
      const double t = 1.0 - (dy * dy) / (ry * ry);
      const double half = t > 0 ? rx * std::sqrt(t) : 0.0;
      // First pixel whose centre x + 0.5 is at least rx - half.
      inset = static_cast<int>(std::ceil(rx - half - 0.5 - 1e-9));
      inset = std::max(0, inset);
    }
    if (2 * inset < width) region += QRect(inset, y, width - 2 * inset, 1);
  }
  return region;
}

}  // namespace quor::ui
