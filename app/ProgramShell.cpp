#include "app/ProgramShell.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSocketNotifier>

#include "app/HotKey.h"
#include "platform/Display.h"
#include "platform/ProgramFolder.h"
#include "platform/ScreenSaver.h"
#include "ui/QtChild.h"

namespace quor::app {
namespace {

unsigned ModifierFlags(Qt::KeyboardModifiers mods) {
  unsigned flags = 0;
  if (mods & Qt::AltModifier) flags |= platform::kModAlt;
  if (mods & Qt::ControlModifier) flags |= platform::kModControl;
  if (mods & Qt::ShiftModifier) flags |= platform::kModShift;
  if (mods & Qt::MetaModifier) flags |= platform::kModWin;
  return flags;
}

}  // namespace

ProgramShell::ProgramShell(ui::Notifier& notifier, std::unique_ptr<platform::HotKeys> hotKeys)
    : notifier_(notifier), hotKeys_(std::move(hotKeys)) {}

ProgramShell::~ProgramShell() {
  if (window_ != nullptr) qApp->removeEventFilter(this);
  hotKeys_->Unregister(kCloseChordId);
}

void ProgramShell::SuppressScreenSaver() {
  platform::SuppressScreenSaver();
}

void ProgramShell::RegisterEngine() {
  app::RegisterEngine(platform::ProgramFolder());
}

void ProgramShell::SetDisplayMode(int width, int height) {
  platform::SetDisplayMode(width, height);
}

void ProgramShell::ReadConfiguration(ui::Configuration& config) {
  app::ReadConfiguration(platform::ProgramFolder(), notifier_, config);
}

void ProgramShell::RegisterRemoteKeys(const ui::Configuration& config) {
  app::RegisterRemoteKeys(config, *hotKeys_);
}

void ProgramShell::UnregisterRemoteKeys() {
  app::UnregisterRemoteKeys(*hotKeys_);
}

void ProgramShell::DecoderOpen() {
  decoder_.DecoderOpen();
}

void ProgramShell::DecoderClose() {
  decoder_.DecoderClose();
}

void ProgramShell::ConnectShare(const platform::ShareConnection& connection) {
  platform::ConnectShare(connection);
}

void ProgramShell::AttachWindow(ui::MainWindow& window) {
  window_ = &window;
  hotKeys_->Register(kCloseChordId, platform::kModControl | platform::kModAlt, kVirtualKeyEnd);
  if (const int fd = hotKeys_->EventDescriptor(); fd >= 0) {
    keyNotifier_ = ui::MakeChild<QSocketNotifier>(this, fd, QSocketNotifier::Read);
    connect(keyNotifier_, &QSocketNotifier::activated, this, [this] {
      window_->Guarded([this] {
        for (int id : hotKeys_->TakePressed()) Deliver(id);
      });
    });
  }
  qApp->installEventFilter(this);
}

void ProgramShell::Deliver(int id) {
  if (id == kCloseChordId)
    window_->close();
  else
    window_->WMHotKey(id);
}

bool ProgramShell::eventFilter(QObject* watched, QEvent* event) {
  // Without a system-wide grab the registered keys are matched as they reach
  // the window; they go no further, as a hot key would not.
  if (event->type() == QEvent::KeyPress && window_ != nullptr) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const auto id =
        hotKeys_->MatchWindowKey(key->nativeVirtualKey(), ModifierFlags(key->modifiers()));
    if (id && *id != kCloseChordId) {
      window_->Guarded([this, id] { Deliver(*id); });
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace quor::app
