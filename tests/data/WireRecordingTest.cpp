// A whole terminal session against the real quorvod-server program, recorded
// block by block on the wire and compared with the recording checked in
// beside this file. A relay between the terminal's data module and the server
// cuts both byte streams into blocks; every request and every reply must stay
// byte for byte what the recording holds, so a change anywhere on the data
// path (client stack, interpreter, dispatcher, providers, packet writer) that
// alters a single byte shows here with the block and offset where it starts.
//
// QUOR_RECORD_WIRE=1 writes the recording anew instead of comparing (only
// for a deliberate change of the protocol's bytes).
//
// Three things in a room request's delta differ from run to run by design:
// the change log's identity (random), when the delta was taken and when each
// row was posted (clock times). They are zeroed in both the recording and the
// session before the comparison; every other byte counts.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "DataTestSupport.h"
#include "engine/Packet.h"
#include "platform/EventFd.h"
#include "platform/Socket.h"

namespace quor::data::test {
namespace {

using remote::DispParams;
using remote::Variant;

// One block as it crossed the relay.
struct WireBlock {
  char from = 'T';                  // 'T' the terminal sent it, 'S' the server
  std::vector<std::uint8_t> bytes;  // header and data
  bool operator==(const WireBlock&) const = default;
};

std::string HexWord(std::uint32_t v) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08X", v);
  return buf;
}

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Relays one connection from the terminal to the server and records the
// blocks of both directions in the order they arrive. The terminal waits for
// each reply before it sends again, so that order is the session's own.
class RecordingRelay {
 public:
  explicit RecordingRelay(std::uint16_t serverPort) : serverPort_(serverPort) {
    if (listener_.Listen("127.0.0.1", 0) != 0) throw std::runtime_error("relay: listen failed");
    thread_ = std::thread([this] { Run(); });
  }
  ~RecordingRelay() {
    stop_.Signal();
    if (thread_.joinable()) thread_.join();
  }
  std::uint16_t Port() const { return listener_.Port(); }
  // Waits until both sides have closed; the blocks recorded.
  std::vector<WireBlock> Finish() {
    if (thread_.joinable()) thread_.join();
    return blocks_;
  }
  const std::string& Failure() const { return failure_; }

 private:
  struct Side {
    platform::TcpSocket socket;
    std::vector<std::uint8_t> pending;  // bytes of a block not yet whole
    bool open = true;
    char name = 'T';
  };

  void Run() {
    int err = 0;
    Side terminal{listener_.Accept(30000, stop_.Fd(), err), {}, true, 'T'};
    if (!terminal.socket.Valid()) return Fail("no terminal came");
    Side server{platform::TcpSocket(), {}, true, 'S'};
    if (server.socket.Create() != 0 ||
        server.socket.Connect(platform::DottedToIPv4("127.0.0.1"), serverPort_, 5000, -1) != 0)
      return Fail("cannot reach the server");
    while (terminal.open || server.open) {
      const auto events = [](const Side& s) { return static_cast<short>(s.open ? POLLIN : 0); };
      pollfd fds[3] = {{terminal.socket.Fd(), events(terminal), 0},
                       {server.socket.Fd(), events(server), 0},
                       {stop_.Fd(), POLLIN, 0}};
      if (::poll(fds, 3, 30000) <= 0) return Fail("the session stalled");
      if (fds[2].revents != 0) return;
      if (fds[0].revents != 0 && !Pass(terminal, server)) return;
      if (fds[1].revents != 0 && !Pass(server, terminal)) return;
    }
  }

  // Moves what `from` has to `to`, recording each block that is whole.
  bool Pass(Side& from, Side& to) {
    std::uint8_t buf[65536];
    int err = 0;
    const ssize_t got = from.socket.RecvSome(buf, sizeof buf, err);
    if (got < 0 && err == EAGAIN) return true;
    if (got <= 0) {  // closed: pass the close on
      from.open = false;
      ::shutdown(to.socket.Fd(), SHUT_WR);
      if (!from.pending.empty()) Fail("a block was cut off");
      return true;
    }
    for (ssize_t sent = 0; sent < got;) {
      const ssize_t n = to.socket.SendSome(buf + sent, static_cast<std::size_t>(got - sent), err);
      if (n < 0 && err != EAGAIN) return Fail("relay write failed"), false;
      if (n > 0) sent += n;
    }
    from.pending.insert(from.pending.end(), buf, buf + got);
    while (from.pending.size() >= 8) {
      const std::size_t whole = 8 + Le32(from.pending.data() + 4);
      if (from.pending.size() < whole) break;
      blocks_.push_back(
          WireBlock{from.name,
                    std::vector<std::uint8_t>(from.pending.begin(), from.pending.begin() + whole)});
      from.pending.erase(from.pending.begin(), from.pending.begin() + whole);
    }
    return true;
  }

  void Fail(const std::string& why) { failure_ = why; }

  std::uint16_t serverPort_;
  platform::ListenSocket listener_;
  platform::EventFd stop_;
  std::thread thread_;
  std::vector<WireBlock> blocks_;  // written by the relay thread, read after Finish
  std::string failure_;
};

// Zeroes the value of a delta's dataset parameter `name` (its bytes follow
// the name, a type byte and a 4-byte length).
void ZeroParam(std::span<std::uint8_t> packet, std::string_view name) {
  const auto at = std::search(packet.begin(), packet.end(), name.begin(), name.end());
  if (at == packet.end()) return;
  const auto offset = static_cast<std::size_t>(at - packet.begin()) + name.size();
  if (offset + 5 > packet.size()) return;
  const std::uint32_t length = Le32(packet.data() + offset + 1);
  if (offset + 5 + length > packet.size()) return;
  std::fill_n(packet.begin() + static_cast<std::ptrdiff_t>(offset + 5), length, 0);
}

// Zeroes what a delta carries of chance and the clock (see the top).
void NormaliseDeltas(std::vector<WireBlock>& blocks) {
  static constexpr std::uint8_t kMagic[] = {'Q', 'V', 'D', 'P'};
  for (WireBlock& b : blocks) {
    if (b.from != 'T') continue;
    auto& bytes = b.bytes;
    for (auto at = bytes.begin();
         (at = std::search(at, bytes.end(), std::begin(kMagic), std::end(kMagic))) != bytes.end();
         ++at) {
      const auto offset = static_cast<std::size_t>(at - bytes.begin());
      if (bytes.size() - offset < engine::kPacketHeaderSize ||
          at[5] != static_cast<std::uint8_t>(engine::PacketKind::kDelta))
        continue;
      const std::uint32_t total = Le32(&at[8]);
      if (total > bytes.size() - offset) continue;
      const std::span<std::uint8_t> packet(&*at, total);
      std::vector<std::uint32_t> rows;
      try {
        const engine::PacketReader reader(packet);
        for (std::uint32_t r = 0; r < reader.RowCount(); ++r)
          rows.push_back(
              static_cast<std::uint32_t>(reader.Row(r).Encoded().data() - packet.data()));
      } catch (const engine::PacketError&) {
        continue;  // not a delta of this format: compared as it is
      }
      for (const std::uint32_t row : rows) std::fill_n(packet.begin() + row + 5, 8, 0);
      ZeroParam(packet, engine::kChangeLogParam);
      ZeroParam(packet, engine::kDeltaTimeParam);
    }
  }
}

// The recording's text form: a line per block ("T" or "S", the signature,
// the data size), then its data in lines of 32 bytes in hex.
std::string Render(const std::vector<WireBlock>& blocks) {
  std::ostringstream out;
  out << "# quorvod wire recording: one terminal session against quorvod-server.\n"
      << "# T = terminal to server, S = server to terminal; signature, data size,\n"
      << "# then the data bytes in hex. Written by tests/data/WireRecordingTest.cpp.\n";
  for (const WireBlock& b : blocks) {
    out << b.from << ' ' << HexWord(Le32(b.bytes.data())) << ' ' << (b.bytes.size() - 8) << '\n';
    for (std::size_t i = 8; i < b.bytes.size(); i += 32) {
      out << ' ';
      for (std::size_t j = i; j < std::min(b.bytes.size(), i + 32); ++j) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b.bytes[j]);
        out << hex;
      }
      out << '\n';
    }
  }
  return out.str();
}

std::vector<WireBlock> Parse(const std::string& text) {
  std::vector<WireBlock> blocks;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == ' ') {
      if (blocks.empty()) throw std::runtime_error("recording: data before a block");
      for (std::size_t i = 1; i + 1 < line.size(); i += 2)
        blocks.back().bytes.push_back(
            static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
      continue;
    }
    WireBlock b;
    b.from = line[0];
    const std::uint32_t signature =
        static_cast<std::uint32_t>(std::stoul(line.substr(2, 8), nullptr, 16));
    const std::uint32_t size = static_cast<std::uint32_t>(std::stoul(line.substr(11)));
    for (std::uint32_t v : {signature, size})
      for (int k = 0; k < 4; ++k) b.bytes.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    blocks.push_back(std::move(b));
  }
  return blocks;
}

// Where two recordings part, in words a reader can act on.
std::string FirstDifference(const std::vector<WireBlock>& want, const std::vector<WireBlock>& got) {
  for (std::size_t i = 0; i < std::min(want.size(), got.size()); ++i) {
    if (want[i] == got[i]) continue;
    const auto& w = want[i].bytes;
    const auto& g = got[i].bytes;
    std::size_t at = 0;
    while (at < w.size() && at < g.size() && w[at] == g[at]) ++at;
    return "block " + std::to_string(i + 1) + " (" + want[i].from + " " + HexWord(Le32(w.data())) +
           ") differs from byte " + std::to_string(at) + " of " + std::to_string(w.size()) +
           " (now " + got[i].from + ", " + std::to_string(g.size()) + " bytes)";
  }
  return "the recording has " + std::to_string(want.size()) + " blocks, the session " +
         std::to_string(got.size());
}

std::string RecordingPath() {
  const char* source = std::getenv("QUOR_SOURCE_DIR");
  if (source == nullptr) throw std::runtime_error("QUOR_SOURCE_DIR is not set");
  return std::string(source) + "/tests/data/recordings/terminal-session.txt";
}

// A late-bound call on the server object as a foreign client could make it.
remote::HRESULT RawInvoke(remote::IDispatch& server, std::int32_t dispId, std::uint16_t flags,
                          std::vector<Variant> argsLastFirst,
                          std::vector<std::int32_t> named = {}) {
  DispParams p;
  p.args = std::move(argsLastFirst);
  p.namedArgs = std::move(named);
  Variant result;
  remote::ExcepInfo info;
  return server.Invoke(dispId, {}, 0, flags, p, &result, &info, nullptr);
}

// Everything a room's terminal does in an evening, through the data module
// and the catalogue statements, then the operations it never calls.
void PlayTheSession(DataModule& dm) {
  ASSERT_TRUE(ConnectAndOpen(dm, "127.0.0.1", nullptr));

  ClientDataSet& singer = *dm.singerClientDataSet;
  RunCatalogueQuery(singer, SingerStatement(SingerCategory::Male));
  for (int i = 0; i < 7; ++i) singer.Next();
  singer.MoveBy(-12);

  ClientDataSet& song = *dm.songClientDataSet;
  RunCatalogueQuery(song, SongsOfSingerSlot1Statement(G("刘德华")));
  for (int i = 0; i < 14; ++i) song.Next();
  song.MoveBy(-14);
  RunCatalogueQuery(song, SongsOfSingerStatement(G(kGroupNameUtf8)));
  RunCatalogueQuery(song, SongsOfTypeStatement(G("摇滚")));
  RunCatalogueQuery(song, SongsOfLanguageStatement(G("英语")));
  RunCatalogueQuery(song, SongsByLettersStatement("WQS1"));
  RunCatalogueQuery(song, SongByNumberStatement("10028"));
  RunCatalogueQuery(song, SongByNumberStatement("99999"));  // no row
  EXPECT_THROW(RunCatalogueQuery(song, "delete from vodinfo"), std::exception);

  // The player's path lookup (one row a packet), then a walk that makes the
  // provider send further packets of one row each until it has no more.
  ClientDataSet& play = *dm.playClientDataSet;
  RunCatalogueQuery(play, MediaPathStatement("10005 " + G("刘德华.忘情水5")));
  EXPECT_EQ(play.FieldByName("PATH1").AsString(), "\\\\quorvod\\quorvod\\songs\\10005.mp4");
  RunCatalogueQuery(play, SongsOfTypeStatement(G("摇滚")));
  while (!play.Eof()) play.Next();

  SendRoomRequest(*dm.tempClientDataSet, "Room8");
  SendRoomRequest(*dm.tempClientDataSet, G("包厢12"));

  // The operations the terminal never calls, and calls no terminal makes.
  remote::Ref<remote::IAppServer> app = dm.SocketConnection->ServerInterface();
  Variant result, owner, params;
  EXPECT_EQ(app->AS_GetProviderNames(result), remote::S_OK);
  EXPECT_EQ(app->AS_GetParams(u"songDataSetProvider", owner, result), remote::S_OK);
  EXPECT_EQ(app->AS_DataRequest(u"tempDataSetProvider", Variant::I4(7), result), remote::S_OK);
  EXPECT_NE(app->AS_RowRequest(u"songDataSetProvider", Variant(), 1, owner, result), remote::S_OK);
  EXPECT_EQ(app->AS_Execute(u"songDataSetProvider", u"select count(*) from vodinfo", params, owner),
            remote::S_OK);
  std::int32_t recsOut = 0;
  EXPECT_NE(app->AS_GetRecords(u"noSuchProvider", -1, recsOut, 1, u"", params, owner, result),
            remote::S_OK);
  (void)remote::TakeErrorInfo();

  remote::Ref<remote::IDispatch> server = dm.SocketConnection->AppServer().AsDispatch();
  std::int32_t id = 0;
  const std::u16string lower = u"as_getrecords";
  EXPECT_EQ(server->GetIDsOfNames({}, &lower, 1, 0, &id), remote::S_OK);
  const std::u16string unknown = u"AS_Nothing";
  EXPECT_NE(server->GetIDsOfNames({}, &unknown, 1, 0, &id), remote::S_OK);
  EXPECT_NE(RawInvoke(*server, 20000003, remote::DISPATCH_PROPERTYGET, {}), remote::S_OK);
  EXPECT_NE(RawInvoke(*server, 20000099, remote::DISPATCH_METHOD, {}), remote::S_OK);
  EXPECT_NE(RawInvoke(*server, 20000004, remote::DISPATCH_METHOD, {Variant::Str(u"x")}),
            remote::S_OK);
  EXPECT_NE(RawInvoke(*server, 20000004, remote::DISPATCH_METHOD,
                      {Variant(), Variant::Str(u"songDataSetProvider")}, {1}),
            remote::S_OK);
  EXPECT_NE(RawInvoke(*server, 20000002, remote::DISPATCH_METHOD,
                      {Variant(), Variant::I4(5)}),  // the provider name as a number
            remote::S_OK);
  Variant count = Variant::I4(3);
  EXPECT_EQ(RawInvoke(*server, 20000001, remote::DISPATCH_METHOD | remote::DISPATCH_PROPERTYGET,
                      {Variant(), Variant(), Variant::Str(u"select SINGID from vodinfo"),
                       Variant::I2(1), Variant::ByRef(remote::VT_I4, count), Variant::UI1(2),
                       Variant::Str(u"SONGDATASETPROVIDER")}),
            remote::S_OK);
  EXPECT_EQ(count.AsI4(), 2);
}

TEST(WireRecordingTest, ATerminalSessionKeepsEveryByteOfItsRecording) {
  UseBuiltEngine();
  const std::string folder = TempFolder("wire");
  BuildCatalogue(folder + "/catalogue.db");
  ServerProcess server(folder + "/catalogue.db", folder + "/requests.log");
  server.Start();
  RecordingRelay relay(server.Port());
  {
    TerminalFixture terminal(relay.Port());
    PlayTheSession(*terminal.dm);
  }  // the module disconnects: the server object is freed, the socket closed
  std::vector<WireBlock> got = relay.Finish();
  NormaliseDeltas(got);
  server.Stop();
  std::filesystem::remove_all(folder);
  ASSERT_EQ(relay.Failure(), "");

  const std::string path = RecordingPath();
  const char* record = std::getenv("QUOR_RECORD_WIRE");
  if (record != nullptr && std::string(record) == "1") {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << Render(got);
    GTEST_SKIP() << "recorded " << got.size() << " blocks into " << path;
  }
  std::vector<WireBlock> want = Parse(ReadFile(path));
  NormaliseDeltas(want);
  ASSERT_FALSE(want.empty()) << path << " is missing or empty";
  if (want != got) {
    const std::string now = std::filesystem::current_path().string() + "/terminal-session.now.txt";
    std::ofstream(now, std::ios::binary) << Render(got);
    ADD_FAILURE() << FirstDifference(want, got) << "; this session's recording is " << now;
  }
}

}  // namespace
}  // namespace quor::data::test
