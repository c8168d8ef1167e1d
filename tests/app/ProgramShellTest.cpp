// The program's shell on the real layers, under the offscreen platform: the
// window's start-up reaches the engine record, the configuration beside the
// executable, the share record and the decoder binding; closing releases the
// keys and the driver.

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>

#include "app/ProgramShell.h"
#include "platform/EngineRegistry.h"
#include "platform/ProgramFolder.h"
#include "platform/Share.h"

namespace quor::app {
namespace {

struct RecordingNotifier : ui::Notifier {
  QStringList messages;
  void ShowMessage(const QString& text) override { messages << text; }
};

TEST(ProgramShellTest, StartUpAndShutdownReachTheRealLayers) {
  // The test program's folder holds no VODSet.ini: the missing-file case.
  ASSERT_FALSE(std::filesystem::exists(platform::ProgramFolder() + "VODSet.ini"));
  RecordingNotifier notifier;
  ProgramShell shell(notifier, platform::CreateWindowKeyHotKeys());
  {
    ui::MainWindow window(shell, notifier);
    EXPECT_EQ(platform::RecordedEnginePath(), platform::ProgramFolder() + "libdsengine.so");
    EXPECT_EQ(notifier.messages,
              QStringList{QStringLiteral("遥控器配置文件不存在，请重新运行遥控器配置程序！")});
    EXPECT_TRUE(window.Config().mediaSharePath.empty());
    shell.AttachWindow(window);
    window.show();
    for (int i = 0; i < 250 && window.ShowStepsPending(); ++i)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const platform::ShareConnection share = platform::ConnectedShare();
    EXPECT_EQ(share.user, "quorvod");
    EXPECT_EQ(share.password, "zwk");
    EXPECT_EQ(share.remoteName, "");  // empty after the missing-file message
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(shell.DecoderBinding().DecoderIsOpen());  // closed (or never opened)
  }
  EXPECT_EQ(notifier.messages.size(), 1);
}

}  // namespace
}  // namespace quor::app

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
