#pragma once
// The program's side of the main window's start-up and shutdown: each step
// goes to its platform layer. Also delivers the grabbed remote keys and the
// service chord to the window. GUI thread only.

#include <QObject>
#include <memory>

#include "platform/HotKeys.h"
#include "player/FMPAPI.h"
#include "ui/MainWindow.h"
#include "ui/Notifier.h"
#include "ui/ShellServices.h"

class QSocketNotifier;

namespace quor::app {

// The hot-key id of the service person's chord Ctrl+Alt+End, outside the
// RemoteKeyId ranges.
inline constexpr int kCloseChordId = 2000;
inline constexpr unsigned kVirtualKeyEnd = 0x23;

class ProgramShell : public QObject, public ui::ShellServices {
  Q_OBJECT
 public:
  // hotKeys is the system-wide key layer the remote keys are registered on.
  ProgramShell(ui::Notifier& notifier, std::unique_ptr<platform::HotKeys> hotKeys);
  ~ProgramShell() override;

  void SuppressScreenSaver() override;
  void RegisterEngine() override;
  void SetDisplayMode(int width, int height) override;
  void ReadConfiguration(ui::Configuration& config) override;
  void RegisterRemoteKeys(const ui::Configuration& config) override;
  void UnregisterRemoteKeys() override;
  void DecoderOpen() override;
  void DecoderClose() override;
  void ConnectShare(const platform::ShareConnection& connection) override;

  // From now on hot keys reach window: grabbed keys through the key layer's
  // descriptor, window keys through an application key filter; the chord
  // closes the window.
  void AttachWindow(ui::MainWindow& window);

  // The decoder binding DecoderOpen and DecoderClose work on; owned here for
  // the whole run.
  player::Decoder& DecoderBinding() { return decoder_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Deliver(int id);

  ui::Notifier& notifier_;
  player::Decoder decoder_;
  std::unique_ptr<platform::HotKeys> hotKeys_;
  ui::MainWindow* window_ = nullptr;
  QSocketNotifier* keyNotifier_ = nullptr;  // QObject child
};

}  // namespace quor::app
