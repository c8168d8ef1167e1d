// quorvod: the room terminal. Start-up order: the GUI application, the main
// window (its creation runs FormCreate), the data module, then the message
// loop; showing the window runs FormShow. The process ends when the loop
// ends, after the window's close request (FormCloseQuery).

#include <QApplication>
#include <cstdio>
#include <exception>

#include "app/ProgramShell.h"
#include "app/SignalBridge.h"
#include "platform/HotKeys.h"
#include "ui/MainWindow.h"
#include "ui/Notifier.h"

int main(int argc, char** argv) {
  try {
    QApplication application(argc, argv);
    application.setApplicationName(QStringLiteral("QuorVOD"));
    // The kiosk window is the only window; closing it ends the program.
    application.setQuitOnLastWindowClosed(true);

    quor::ui::MessageBoxNotifier notifier;
    quor::app::ProgramShell shell(notifier, quor::platform::CreateHotKeys());
    quor::ui::MainWindow mainForm(shell, notifier);
    // The data module DM is created here, after the window and before the
    // loop, once it exists: FormShow connects its SocketConnection.

    shell.AttachWindow(mainForm);
    quor::app::SignalBridge signalBridge([&mainForm] { mainForm.close(); });
    mainForm.ShowFullScreen();
    return application.exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvod: %s\n", e.what());
    return 1;
  }
}
