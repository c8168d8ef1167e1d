// SocketTransport over real loopback sockets, against a raw peer.

#include <gtest/gtest.h>
#include <poll.h>

#include "RemoteTestSupport.h"

namespace quor::remote::test {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void WriteAll(platform::TcpSocket& s, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    int err = 0;
    const ssize_t n = s.SendSome(bytes.data() + done, bytes.size() - done, err);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      ASSERT_EQ(err, EAGAIN);
      platform::WaitFd(s.Fd(), POLLOUT, 1000, -1, err);
    }
  }
}

std::vector<std::uint8_t> ReadExactly(platform::TcpSocket& s, std::size_t count) {
  std::vector<std::uint8_t> out(count);
  std::size_t done = 0;
  while (done < count) {
    int err = 0;
    if (platform::WaitFd(s.Fd(), POLLIN, 5000, -1, err) != platform::WaitResult::kReady) break;
    const ssize_t n = s.RecvSome(out.data() + done, count - done, err);
    if (n == 0) break;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  out.resize(done);
  return out;
}

// A client transport connected to a raw peer socket.
struct Pair {
  explicit Pair(const ClassRegistry* registry = nullptr, const std::string& interceptor = "") {
    EXPECT_EQ(listener.Listen("127.0.0.1", 0), 0);
    client = Ref<SocketTransport>(new SocketTransport(registry));
    client->SetHost("127.0.0.1");  // a dotted address through the name lookup
    client->SetPort(listener.Port());
    client->SetInterceptGUID(interceptor);
    client->SetConnected(true);
    int err = 0;
    peer = listener.Accept(5000, -1, err);
    EXPECT_TRUE(peer.Valid());
  }
  std::string ReceiveError(bool wait = true) {
    try {
      client->Receive(wait, 0);
    } catch (const Exception& e) {
      return e.what();
    }
    return "no error";
  }
  platform::ListenSocket listener;
  Ref<SocketTransport> client;
  platform::TcpSocket peer;
};

TEST(TransportTest, BlocksArriveWholeAndBadSignaturesCloseTheStream) {
  Pair p;
  ASSERT_TRUE(p.client->Connected());
  WriteAll(p.peer, Bytes().Block(0xDB01, Bytes()).Block(0xDA05, Bytes().I32(3).I32(7)).v);
  Ref<IDataBlock> empty = p.client->Receive(true, 0);
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->Signature(), 0xDB01);
  EXPECT_EQ(empty->Size(), 0);
  Ref<IDataBlock> next = p.client->Receive(true, 0);
  EXPECT_EQ(next->Signature(), 0xDA05);
  EXPECT_EQ(DataOf(*next), Bytes().I32(3).I32(7).v);

  // 0xDC00 is no kind of block: refused before its size is read.
  WriteAll(p.peer, Bytes().I32(0xDC00).v);
  EXPECT_EQ(p.ReceiveError(), "Invalid data packet");
  EXPECT_FALSE(p.client->Connected());
}

TEST(TransportTest, AnnouncedSizesAreCheckedBeforeAllocation) {
  for (const std::int64_t size :
       {std::int64_t{-1}, std::int64_t{kMaxBlockSize} + 1, std::int64_t{0x7FFFFFFF}}) {
    Pair p;
    WriteAll(p.peer, Bytes().I32(0xDB02).I32(size).v);
    EXPECT_EQ(p.ReceiveError(), "Invalid data packet") << size;
    EXPECT_FALSE(p.client->Connected());
  }
}

TEST(TransportTest, ShortHeadersAndClosedPeersAreReadErrors) {
  {
    Pair p;
    WriteAll(p.peer, {0x02, 0xDB});
    p.peer.Close();
    EXPECT_EQ(p.ReceiveError(), "Error reading from socket");
    EXPECT_FALSE(p.client->Connected());
  }
  {
    Pair p;  // the data ends before the announced size
    WriteAll(p.peer, Bytes().I32(0xDB02).I32(10).Raw({1, 2, 3}).v);
    p.peer.Close();
    EXPECT_EQ(p.ReceiveError(), "Error reading from socket");
  }
  {
    Pair p;  // the largest size a peer may announce, and then it hangs up
    WriteAll(p.peer, Bytes().I32(0xDB02).I32(kMaxBlockSize).Raw({1, 2, 3}).v);
    p.peer.Close();
    EXPECT_EQ(p.ReceiveError(), "Error reading from socket");
  }
}

TEST(TransportTest, NoWaitOnAQuietSocketReturnsNothing) {
  Pair p;
  const auto start = Clock::now();
  EXPECT_FALSE(p.client->Receive(false, 0));
  EXPECT_LT(MsSince(start), 50);
  EXPECT_TRUE(p.client->Connected());
}

TEST(TransportTest, SilenceEndsTheWaitButSlowBytesKeepItAlive) {
  {
    Pair p;
    p.client->SetReplyTimeout(200);
    const auto start = Clock::now();
    EXPECT_EQ(p.ReceiveError(), "Expected return value not received");
    EXPECT_GE(MsSince(start), 190);
    EXPECT_FALSE(p.client->Connected());
  }
  {
    Pair p;
    p.client->SetReplyTimeout(300);
    const Bytes whole = Bytes().Block(0xDB02, Bytes().I32(3).I32(0));
    std::thread slow([&] {
      for (std::uint8_t b : whole.v) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        WriteAll(p.peer, {b});
      }
    });
    Ref<IDataBlock> block = p.client->Receive(true, 0);  // 16 bytes over ~640 ms
    slow.join();
    ASSERT_TRUE(block);
    EXPECT_EQ(DataOf(*block), Bytes().I32(3).I32(0).v);
  }
}

TEST(TransportTest, LargeBlocksGoOutWholeAndComeInWhole) {
  Pair p;
  Ref<SocketTransport> server = SocketTransport::FromConnectedSocket(std::move(p.peer));
  ASSERT_TRUE(server->Connected());
  Ref<DataBlock> big = DataBlock::Create();
  // Larger than the first receive chunk (8 MiB) and not a power of two: the
  // buffer grows twice while the bytes arrive and ends at the exact size.
  std::vector<std::uint8_t> data((20 << 20) + 12345);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<std::uint8_t>(i * 7 + (i >> 20));
  big->Write(data.data(), static_cast<std::int32_t>(data.size()));
  big->SetSignature(0xDA02);
  std::thread sender([&] { p.client->Send(big); });
  Ref<IDataBlock> got = server->Receive(true, 0);
  sender.join();
  EXPECT_EQ(got->Signature(), 0xDA02);
  EXPECT_EQ(got->Size(), static_cast<std::int32_t>(data.size()));
  EXPECT_TRUE(DataOf(*got) == data);
}

TEST(TransportTest, ConnectFailuresCarryTheSocketError) {
  platform::ListenSocket closed;
  ASSERT_EQ(closed.Listen("127.0.0.1", 0), 0);
  const std::uint16_t port = closed.Port();
  closed.Close();
  Ref<SocketTransport> t(new SocketTransport);
  t->SetAddress("127.0.0.1");
  t->SetPort(port);
  try {
    t->SetConnected(true);
    FAIL() << "connected";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "Windows socket error: Connection refused (111), on API 'connect'");
  }
  EXPECT_FALSE(t->Connected());

  Ref<SocketTransport> none(new SocketTransport);
  EXPECT_THROW(none->SetConnected(true), ESocketConnectionError);
  Ref<SocketTransport> unknown(new SocketTransport);
  unknown->SetHost("no-such-host.invalid");
  try {
    unknown->SetConnected(true);
    FAIL() << "connected";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(),
                 "Windows socket error: Cannot assign requested address (99), on API 'connect'");
  }

  Pair p;
  try {
    p.client->SetHost("other");
    FAIL() << "changed";
  } catch (const ESocketError& e) {
    EXPECT_STREQ(e.what(), "Can't change value while socket is active");
  }
}

// Turns every data byte over on the way out and back on the way in.
class FlipInterceptor : public IDataIntercept {
 public:
  void Incoming(IDataBlock& b) override { Flip(b); }
  void Outgoing(IDataBlock& b) override { Flip(b); }
  static void Flip(IDataBlock& b) {
    std::uint8_t* m = b.Memory();
    for (std::int32_t i = 0; i < b.Size(); ++i) m[8 + i] ^= 0xFF;
  }
};

TEST(TransportTest, TheInterceptorSeesEveryBlockBothWays) {
  ClassRegistry registry;
  registry.Register(kTestClass, "Test.Flip", [] { return Ref<IUnknown>(new FlipInterceptor); });
  Pair p(&registry, kTestClass.ToString());
  Ref<DataBlock> b = DataBlock::Create();
  b->Write("\x01\x02", 2);
  b->SetSignature(0xDA05);
  p.client->Send(b);
  EXPECT_EQ(ReadExactly(p.peer, 10), Bytes().Block(0xDA05, Bytes().Raw({0xFE, 0xFD})).v);
  WriteAll(p.peer, Bytes().Block(0xDB02, Bytes().Raw({0xF0})).v);
  EXPECT_EQ(DataOf(*p.client->Receive(true, 0)), (std::vector<std::uint8_t>{0x0F}));

  // An interceptor that cannot be made is left out.
  Pair q(&registry, kHiddenClass.ToString());
  q.client->Send(b);
  EXPECT_EQ(ReadExactly(q.peer, 10).size(), 10u);
}

}  // namespace
}  // namespace quor::remote::test
