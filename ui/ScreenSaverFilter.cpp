#include "ui/ScreenSaverFilter.h"

namespace quor::ui {

QEvent::Type SystemCommandEvent::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

bool ScreenSaverFilter::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == SystemCommandEvent::EventType())
    return platform::IsScreenSaverRequest(static_cast<SystemCommandEvent*>(event)->Message());
  return QObject::eventFilter(watched, event);
}

}  // namespace quor::ui
