#pragma once
// Shared pieces of the window tests: the offscreen application, a notifier
// that records, and a shell that records every start-up and shutdown step.

#include <QApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "ui/Notifier.h"
#include "ui/ShellServices.h"

namespace quor::ui::test {

// The application object lives in the test program's main (UiTestMain.cpp),
// so that it is destroyed before the toolkit's own statics.
inline QApplication& EnsureApp() {
  return *static_cast<QApplication*>(QCoreApplication::instance());
}

// Shows the main window and lets its show steps run: they wait until the
// window is on screen, from the event queue.
template <class Window>
void ShowAndSettle(Window& window) {
  window.show();
  QElapsedTimer waited;
  waited.start();
  while (window.ShowStepsPending() && waited.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

struct RecordingNotifier : Notifier {
  QStringList messages;
  // When set, every message is also handed on (the program's message box).
  Notifier* forward = nullptr;
  void ShowMessage(const QString& text) override {
    messages << text;
    if (forward != nullptr) forward->ShowMessage(text);
  }
};

// Records the name of every step; hooks run inside a step to look at the
// window as it is at that moment.
struct RecordingShell : ShellServices {
  std::vector<std::string> calls;
  Configuration configuration;  // what ReadConfiguration hands out
  Configuration registered;     // what RegisterRemoteKeys received
  std::vector<platform::ShareConnection> shares;
  std::vector<std::pair<int, int>> displayModes;
  std::function<void(const std::string&)> onStep;

  void Step(const std::string& name) {
    calls.push_back(name);
    if (onStep) onStep(name);
  }
  void SuppressScreenSaver() override { Step("SuppressScreenSaver"); }
  void RegisterEngine() override { Step("RegisterEngine"); }
  void SetDisplayMode(int width, int height) override {
    displayModes.emplace_back(width, height);
    Step("SetDisplayMode");
  }
  void ReadConfiguration(Configuration& config) override {
    config = configuration;
    Step("ReadConfiguration");
  }
  void RegisterRemoteKeys(const Configuration& config) override {
    registered = config;
    Step("RegisterRemoteKeys");
  }
  void UnregisterRemoteKeys() override { Step("UnregisterRemoteKeys"); }
  void DecoderOpen() override { Step("DecoderOpen"); }
  void DecoderClose() override { Step("DecoderClose"); }
  void ConnectShare(const platform::ShareConnection& connection) override {
    shares.push_back(connection);
    Step("ConnectShare");
  }
};

}  // namespace quor::ui::test
