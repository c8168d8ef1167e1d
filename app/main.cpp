// quorvod: the room terminal. Start-up order: the GUI application, the main
// window (its creation runs FormCreate), the data module, then the message
// loop; showing the window runs FormShow. The process ends when the loop
// ends, after the window's close request (FormCloseQuery).

#include <QApplication>
#include <cstdio>
#include <exception>

#include "app/ProgramShell.h"
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

    // A stop request that comes while the window is still being created (the
    // missing-file message may be up) ends the message and lets the creation
    // finish; the window is then closed at once, never shown.
    bool stopBeforeShow = false;
    quor::app::SignalBridge signalBridge([&stopBeforeShow] {
      quor::ui::MainWindow* window = quor::ui::MainForm();
      if (window != nullptr && window->isVisible()) {
        window->close();
        return;
      }
      stopBeforeShow = true;
      if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    });

    quor::ui::MessageBoxNotifier notifier;
    quor::app::ProgramShell shell(notifier, quor::platform::CreateHotKeys());
    quor::ui::MainWindow mainForm(shell, notifier);
    // The data module DM, after the window and before the loop: FormShow
    // connects its SocketConnection and opens its datasets.
    quor::ui::QtMessageLoop loop(notifier);
    quor::data::DataModuleInstance dm(loop);
    mainForm.Attach(dm.Module(), quor::platform::ProgramFolder());
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
