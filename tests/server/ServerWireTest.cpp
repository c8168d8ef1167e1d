// The server's bytes on the wire, written and read by hand: the requests a
// terminal sends and the replies it must get, independent of our client code.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "engine/Packet.h"
#include "server/RequestLog.h"
#include "server/Server.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

class Bytes {
 public:
  Bytes& I32(std::int32_t v) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& U16(std::uint16_t v) {
    data_.push_back(static_cast<std::uint8_t>(v));
    data_.push_back(static_cast<std::uint8_t>(v >> 8));
    return *this;
  }
  Bytes& Int(std::int32_t v) { return I32(3).I32(v); }  // VT_I4
  Bytes& Str(const std::u16string& s) {
    I32(8).I32(static_cast<std::int32_t>(s.size()));
    for (const char16_t c : s) U16(c);
    return *this;
  }
  const std::vector<std::uint8_t>& Data() const { return data_; }

 private:
  std::vector<std::uint8_t> data_;
};

// One connection that writes blocks and reads replies word by word.
class Wire {
 public:
  explicit Wire(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) ADD_FAILURE();
    timeval tv{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~Wire() { close(fd_); }

  void Send(std::int32_t signature, const Bytes& data) {
    Bytes block;
    block.I32(signature).I32(static_cast<std::int32_t>(data.Data().size()));
    std::vector<std::uint8_t> all = block.Data();
    all.insert(all.end(), data.Data().begin(), data.Data().end());
    ASSERT_EQ(send(fd_, all.data(), all.size(), MSG_NOSIGNAL), static_cast<ssize_t>(all.size()));
  }

  // Reads one reply block; returns its signature.
  std::int32_t Receive() {
    std::uint8_t header[8];
    if (!ReadAll(header, 8)) return 0;
    std::int32_t signature, size;
    std::memcpy(&signature, header, 4);
    std::memcpy(&size, header + 4, 4);
    reply_.assign(static_cast<std::size_t>(size), 0);
    pos_ = 0;
    if (!ReadAll(reply_.data(), reply_.size())) return 0;
    return signature;
  }
  std::int32_t Word() {
    std::int32_t v = 0;
    if (pos_ + 4 > reply_.size()) {
      ADD_FAILURE() << "reply too short";
      return 0;
    }
    std::memcpy(&v, reply_.data() + pos_, 4);
    pos_ += 4;
    return v;
  }
  std::u16string Text() {
    const std::int32_t n = Word();
    std::u16string s(static_cast<std::size_t>(n), u'\0');
    std::memcpy(s.data(), reply_.data() + pos_, s.size() * 2);
    pos_ += s.size() * 2;
    return s;
  }
  std::vector<std::uint8_t> Raw(std::size_t n) {
    std::vector<std::uint8_t> out(reply_.begin() + static_cast<long>(pos_),
                                  reply_.begin() + static_cast<long>(pos_ + n));
    pos_ += n;
    return out;
  }
  std::size_t Left() const { return reply_.size() - pos_; }
  // The server closed the connection (with unread input the kernel resets it).
  bool PeerClosed() {
    std::uint8_t b;
    const ssize_t got = recv(fd_, &b, 1, 0);
    return got == 0 || (got < 0 && errno == ECONNRESET);
  }

 private:
  bool ReadAll(std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      const ssize_t got = recv(fd_, p, n, 0);
      if (got <= 0) return false;
      p += got;
      n -= static_cast<std::size_t>(got);
    }
    return true;
  }
  int fd_ = -1;
  std::vector<std::uint8_t> reply_;
  std::size_t pos_ = 0;
};

class ServerWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    catalogue_ = testing::SqlTestCatalogue::Create(testing::Flavour::Sqlite, "", whyNot);
    ServerOptions options;
    options.sqlitePath = catalogue_->ServerArgument();
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    log_ = RequestLog::Open("/dev/null");
    server_ = std::make_unique<Server>(options, *log_);
    server_->Start();
    thread_ = std::thread([this] { server_->Serve(); });
  }
  void TearDown() override {
    server_->Stop();
    thread_.join();
  }

  // Creates the server object; returns its id.
  std::int32_t Create(Wire& wire) {
    wire.Send(0xDA04, Bytes().Str(u"{6EE68EED-0503-48A7-8626-C11D1330E902}"));
    EXPECT_EQ(wire.Receive(), 0xDB04);
    EXPECT_EQ(wire.Word(), 9);  // VT_DISPATCH and the object id
    return wire.Word();
  }

  // AS_GetRecords exactly as a terminal sends it, arguments last first.
  static Bytes GetRecords(std::int32_t object, std::int32_t count, std::int32_t options,
                          const std::u16string& command) {
    Bytes b;
    b.Int(object).Int(20000001).Int(1).I32(11).U16(0xFFFF).Int(7).Int(0);
    b.I32(0x4000).I32(0);   // OwnerData: by reference, empty
    b.I32(0x4000).I32(1);   // Params: by reference, null
    b.Str(command);         // CommandText
    b.Int(options);         // Options
    b.I32(0x4003).I32(-1);  // RecsOut by reference
    b.Int(count);           // Count
    b.Str(u"songDataSetProvider");
    return b;
  }

  std::unique_ptr<testing::SqlTestCatalogue> catalogue_;
  std::unique_ptr<RequestLog> log_;
  std::unique_ptr<Server> server_;
  std::thread thread_;
};

TEST_F(ServerWireTest, AnswersGetRecordsWithTheByReferenceValuesAndThePacket) {
  Wire wire(server_->Port());
  const std::int32_t id = Create(wire);
  EXPECT_EQ(id, 0);  // the first object handed out
  wire.Send(0xDA02, GetRecords(id, -1, 1, u"select SINGID,SINGNAME,SINGER from vodinfo"));
  ASSERT_EQ(wire.Receive(), 0xDB02);
  EXPECT_EQ(wire.Word(), 3);  // HRESULT as VT_I4: 0
  EXPECT_EQ(wire.Word(), 0);
  EXPECT_EQ(wire.Word(), 0x4000);  // OwnerData comes back: empty
  EXPECT_EQ(wire.Word(), 0);
  EXPECT_EQ(wire.Word(), 0x4000);  // Params: null
  EXPECT_EQ(wire.Word(), 1);
  EXPECT_EQ(wire.Word(), 0x4003);  // RecsOut
  EXPECT_EQ(wire.Word(), 25);
  EXPECT_EQ(wire.Word(), 0x2011);  // the packet: a one-dimensional byte array
  EXPECT_EQ(wire.Word(), 1);
  EXPECT_EQ(wire.Word(), 0);
  const std::int32_t high = wire.Word();
  EXPECT_EQ(wire.Word(), high + 1);
  const auto packet = wire.Raw(static_cast<std::size_t>(high + 1));
  EXPECT_EQ(wire.Left(), 0u);
  engine::PacketReader reader(packet);
  EXPECT_EQ(reader.RowCount(), 25u);
  EXPECT_EQ(reader.Row(0).TextUtf8(1), "歌曲1");
}

TEST_F(ServerWireTest, AnswersAFailureWithTheExceptionCodeAndDescription) {
  Wire wire(server_->Port());
  const std::int32_t id = Create(wire);
  wire.Send(0xDA02, GetRecords(id, -1, 1, u"delete from vodinfo"));
  ASSERT_EQ(wire.Receive(), 0xDB02);
  EXPECT_EQ(wire.Word(), 3);
  EXPECT_EQ(static_cast<std::uint32_t>(wire.Word()), 0x80020009u);  // DISP_E_EXCEPTION
  EXPECT_EQ(wire.Word(), 3);                                        // the error code
  wire.Word();
  EXPECT_EQ(wire.Word(), 8);  // the description
  EXPECT_EQ(wire.Text(), u"Only a read-only statement may be run");
}

TEST_F(ServerWireTest, AnswersGetIdAndRefusesOtherClasses) {
  Wire wire(server_->Port());
  const std::int32_t id = Create(wire);
  wire.Send(0xDA03, Bytes().Int(id).Str(u"AS_GetRecords"));
  ASSERT_EQ(wire.Receive(), 0xDB03);
  EXPECT_EQ(wire.Word(), 3);
  EXPECT_EQ(wire.Word(), 0);
  EXPECT_EQ(wire.Word(), 3);
  EXPECT_EQ(wire.Word(), 20000001);

  wire.Send(0xDA04, Bytes().Str(u"{11111111-2222-3333-4444-555555555555}"));
  ASSERT_EQ(wire.Receive(), 0xDB01);
  EXPECT_EQ(wire.Word(), 8);
  EXPECT_EQ(wire.Text(), u"Object not available: {11111111-2222-3333-4444-555555555555}");

  // Free-object has no reply; the session goes on.
  wire.Send(0xDA05, Bytes().Int(id));
  wire.Send(0xDA02, GetRecords(id, -1, 1, u"select 1"));
  ASSERT_EQ(wire.Receive(), 0xDB01);  // the object is gone: an error reply
}

TEST_F(ServerWireTest, ClosesAStreamThatIsNotTheProtocol) {
  Wire wire(server_->Port());
  Bytes junk;
  junk.I32(0x12345678).I32(4).I32(0);
  wire.Send(0x12345678, junk);
  EXPECT_TRUE(wire.PeerClosed());
  // Others are served as before.
  Wire other(server_->Port());
  EXPECT_EQ(Create(other), 0);
}

}  // namespace
}  // namespace quor::server
