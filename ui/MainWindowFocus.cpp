// The window's side of the remote control: a key goes to the attached
// dispatch table; the focus moves and the Enter press the table asks for.

#include <QCoreApplication>
#include <QKeyEvent>

#include "ui/MainWindow.h"

namespace quor::ui {
namespace {

bool HasCue(const QWidget* w) {
  return w != nullptr && w->property(kFocusCueProperty).toBool();
}

}  // namespace

void MainWindow::WMHotKey(int remoteKeyId) {
  if (remoteKeys_ == nullptr) return;
  Guarded([this, remoteKeyId] { remoteKeys_->Dispatch(remoteKeyId); });
}

void MainWindow::MoveFocus(bool next) {
  QWidget* before = focusWidget();
  focusNextPrevChild(next);
  QWidget* after = focusWidget();
  // The focus events that move the cue come only while this window is the
  // active one; the remote works when it is not, so the cue is moved here
  // too (the two handlers only set the margin).
  if (after == before) return;
  if (HasCue(before)) aDoOnExit(before);
  if (HasCue(after)) aDoOnEnter(after);
}

void MainWindow::FocusControl(QWidget* control) {
  QWidget* before = focusWidget();
  control->setFocus(Qt::OtherFocusReason);
  QWidget* after = focusWidget();
  if (after == before) return;
  if (HasCue(before)) aDoOnExit(before);
  if (HasCue(after)) aDoOnEnter(after);
}

void MainWindow::PressEnter() {
  QWidget* target = focusWidget();
  if (target == nullptr) return;
  // Synthesised events carry no native key code, so the window-key path of
  // the hot keys never takes them for the remote's own Affirm key.
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
  QCoreApplication::sendEvent(target, &press);
  QCoreApplication::sendEvent(target, &release);
}

}  // namespace quor::ui
