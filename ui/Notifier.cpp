#include "ui/Notifier.h"

#include <QApplication>
#include <QMessageBox>
#include <QScopedValueRollback>

namespace quor::ui {

void MessageBoxNotifier::ShowMessage(const QString& text) {
  if (showing_) return;
  // Cleared however exec() ends.
  const QScopedValueRollback<bool> open(showing_, true);
  // The main window stays on top of everything, so the box must too, or it
  // would open behind it and block the terminal unseen.
  QMessageBox box(QMessageBox::Warning, QStringLiteral("QuorVOD"), text, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.exec();
}

}  // namespace quor::ui
