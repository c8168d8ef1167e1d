#pragma once
// The application-wide filter on queued messages: it sees every event taken
// from the GUI thread's queue before it is dispatched and swallows the
// screen-saver request. System commands travel as SystemCommandEvents, the
// classic message triple. GUI thread only.

#include <QEvent>
#include <QObject>

#include "platform/ScreenSaver.h"

namespace quor::ui {

class SystemCommandEvent : public QEvent {
 public:
  explicit SystemCommandEvent(const platform::QueuedMessage& message)
      : QEvent(EventType()), message_(message) {}
  static QEvent::Type EventType();
  const platform::QueuedMessage& Message() const { return message_; }

 private:
  platform::QueuedMessage message_;
};

class ScreenSaverFilter : public QObject {
  Q_OBJECT
 public:
  using QObject::QObject;

 protected:
  // True (handled, not dispatched) exactly for the screen-saver request.
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace quor::ui
