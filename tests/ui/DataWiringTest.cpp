// The window's show step and the room request button over the data module:
// with the server down (the guest sees the connection message once and the
// window stays usable) and against the real quorvod-server.

#include <gtest/gtest.h>

#include <QAbstractButton>

#include "DataTestSupport.h"
#include "UiTestSupport.h"
#include "data/DataModule.h"
#include "player/FMPAPI.h"
#include "ui/MainWindow.h"
#include "ui/QtMessageLoop.h"

namespace quor::ui {
namespace {

using data::DM;

const QString kConnectFailed =
    QString::fromUtf8("连接VOD数据服务器失败!请查看网络是否畅通或服务器IP设置是否正确");

class DataWiringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureApp();
    data::test::UseBuiltEngine();
    shell_.configuration.serverIP = "127.0.0.1";
    shell_.configuration.roomName = "Room7";
  }
  bool AllOpen() const {
    return DM().songClientDataSet->Active() && DM().singerClientDataSet->Active() &&
           DM().playClientDataSet->Active() && DM().tempClientDataSet->Active();
  }
  test::RecordingShell shell_;
  test::RecordingNotifier notifier_;
  QtMessageLoop loop_{notifier_};
  // Never opened: its requests go to a null driver handle.
  player::Decoder decoder_;
};

TEST_F(DataWiringTest, ServerDownShowsTheConnectionMessageOnceAndTheWindowStaysUsable) {
  data::DataModuleInstance dm(loop_);
  DM().SocketConnection->SetPort(1);  // nothing listens there: connection refused
  MainWindow w(shell_, notifier_);
  w.Attach(DM(), decoder_, data::test::BinDir() + "/");
  test::ShowAndSettle(w);
  EXPECT_EQ(notifier_.messages, QStringList{kConnectFailed});
  EXPECT_FALSE(DM().SocketConnection->Connected());
  EXPECT_FALSE(DM().songClientDataSet->Active());
  EXPECT_FALSE(DM().tempClientDataSet->Active());
  EXPECT_TRUE(w.isVisible());

  // The room request now fails with a clear text, through the guard.
  w.selectBitBtn[5]->click();
  ASSERT_EQ(notifier_.messages.size(), 2);
  EXPECT_FALSE(notifier_.messages[1].isEmpty());
  w.hide();
}

TEST_F(DataWiringTest, ShowOpensTheFourDatasetsAndTheButtonSendsTheRoomRequest) {
  const std::string dir = data::test::TempFolder("ui-wiring");
  data::test::BuildCatalogue(dir + "/catalogue.db");
  data::test::ServerProcess server(dir + "/catalogue.db", dir + "/server.log");
  server.Start();

  data::DataModuleInstance dm(loop_);
  DM().SocketConnection->SetPort(server.Port());
  MainWindow w(shell_, notifier_);
  w.Attach(DM(), decoder_, data::test::BinDir() + "/");
  test::ShowAndSettle(w);
  EXPECT_TRUE(notifier_.messages.isEmpty()) << notifier_.messages.join("|").toStdString();
  EXPECT_TRUE(AllOpen());
  EXPECT_EQ(DM().songClientDataSet->RecordCount(), 0);  // the start asks for layouts only

  w.selectBitBtn[5]->click();
  EXPECT_TRUE(notifier_.messages.isEmpty()) << notifier_.messages.join("|").toStdString();
  bool seen = false;
  for (const std::string& line : data::test::RequestLines(dir + "/server.log"))
    if (line.find("ROOM REQUEST") != std::string::npos &&
        line.find("ClientName=Room7") != std::string::npos)
      seen = true;
  EXPECT_TRUE(seen) << data::test::ReadFile(dir + "/server.log");
  w.hide();
  server.Stop();
}

}  // namespace
}  // namespace quor::ui
