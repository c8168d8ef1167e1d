// What keeps one machine from taking the others' places: sessions per peer
// address, a bound on how long a request block may take once it began, a
// first request soon after connecting, and memory for a block taken as its
// bytes arrive. Raw sockets from several loopback addresses (127.0.0.x)
// against a server on a free port.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/Socket.h"
#include "remote/Remote.h"
#include "server/RequestLog.h"
#include "server/Server.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

class NoLoop final : public remote::MessageLoop {
 public:
  void Post(std::function<void()>) override {}
  void ReportError(const std::exception&) override {}
};

long ResidentKb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

class ServerGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    catalogue_ = testing::SqlTestCatalogue::Create(testing::Flavour::Sqlite, "guard", whyNot);
    ASSERT_TRUE(catalogue_) << whyNot;
    logPath_ = "/tmp/quor-guard-test-" + std::to_string(::getpid()) + ".log";
    options_.sqlitePath = catalogue_->ServerArgument();
    options_.bindAddress = "127.0.0.1";
    options_.port = 0;
    options_.maxPerAddress = 2;
    options_.blockMs = 1000;
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
    server_.reset();
    std::remove(logPath_.c_str());
  }
  void Start() {
    // Listens on every loopback address, so that peers can come from several.
    options_.bindAddress = "";
    log_ = RequestLog::Open(logPath_);
    server_ = std::make_unique<Server>(options_, *log_);
    server_->Start();
    thread_ = std::thread([this] { server_->Serve(); });
  }

  // A terminal's connection from `source`; throws what the terminal sees.
  std::unique_ptr<remote::SocketConnection> Terminal(const std::string& source) {
    auto connection = std::make_unique<remote::SocketConnection>(loop_);
    connection->SetSupportCallbacks(false);
    connection->SetHost("127.0.0.1");
    connection->SetSourceAddress(source);
    connection->SetPort(server_->Port());
    connection->SetServerName("Lyrahub.DM");
    connection->SetConnected(true);
    return connection;
  }

  // A raw connection from `source`.
  platform::TcpSocket Raw(const std::string& source) {
    platform::TcpSocket s;
    EXPECT_EQ(s.Create(), 0);
    EXPECT_EQ(s.BindLocal(platform::DottedToIPv4(source)), 0);
    EXPECT_EQ(s.Connect(platform::DottedToIPv4("127.0.0.1"), server_->Port(), 2000, -1), 0);
    return s;
  }
  static void Send(platform::TcpSocket& s, const std::vector<std::uint8_t>& bytes) {
    int err = 0;
    EXPECT_EQ(s.SendSome(bytes.data(), bytes.size(), err), static_cast<ssize_t>(bytes.size()));
  }
  // Waits up to `limit` for the server to close the connection.
  static bool ClosedWithin(platform::TcpSocket& s, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    std::uint8_t buf[256];
    while (std::chrono::steady_clock::now() < end) {
      int err = 0;
      if (platform::WaitFd(s.Fd(), POLLIN, 50, -1, err) != platform::WaitResult::kReady) continue;
      const ssize_t n = s.RecvSome(buf, sizeof buf, err);
      if (n == 0 || (n < 0 && err != EAGAIN)) return true;
    }
    return false;
  }
  static std::vector<std::uint8_t> Header(std::int32_t signature, std::int32_t size) {
    std::vector<std::uint8_t> h(8);
    std::memcpy(h.data(), &signature, 4);
    std::memcpy(h.data() + 4, &size, 4);
    return h;
  }
  // The songs of the catalogue, as a terminal on `connection` asks for them.
  static std::int32_t SongCount(remote::SocketConnection& connection) {
    std::int32_t recsOut = 0;
    remote::Variant params = remote::Variant::Null(), owner, packet;
    const remote::HRESULT hr = connection.ServerInterface()->AS_GetRecords(
        u"songDataSetProvider", -1, recsOut, 1, u"select SINGID from vodinfo", params, owner,
        packet);
    return hr == remote::S_OK ? recsOut : -1;
  }
  std::string Log() {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The log once it holds `text` (a session logs its end after closing).
  std::string LogWith(const std::string& text) {
    for (int i = 0; i < 100 && Log().find(text) == std::string::npos; ++i)
      std::this_thread::sleep_for(20ms);
    return Log();
  }

  NoLoop loop_;
  std::unique_ptr<testing::SqlTestCatalogue> catalogue_;
  std::string logPath_;
  ServerOptions options_;
  std::unique_ptr<RequestLog> log_;
  std::unique_ptr<Server> server_;
  std::thread thread_;
};

TEST_F(ServerGuardTest, OneAddressHoldsItsShareAndTheOthersAreServed) {
  Start();
  auto a = Terminal("127.0.0.9");
  auto b = Terminal("127.0.0.9");
  // The third from that address hears why, in words a terminal shows.
  try {
    Terminal("127.0.0.9");
    FAIL() << "a third session from one address was taken";
  } catch (const std::exception& e) {
    EXPECT_THAT(e.what(), HasSubstr("The server refused the connection: 2 sessions from "
                                    "127.0.0.9 are running, the most one address may hold"));
  }
  for (int i = 0; i < 5; ++i) EXPECT_THROW(Terminal("127.0.0.9"), std::exception);
  // Another machine is served meanwhile.
  auto other = Terminal("127.0.0.10");
  EXPECT_EQ(SongCount(*other), 25);
  // A session that ends gives its place back.
  b.reset();
  for (int i = 0; i < 100 && server_->ActiveSessions() > 2; ++i) std::this_thread::sleep_for(20ms);
  EXPECT_NO_THROW(Terminal("127.0.0.9"));
  // The refusals are in the log, not one line each.
  const std::string log = Log();
  EXPECT_THAT(log, HasSubstr("refused 127.0.0.9:"));
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = log.find("refused 127.0.0.9", at)) != std::string::npos; ++at)
    ++lines;
  EXPECT_EQ(lines, 1u);
}

TEST_F(ServerGuardTest, ABlockMustArriveWholeWithinItsBoundHoweverItTrickles) {
  options_.maxPerAddress = 0;
  Start();
  const auto start = std::chrono::steady_clock::now();
  // Half a header, then silence.
  auto half = Raw("127.0.0.11");
  Send(half, {0x04, 0xDA, 0x00});
  // A whole header and a byte every 100 ms, for ever: the trickle does not
  // extend the bound.
  auto trickle = Raw("127.0.0.12");
  Send(trickle, Header(0xDA04, 1000));
  // Connected and never a word.
  auto silent = Raw("127.0.0.13");
  // A terminal that created its object and then sits idle stays.
  auto idle = Terminal("127.0.0.14");

  bool trickleClosed = false;
  for (int i = 0; i < 40 && !trickleClosed; ++i) {
    Send(trickle, {0x41});
    trickleClosed = ClosedWithin(trickle, 100ms);
  }
  EXPECT_TRUE(trickleClosed);
  EXPECT_TRUE(ClosedWithin(half, 3s));
  EXPECT_TRUE(ClosedWithin(silent, 3s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);
  std::this_thread::sleep_for(500ms);
  EXPECT_EQ(SongCount(*idle), 25);
  const std::string log = LogWith("nothing was asked");
  EXPECT_THAT(log, HasSubstr("A block did not arrive whole within 1000 ms of its first byte"));
  EXPECT_THAT(log, HasSubstr("nothing was asked within 1 s of connecting"));
}

TEST_F(ServerGuardTest, ABlocksMemoryIsTakenAsItsBytesArrive) {
  options_.maxPerAddress = 0;
  options_.blockMs = 20000;
  Start();
  // Above the request bound: closed before anything is allocated.
  auto huge = Raw("127.0.0.20");
  Send(huge, Header(0xDA02, 200 << 20));
  EXPECT_TRUE(ClosedWithin(huge, 2s));
  const std::string refusal = "A block of 209715200 bytes is larger than the 1048576 bytes";
  EXPECT_THAT(LogWith(refusal), HasSubstr(refusal));

  // Within it, announced and not sent: a few pages each, not the size word.
  const long before = ResidentKb();
  std::vector<platform::TcpSocket> held;
  for (int i = 0; i < 200; ++i) {
    held.push_back(Raw("127.0.1." + std::to_string(i + 1)));
    Send(held.back(), Header(0xDA02, 1000000));
    Send(held.back(), std::vector<std::uint8_t>(16, 0x41));
  }
  for (int i = 0; i < 200 && server_->ActiveSessions() < 200; ++i)
    std::this_thread::sleep_for(10ms);
  std::this_thread::sleep_for(300ms);
  const long grown = ResidentKb() - before;
  EXPECT_EQ(server_->ActiveSessions(), 200u);
  // 200 announced megabytes; the sessions' threads and buffers take a
  // fraction of it.
  EXPECT_LT(grown, 80 * 1024) << "resident memory grew by " << grown << " KB";
}

}  // namespace
}  // namespace quor::server
