// The program's message-box notifier under the offscreen platform: a message
// that comes while one of its boxes is open (a timer ticking under the modal
// box) is dropped, and the next message after the box closed shows again.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>

#include "ui/Notifier.h"

namespace quor::ui {
namespace {

// The message boxes open now, with their texts.
QStringList OpenBoxes() {
  QStringList texts;
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
      texts << box->text();
    }
  }
  return texts;
}

void CloseBoxes() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) box->done(0);
  }
}

TEST(MessageBoxNotifier, AtMostOneBoxIsOpenAndLaterMessagesShowAgain) {
  MessageBoxNotifier notifier;
  int ticks = 0;
  int returned = 0;
  qsizetype mostBoxes = 0;
  QStringList seenWhileOpen;
  QTimer tick;
  tick.setInterval(5);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    seenWhileOpen = OpenBoxes();
    mostBoxes = std::max(mostBoxes, seenWhileOpen.size());
    if (++ticks == 6) {
      tick.stop();
      CloseBoxes();
      return;
    }
    EXPECT_TRUE(notifier.Showing());
    // A failure on every tick, as with a dead server: reported, not shown.
    notifier.ShowMessage(QStringLiteral("tick %1").arg(ticks));
    ++returned;
  });
  // Should a second box open, its exec() would hold the tick's slot (a
  // timer never fires inside its own slot): a watchdog of its own counts the
  // boxes and closes them all.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    mostBoxes = std::max(mostBoxes, OpenBoxes().size());
    tick.stop();
    CloseBoxes();
  });
  watchdog.start(3000);
  tick.start();
  notifier.ShowMessage(QStringLiteral("first"));
  watchdog.stop();

  EXPECT_EQ(ticks, 6);
  EXPECT_EQ(returned, 5);
  EXPECT_EQ(mostBoxes, 1);
  EXPECT_EQ(seenWhileOpen, QStringList{QStringLiteral("first")});
  EXPECT_FALSE(notifier.Showing());

  // After the box closed the next message opens a box of its own.
  QStringList seen;
  QTimer::singleShot(0, [&] {
    seen = OpenBoxes();
    CloseBoxes();
  });
  notifier.ShowMessage(QStringLiteral("second"));
  EXPECT_EQ(seen, QStringList{QStringLiteral("second")});
  EXPECT_FALSE(notifier.Showing());
}

}  // namespace
}  // namespace quor::ui
