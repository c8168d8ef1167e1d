#pragma once
// "Showing": a control is showing when it and every control that holds it
// are shown. Read from the widgets' own shown flags up to the window, so the
// answer is the same on a real display and offscreen, and whether or not the
// window itself is on screen yet. GUI thread only.

#include <QWidget>

namespace quor::ui {

inline bool IsShowing(const QWidget* control) {
  return control != nullptr && control->isVisibleTo(control->window());
}

}  // namespace quor::ui
