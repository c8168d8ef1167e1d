// SocketConnection end to end over loopback: a real server session on the
// other side (or a raw peer for broken servers), the transport thread, the
// filtered wait and the GUI loop hook.

#include <gtest/gtest.h>
#include <poll.h>

#include "RemoteTestSupport.h"

namespace quor::remote::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr char kAppClassText[] = "{6EE68EED-0503-48A7-8626-C11D1330E902}";

std::atomic<int> gLiveObjects{0};

class CountedObject : public TestObject {
 public:
  CountedObject() { ++gLiveObjects; }
  ~CountedObject() override { --gLiveObjects; }
};

Variant CallByName(IDispatch& object, const std::u16string& name, std::vector<Variant> args,
                   HRESULT* hrOut = nullptr) {
  std::int32_t id = 0;
  EXPECT_EQ(object.GetIDsOfNames({}, &name, 1, 0, &id), S_OK);
  DispParams p;
  p.args = std::move(args);
  Variant result;
  ExcepInfo ei;
  const HRESULT hr = object.Invoke(id, {}, 0, DISPATCH_METHOD, p, &result, &ei, nullptr);
  if (hrOut) *hrOut = hr;
  return result;
}

Ref<IUnknown> MakeServerObject() {
  Ref<CountedObject> o(new CountedObject);
  o->Add(u"Add", 1, [](DispParams& p, Variant* r, ExcepInfo*) {
    *r = Variant::I4(p.args[1].AsI4() + p.args[0].AsI4());
    return S_OK;
  });
  o->Add(u"Twice", 2, [](DispParams& p, Variant* r, ExcepInfo*) {
    Variant& count = p.args[0].RefTarget();
    count = Variant::I4(count.AsI4() * 2);
    p.args[1].RefTarget() = Variant::Str(u"set");
    *r = Variant::Bool(true);
    return S_OK;
  });
  o->Add(u"Throw", 3,
         [](DispParams&, Variant*, ExcepInfo*) -> HRESULT { throw Exception("服务器: boom"); });
  // Calls Ping on the caller's object before it answers.
  o->Add(u"CallBack", 4, [](DispParams& p, Variant* r, ExcepInfo*) {
    Ref<IDispatch> caller = p.args[0].AsDispatch();
    *r = CallByName(*caller, u"Ping", {Variant::Str(u"ping")});
    return S_OK;
  });
  return o;
}

class FakeAppServer : public AppServerDispatcher {
 public:
  HRESULT AS_ApplyUpdates(const std::u16string&, const Variant&, std::int32_t, std::int32_t&,
                          Variant&, Variant&) override {
    throw Exception("no such provider");
  }
  HRESULT AS_GetRecords(const std::u16string& provider, std::int32_t count, std::int32_t& recsOut,
                        std::int32_t, const std::u16string& command, Variant&, Variant& ownerData,
                        Variant& result) override {
    const std::string bytes = platform::Utf16ToUtf8(provider + u"|" + command);
    result = Variant::Array(SafeArray::FromBytes(bytes.data(), bytes.size()));
    recsOut = count < 0 ? 3 : count;
    ownerData = Variant::Str(u"owner");
    return S_OK;
  }
  HRESULT AS_DataRequest(const std::u16string&, const Variant& data, Variant& result) override {
    result = data;
    return S_OK;
  }
  HRESULT AS_GetProviderNames(Variant& result) override {
    result = Variant::Null();
    return S_OK;
  }
  HRESULT AS_GetParams(const std::u16string&, Variant&, Variant&) override { return E_NOTIMPL; }
  HRESULT AS_RowRequest(const std::u16string&, const Variant&, std::int32_t, Variant&,
                        Variant&) override {
    return E_NOTIMPL;
  }
  HRESULT AS_Execute(const std::u16string&, const std::u16string&, Variant&, Variant&) override {
    return S_OK;
  }
};

class Recorder : public ConnectionClient {
 public:
  Recorder(std::vector<std::string>& log, std::string name) : log_(log), name_(std::move(name)) {}
  void ConnectionOpened(SocketConnection& c) override {
    log_.push_back(name_ + (c.Connected() ? " opened" : " opened?"));
  }
  void ConnectionClosing(SocketConnection& c) override {
    log_.push_back(name_ + (c.Connected() ? " closing" : " closing?"));
  }

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

class ConnectionTest : public ::testing::Test {
 protected:
  ConnectionTest() {
    registry.Register(kTestClass, "Test.Object", MakeServerObject);
    registry.SetValue(kTestClass, "Sockets", "1");
    registry.Register(kHiddenClass, "Test.Hidden", MakeServerObject);
    registry.Register(*platform::Guid::Parse(kAppClassText), "Lyrahub.DM",
                      [] { return Ref<IUnknown>(new FakeAppServer); });
    registry.SetValue(*platform::Guid::Parse(kAppClassText), "Sockets", "1");
  }
  void Point(SocketConnection& c, std::uint16_t port) {
    c.SetHost("127.0.0.1");
    c.SetPort(port);
  }
  static std::string ConnectError(SocketConnection& c) {
    try {
      c.SetConnected(true);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "no error";
  }
  ClassRegistry registry;  // the server's
  TestServer server{registry};
  TestLoop loop;
};

TEST_F(ConnectionTest, CreateGetIdAndInvokeWithReferencesComingBack) {
  SocketConnection c(loop);
  Point(c, server.Port());
  c.SetServerGUID(kTestClass.ToString());
  c.SetConnected(true);
  ASSERT_TRUE(c.Connected());
  EXPECT_TRUE(c.HasTransportThread());
  Ref<IDispatch> object = c.AppServer().AsDispatch();
  EXPECT_EQ(CallByName(*object, u"Add", {Variant::I4(40), Variant::I4(2)}), Variant::I4(42));

  Variant count = Variant::I4(21);
  Variant owner = Variant::Null();
  EXPECT_EQ(CallByName(*object, u"Twice",
                       {Variant::ByRef(VT_I4, count), Variant::ByRef(VT_VARIANT, owner)}),
            Variant::Bool(true));
  EXPECT_EQ(count, Variant::I4(42));
  EXPECT_EQ(owner, Variant::Str(u"set"));

  std::int32_t id = 0;
  const std::u16string missing = u"Missing";
  EXPECT_EQ(object->GetIDsOfNames({}, &missing, 1, 0, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(ConnectionTest, APeerRequestDuringTheWaitIsAnsweredBeforeTheReply) {
  SocketConnection c(loop);
  Point(c, server.Port());
  c.SetServerName("Test.Object");  // no local registry: the name travels as it is
  c.SetConnected(true);
  std::vector<std::string> order;
  Ref<TestObject> local(new TestObject);
  local->Add(u"Ping", 7, [&](DispParams& p, Variant* r, ExcepInfo*) {
    order.push_back("ping " + p.args[0].ToText());
    *r = Variant::Str(u"pong");
    return S_OK;
  });
  const Variant answer =
      CallByName(*c.AppServer().AsDispatch(), u"CallBack", {Variant::Dispatch(local)});
  order.push_back("reply " + answer.ToText());
  EXPECT_EQ(order, (std::vector<std::string>{"ping ping", "reply pong"}));
  EXPECT_TRUE(loop.errors.empty());
}

TEST_F(ConnectionTest, OurOwnSlowAnswerToThePeerIsNoSilenceOfThePeer) {
  SocketConnection c(loop);
  Point(c, server.Port());
  c.SetServerGUID(kTestClass.ToString());
  c.SetReplyTimeout(200);
  c.SetConnected(true);
  Ref<TestObject> local(new TestObject);
  local->Add(u"Ping", 7, [](DispParams&, Variant* r, ExcepInfo*) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the peer waits for us
    *r = Variant::I4(1);
    return S_OK;
  });
  EXPECT_EQ(CallByName(*c.AppServer().AsDispatch(), u"CallBack", {Variant::Dispatch(local)}),
            Variant::I4(1));
  EXPECT_TRUE(c.Connected());
}

TEST_F(ConnectionTest, ThePeersErrorTextIsRaisedHere) {
  SocketConnection c(loop);
  Point(c, server.Port());
  c.SetServerGUID(kTestClass.ToString());
  c.SetConnected(true);
  HRESULT hr = S_OK;
  try {
    CallByName(*c.AppServer().AsDispatch(), u"Throw", {}, &hr);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "服务器: boom");
  }
  EXPECT_TRUE(c.Connected());  // an error reply leaves the connection up

  SocketConnection hidden(loop);
  Point(hidden, server.Port());
  hidden.SetServerGUID(kHiddenClass.ToString());
  EXPECT_EQ(ConnectError(hidden), "Object not available: {99999999-2222-3333-4444-555555555555}");
  EXPECT_FALSE(hidden.Connected());
  EXPECT_FALSE(hidden.HasTransportThread());
}

TEST_F(ConnectionTest, AppServerCallsTravelThroughServerInterface) {
  SocketConnection c(loop);
  Point(c, server.Port());
  c.SetServerGUID(kAppClassText);
  c.SetServerName("Lyrahub.DM");
  Ref<IAppServer> app = c.ServerInterface();  // connects
  ASSERT_TRUE(c.Connected());
  std::int32_t recsOut = 0;
  Variant params = Variant::Null();
  Variant owner;
  Variant packet;
  ASSERT_EQ(app->AS_GetRecords(u"songDataSetProvider", -1, recsOut, 1, u"select 1", params, owner,
                               packet),
            S_OK);
  EXPECT_EQ(recsOut, 3);
  EXPECT_EQ(owner, Variant::Str(u"owner"));
  const std::string expected = "songDataSetProvider|select 1";
  ASSERT_EQ(packet.Type(), VT_ARRAY | VT_UI1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet.AsArray().Data()),
                        packet.AsArray().ByteCount()),
            expected);

  std::int32_t errors = 0;
  Variant answer;
  const HRESULT hr =
      app->AS_ApplyUpdates(u"tempDataSetProvider", Variant::Null(), -1, errors, owner, answer);
  EXPECT_TRUE(Failed(hr));
  EXPECT_EQ(TakeErrorInfo()->description, "no such provider");
}

TEST_F(ConnectionTest, ClientsAreToldInOrderAndDisconnectFreesTheServerObject) {
  std::vector<std::string> log;
  Recorder first(log, "first");
  Recorder second(log, "second");
  SocketConnection c(loop);
  c.RegisterClient(&first);
  c.RegisterClient(&second);
  c.RegisterClient(&first);  // once only
  Point(c, server.Port());
  c.SetServerGUID(kTestClass.ToString());
  c.AfterConnect = [&] { log.push_back("after connect"); };
  c.SetConnected(true);
  EXPECT_EQ(gLiveObjects.load(), 1);
  c.SetConnected(false);
  EXPECT_FALSE(c.Connected());
  EXPECT_FALSE(c.HasTransportThread());
  EXPECT_EQ(log, (std::vector<std::string>{"first opened", "second opened", "after connect",
                                           "first closing", "second closing"}));
  // The free request reached the server before the transport closed.
  for (int i = 0; i < 200 && gLiveObjects.load() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(gLiveObjects.load(), 0);
  c.UnregisterClient(&first);
}

TEST_F(ConnectionTest, WithoutCallbacksTheCallerMovesTheBlocks) {
  SocketConnection c(loop);
  c.SetSupportCallbacks(false);
  Point(c, server.Port());
  c.SetServerGUID(kTestClass.ToString());
  c.SetConnected(true);
  EXPECT_FALSE(c.HasTransportThread());
  EXPECT_EQ(CallByName(*c.AppServer().AsDispatch(), u"Add", {Variant::I4(1), Variant::I4(2)}),
            Variant::I4(3));
  Ref<TestObject> local(new TestObject);
  local->Add(u"Ping", 7, [](DispParams&, Variant* r, ExcepInfo*) {
    *r = Variant::I4(7);
    return S_OK;
  });
  EXPECT_EQ(CallByName(*c.AppServer().AsDispatch(), u"CallBack", {Variant::Dispatch(local)}),
            Variant::I4(7));
  c.SetConnected(false);
}

TEST_F(ConnectionTest, PropertiesFollowTheirSetterRules) {
  ClassRegistry local;
  local.Register(kTestClass, "Test.Object", nullptr);
  SocketConnection c(loop, &local);
  EXPECT_EQ(c.Port(), 211);
  EXPECT_TRUE(c.SupportCallbacks());
  EXPECT_EQ(c.ServerGUID(), "");
  c.SetAddress("10.0.0.1");
  c.SetHost("");
  EXPECT_EQ(c.Address(), "10.0.0.1");  // an empty host leaves the address
  c.SetHost("server");
  EXPECT_EQ(c.Address(), "");
  c.SetAddress("10.0.0.2");
  EXPECT_EQ(c.Host(), "");

  c.SetServerGUID(kTestClass.ToString());
  EXPECT_EQ(c.ServerName(), "Test.Object");  // the registry's program id
  c.SetServerName("Unknown.Name");
  EXPECT_EQ(c.ServerGUID(), "");  // all zeros when the registry has none
  c.SetLoading(true);
  c.SetServerGUID(kAppClassText);
  c.SetServerName("Lyrahub.DM");
  c.SetLoading(false);
  EXPECT_EQ(c.ServerGUID(), kAppClassText);
  EXPECT_THROW(c.SetServerGUID("{bad}"), Exception);

  SocketConnection nameless(loop);
  nameless.SetHost("127.0.0.1");
  EXPECT_EQ(ConnectError(nameless),
            "Cannot connect, SocketConnection must contain a valid ServerName or ServerGUID");
  SocketConnection nowhere(loop);
  nowhere.SetServerName("Test.Object");
  try {
    nowhere.SetConnected(true);
    FAIL() << "connected";
  } catch (const ESocketConnectionError& e) {
    EXPECT_STREQ(e.what(), "No address specified");
  }
}

TEST_F(ConnectionTest, ServerListOpensTheTransportJustForIt) {
  SocketConnection c(loop);
  Point(c, server.Port());
  const Variant list = c.ServerList();
  ASSERT_EQ(list.Type(), VT_ARRAY | VT_BSTR);
  EXPECT_EQ(list.AsArray().ElementCount(), 2u);  // the two classes with "Sockets" = "1"
  EXPECT_FALSE(c.HasTransportThread());
  EXPECT_FALSE(c.Connected());
}

// A raw peer: accepts one connection and runs `script` on it.
class RawPeer {
 public:
  explicit RawPeer(std::function<void(platform::TcpSocket&, platform::EventFd&)> script) {
    EXPECT_EQ(listener_.Listen("127.0.0.1", 0), 0);
    thread_ = std::thread([this, script = std::move(script)] {
      int err = 0;
      platform::TcpSocket s = listener_.Accept(10000, done_.Fd(), err);
      if (s.Valid()) script(s, done_);
    });
  }
  ~RawPeer() {
    done_.Signal();
    thread_.join();
  }
  std::uint16_t Port() const { return listener_.Port(); }

 private:
  platform::ListenSocket listener_;
  platform::EventFd done_;
  std::thread thread_;
};

// Reads one whole block from a raw socket (empty on close).
std::vector<std::uint8_t> ReadBlock(platform::TcpSocket& s) {
  std::vector<std::uint8_t> out;
  std::size_t want = 8;
  while (out.size() < want) {
    int err = 0;
    if (platform::WaitFd(s.Fd(), POLLIN, 5000, -1, err) != platform::WaitResult::kReady) break;
    std::uint8_t buf[4096];
    const ssize_t n = s.RecvSome(buf, std::min(sizeof buf, want - out.size()), err);
    if (n == 0) break;
    if (n > 0) out.insert(out.end(), buf, buf + n);
    if (out.size() == 8 && want == 8) {
      std::int32_t size = 0;
      std::memcpy(&size, out.data() + 4, 4);
      want += static_cast<std::size_t>(size);
    }
  }
  return out;
}

void Write(platform::TcpSocket& s, const Bytes& b) {
  int err = 0;
  EXPECT_EQ(s.SendSome(b.v.data(), b.v.size(), err), static_cast<ssize_t>(b.v.size()));
}

TEST_F(ConnectionTest, APeerClosingMidReplyIsAReadError) {
  RawPeer peer([](platform::TcpSocket& s, platform::EventFd&) {
    ReadBlock(s);
    Write(s, Bytes().I32(0xDB04).I32(8).I32(9));  // half of the data
    s.Close();
  });
  SocketConnection c(loop);
  Point(c, peer.Port());
  c.SetServerGUID(kTestClass.ToString());
  EXPECT_EQ(ConnectError(c), "Error reading from socket");
  EXPECT_FALSE(c.Connected());
  EXPECT_FALSE(c.HasTransportThread());
}

TEST_F(ConnectionTest, ASilentPeerTimesOutAndTheTransportCloses) {
  RawPeer peer([](platform::TcpSocket& s, platform::EventFd& done) {
    EXPECT_FALSE(ReadBlock(s).empty());
    int err = 0;
    platform::WaitFd(done.Fd(), POLLIN, 10000, -1, err);  // never answers
  });
  SocketConnection c(loop);
  Point(c, peer.Port());
  c.SetServerGUID(kTestClass.ToString());
  c.SetReplyTimeout(300);
  const auto start = Clock::now();
  EXPECT_EQ(ConnectError(c), "Expected return value not received");
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  EXPECT_GE(ms, 290);
  EXPECT_LT(ms, 5000);
  EXPECT_FALSE(c.Connected());
  EXPECT_FALSE(c.HasTransportThread());
}

TEST_F(ConnectionTest, ARefusedConnectLeavesNoThreadBehind) {
  platform::ListenSocket closed;
  ASSERT_EQ(closed.Listen("127.0.0.1", 0), 0);
  const std::uint16_t port = closed.Port();
  closed.Close();
  const int threadsBefore = ThreadCount();
  SocketConnection c(loop);
  c.SetAddress("127.0.0.1");
  c.SetPort(port);
  c.SetServerGUID(kTestClass.ToString());
  EXPECT_EQ(ConnectError(c), "Windows socket error: Connection refused (111), on API 'connect'");
  EXPECT_FALSE(c.Connected());
  EXPECT_FALSE(c.HasTransportThread());
  EXPECT_EQ(ThreadCount(), threadsBefore);
}

TEST_F(ConnectionTest, BlocksNobodyWaitsForGoThroughTheLoop) {
  RawPeer peer([](platform::TcpSocket& s, platform::EventFd&) {
    ReadBlock(s);
    Write(s, Bytes().Block(0xDB04, Bytes().I32(9).I32(0)));           // the server object
    Write(s, Bytes().Block(0xDB01, Bytes().I32(8).Text(u"notice")));  // unasked error block
    Write(s, Bytes().Block(0xDA03, Bytes().I32(3).I32(5).I32(8).Text(u"X")));  // a request
    const std::vector<std::uint8_t> answer = ReadBlock(s);
    EXPECT_EQ(std::vector<std::uint8_t>(answer.begin(), answer.begin() + 4),
              (Bytes().I32(0xDB01).v));  // object 5 was never handed out
    s.Close();                           // the connection is lost between calls
  });
  SocketConnection c(loop);
  Point(c, peer.Port());
  c.SetLoading(true);
  c.SetServerGUID(kTestClass.ToString());
  c.SetServerName("Other.Name");
  c.SetLoading(false);
  c.SetConnected(true);
  ASSERT_TRUE(c.Connected());
  EXPECT_TRUE(loop.PumpUntil([&] { return !c.Connected(); }));
  ASSERT_GE(loop.errors.size(), 2u);
  EXPECT_EQ(loop.errors[0], "notice");
  EXPECT_EQ(loop.errors[1], "Error reading from socket");
  EXPECT_FALSE(c.HasTransportThread());
}

}  // namespace
}  // namespace quor::remote::test
