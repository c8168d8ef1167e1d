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
class MessageBoxNotifier : public Notifier {
 public:
  void ShowMessage(const QString& text) override;
};

}  // namespace quor::ui
