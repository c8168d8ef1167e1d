// quorvod: the room terminal. Start-up order: the GUI application, the main
// window (its creation runs FormCreate), the data module, then the message
// loop; showing the window runs FormShow. The process ends when the loop
// ends, after the window's close request (FormCloseQuery).

#include <QApplication>
#include <cstdio>
#include <exception>

#include "app/ProgramShell.h"
#include "app/RemoteKeys.h"
#include "app/SignalBridge.h"
#include "data/DataModule.h"
#include "platform/HotKeys.h"
#include "platform/ProgramFolder.h"
#include "ui/MainWindow.h"
#include "ui/Notifier.h"
#include "ui/QtMessageLoop.h"

int main(int argc, char** argv) {
  try {
    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("QuorVOD"));
    // The kiosk window is the only window; closing it ends the program.
    application.setQuitOnLastWindowClosed(true);

    // A stop request first ends any message box that is up (the missing-file
    // message while the window is created, the connection message while it
    // is shown): a box is a window of its own and would keep the program
    // alive. Then the window closes; one still being created is closed at
    // once when its creation is done, never shown.
    bool stopBeforeShow = false;
    quor::app::SignalBridge signalBridge([&stopBeforeShow] {
      for (int boxes = 0; boxes < 16; ++boxes) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) break;
        modal->close();
      }
      quor::ui::MainWindow* window = quor::ui::MainForm();
      if (window != nullptr && window->isVisible()) {
        // Queued: a box that was up inside the window's show step returns
        // into that step, and a close before the show has finished would be
        // undone by it.
        QMetaObject::invokeMethod(window, &QWidget::close, Qt::QueuedConnection);
        return;
      }
      stopBeforeShow = true;
    });

    quor::ui::MessageBoxNotifier notifier;
    quor::app::ProgramShell shell(notifier, quor::platform::CreateHotKeys());
    quor::ui::MainWindow mainForm(shell, notifier);
    quor::app::RemoteKeys remoteKeys(mainForm);
    mainForm.SetRemoteKeyDispatch(remoteKeys);
    // The data module DM, after the window and before the loop: FormShow
    // connects its SocketConnection and opens its datasets.
    quor::ui::QtMessageLoop loop(notifier);
    quor::data::DataModuleInstance dm(loop);
    mainForm.Attach(dm.Module(), shell.DecoderBinding(), quor::platform::ProgramFolder());
    if (stopBeforeShow) {
      mainForm.close();
      return 0;
    }

    shell.AttachWindow(mainForm);
    mainForm.ShowFullScreen();
    return application.exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvod: %s\n", e.what());
    return 1;
  }
}
