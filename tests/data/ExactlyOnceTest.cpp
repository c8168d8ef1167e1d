// Room requests reach the table once per press, whatever happens to the
// answer: the terminal's data module against the real quorvod-server, with
// the server's answer to a room request cut off on its way back, and with
// the server stalled past the terminal's wait.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "DataTestSupport.h"
#include "platform/EventFd.h"
#include "platform/Socket.h"

namespace quor::data::test {
namespace {

using ::testing::HasSubstr;

// Passes one terminal connection at a time through to the server. Armed, it
// lets the next room request (a request block carrying a delta) through and
// then swallows the server's answer and drops both connections: the row is
// stored, the terminal never hears so.
class CuttingRelay {
 public:
  explicit CuttingRelay(std::uint16_t serverPort) : serverPort_(serverPort) {
    if (listener_.Listen("127.0.0.1", 0) != 0) throw std::runtime_error("relay: listen failed");
    thread_ = std::thread([this] { Run(); });
  }
  ~CuttingRelay() {
    stop_.Signal();
    thread_.join();
  }
  std::uint16_t Port() const { return listener_.Port(); }
  void CutNextRoomRequest() { armed_ = true; }
  int Cuts() const { return cuts_; }

 private:
  void Run() {
    while (!stop_.IsSignalled()) {
      int err = 0;
      platform::TcpSocket terminal = listener_.Accept(-1, stop_.Fd(), err);
      if (!terminal.Valid()) continue;
      platform::TcpSocket server;
      if (server.Create() != 0 ||
          server.Connect(platform::DottedToIPv4("127.0.0.1"), serverPort_, 5000, -1) != 0)
        continue;
      Pass(terminal, server);
    }
  }

  // Until either side closes, or a cut.
  void Pass(platform::TcpSocket& terminal, platform::TcpSocket& server) {
    bool cutAnswer = false;
    std::uint8_t buf[65536];
    for (;;) {
      pollfd fds[3] = {
          {terminal.Fd(), POLLIN, 0}, {server.Fd(), POLLIN, 0}, {stop_.Fd(), POLLIN, 0}};
      if (::poll(fds, 3, -1) <= 0 || fds[2].revents != 0) return;
      for (int side = 0; side < 2; ++side) {
        if (fds[side].revents == 0) continue;
        platform::TcpSocket& from = side == 0 ? terminal : server;
        platform::TcpSocket& to = side == 0 ? server : terminal;
        int err = 0;
        const ssize_t got = from.RecvSome(buf, sizeof buf, err);
        if (got < 0 && err == EAGAIN) continue;
        if (got <= 0) return;
        if (side == 0 && armed_ && IsRoomRequest(buf, static_cast<std::size_t>(got))) {
          armed_ = false;
          cutAnswer = true;
        } else if (side == 1 && cutAnswer) {
          // The server answered: the row is in. The answer goes nowhere.
          ++cuts_;
          return;
        }
        for (ssize_t sent = 0; sent < got;) {
          const ssize_t n = to.SendSome(buf + sent, static_cast<std::size_t>(got - sent), err);
          if (n < 0 && err != EAGAIN) return;
          if (n > 0) sent += n;
        }
      }
    }
  }

  // A request block with a delta packet in it (the packet's magic, kind 1).
  static bool IsRoomRequest(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint8_t kMagic[] = {'Q', 'V', 'D', 'P'};
    const auto* end = data + size;
    const auto* at = std::search(data, end, std::begin(kMagic), std::end(kMagic));
    return at + 6 <= end && at[5] == 1;
  }

  std::uint16_t serverPort_;
  platform::ListenSocket listener_;
  platform::EventFd stop_;
  std::thread thread_;
  std::atomic<bool> armed_{false};
  std::atomic<int> cuts_{0};
};

class ExactlyOnceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseBuiltEngine();
    folder_ = TempFolder("once");
    db_ = folder_ + "/catalogue.db";
    BuildCatalogue(db_);
    server_ = std::make_unique<ServerProcess>(db_, folder_ + "/requests.log");
    server_->Start();
  }
  void TearDown() override {
    server_->Resume();
    server_.reset();
    std::filesystem::remove_all(folder_);
  }
  int Stored(const std::string& room) { return CountRoomCalls(db_, "ClientName = '" + room + "'"); }

  std::string folder_, db_;
  std::unique_ptr<ServerProcess> server_;
};

TEST_F(ExactlyOnceTest, APressWhoseAnswerWasLostIsStoredOnce) {
  CuttingRelay relay(server_->Port());
  TerminalFixture terminal(relay.Port());
  ASSERT_TRUE(ConnectAndOpen(*terminal.dm, "127.0.0.1", nullptr));
  ClientDataSet& temp = *terminal.dm->tempClientDataSet;

  SendRoomRequest(temp, "Room5");
  relay.CutNextRoomRequest();
  EXPECT_THROW(SendRoomRequest(temp, "Room5"), std::exception);
  EXPECT_EQ(relay.Cuts(), 1);
  EXPECT_EQ(temp.ChangeCount(), 1);  // the terminal keeps what it did not hear of
  EXPECT_EQ(Stored("Room5"), 2);     // ... though the server has it
  terminal.Pump();

  // The next press carries the kept row again: it is acknowledged, not
  // stored twice, and the log leaves nothing behind.
  SendRoomRequest(temp, "Room5");
  EXPECT_EQ(temp.ChangeCount(), 0);
  EXPECT_EQ(Stored("Room5"), 3);
  EXPECT_THAT(ReadFile(folder_ + "/requests.log"),
              HasSubstr("room request already stored, acknowledged again: ClientName=Room5"));
}

TEST_F(ExactlyOnceTest, APressTheServerTookAfterTheTerminalGaveUpIsStoredOnce) {
  TerminalFixture terminal(server_->Port());
  terminal.dm->SocketConnection->SetReplyTimeout(1500);
  ASSERT_TRUE(ConnectAndOpen(*terminal.dm, "127.0.0.1", nullptr));
  ClientDataSet& temp = *terminal.dm->tempClientDataSet;

  // The server stalls; the press waits past the terminal's bound and fails.
  server_->Pause();
  EXPECT_THROW(SendRoomRequest(temp, "Room6"), std::exception);
  EXPECT_EQ(temp.ChangeCount(), 1);
  terminal.Pump();
  // The server goes on: it reads the request still in its socket and stores
  // the row, answering a terminal that has gone.
  server_->Resume();
  for (int i = 0; i < 100 && Stored("Room6") < 1; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Stored("Room6"), 1);

  SendRoomRequest(temp, "Room6");  // connects anew, sends both rows
  EXPECT_EQ(temp.ChangeCount(), 0);
  EXPECT_EQ(Stored("Room6"), 2);
  // Each row knows when the guest pressed; the first arrived later than that.
  EXPECT_EQ(CountRoomCalls(db_,
                           "ClientName = 'Room6' and PostedAt is not null and "
                           "ChangeLog is not null and ChangeId is not null"),
            2);
}

}  // namespace
}  // namespace quor::data::test
