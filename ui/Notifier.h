#pragma once
// Where the terminal's messages to the guests and the service person go.
// The program shows each one in a modal message box; tests record them.
// GUI thread only.

#include <QString>

namespace quor::ui {

class Notifier {
 public:
  virtual ~Notifier() = default;
  // Shows text and returns when it has been acknowledged (the program's
  // message box is modal).
  virtual void ShowMessage(const QString& text) = 0;
};

// The program's notifier: a modal message box above the stay-on-top window.
// At most one of its boxes is open at a time: the timer and the remote keys
// keep running under a modal box, and a failure that repeats on every tick
// (a dead server while songs wait) would otherwise stack a new box every
// 500 ms. A message that comes while a box is open is dropped, and
// ShowMessage returns at once.
class MessageBoxNotifier : public Notifier {
 public:
  void ShowMessage(const QString& text) override;
  // Whether one of this notifier's boxes is open now.
  bool Showing() const { return showing_; }

 private:
  bool showing_ = false;
};

}  // namespace quor::ui
