#include "ui/Notifier.h"

#include <QApplication>
#include <QMessageBox>

namespace quor::ui {

void MessageBoxNotifier::ShowMessage(const QString& text) {
  // The main window stays on top of everything, so the box must too, or it
  // would open behind it and block the terminal unseen.
  QMessageBox box(QMessageBox::Warning, QStringLiteral("QuorVOD"), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
}

}  // namespace quor::ui
