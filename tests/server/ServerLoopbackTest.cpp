// The server over loopback, driven by the terminal's half of the remote
// protocol (SocketConnection and its IAppServer), on both databases.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/Packet.h"
#include "platform/Codepage.h"
#include "remote/Remote.h"
#include "server/AppServerObject.h"
#include "server/RequestLog.h"
#include "server/Server.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

using remote::Variant;
using testing::Flavour;
using ::testing::HasSubstr;

constexpr char kServerGuid[] = "{6EE68EED-0503-48A7-8626-C11D1330E902}";

class NoLoop final : public remote::MessageLoop {
 public:
  void Post(std::function<void()>) override {}
  void ReportError(const std::exception&) override {}
};

// A server on a free loopback port, serving on a thread of its own.
class RunningServer {
 public:
  RunningServer(const testing::SqlTestCatalogue& catalogue, const std::string& logPath,
                unsigned maxSessions = kDefaultMaxSessions) {
    ServerOptions options;
    if (catalogue.Kind() == Flavour::Sqlite) {
      options.sqlitePath = catalogue.ServerArgument();
    } else {
      options.mariadb = ParseMariaDbUri(catalogue.ServerArgument());
    }
    options.bindAddress = "127.0.0.1";
    options.port = 0;
    options.maxSessions = maxSessions;
    log_ = RequestLog::Open(logPath);
    server_ = std::make_unique<Server>(options, *log_);
    server_->Start();
    thread_ = std::thread([this] { server_->Serve(); });
  }
  ~RunningServer() {
    server_->Stop();
    thread_.join();
  }
  std::uint16_t Port() const { return server_->Port(); }
  Server& Get() { return *server_; }

 private:
  std::unique_ptr<RequestLog> log_;
  std::unique_ptr<Server> server_;
  std::thread thread_;
};

// What a terminal sees of one AS_GetRecords call.
struct Records {
  std::int32_t recsOut = -99;
  Variant packet;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> names;
};

class ServerLoopbackTest : public ::testing::TestWithParam<Flavour> {
 protected:
  void SetUp() override {
    std::string whyNot;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    catalogue_ =
        testing::SqlTestCatalogue::Create(GetParam(), std::string("L") + info->name(), whyNot);
    if (!catalogue_) GTEST_SKIP() << "MariaDB tests skipped: " << whyNot;
    std::string name = info->name();
    for (char& c : name) c = c == '/' ? '_' : c;
    logPath_ = "/tmp/quor-server-test-" + std::to_string(::getpid()) + "-" + name + ".log";
    server_ = std::make_unique<RunningServer>(*catalogue_, logPath_);
  }
  void TearDown() override {
    connection_.reset();
    server_.reset();
    std::remove(logPath_.c_str());
  }

  std::unique_ptr<remote::SocketConnection> Connect(const std::string& serverId = kServerGuid) {
    auto connection = std::make_unique<remote::SocketConnection>(loop_);
    connection->SetSupportCallbacks(false);
    connection->SetHost("127.0.0.1");
    connection->SetPort(server_->Port());
    if (serverId.front() == '{') {
      connection->SetServerGUID(serverId);
    } else {
      connection->SetServerName(serverId);
    }
    connection->SetConnected(true);
    return connection;
  }

  remote::IAppServer& App() {
    if (!connection_) connection_ = Connect();
    if (!app_) app_ = connection_->ServerInterface();
    return *app_;
  }

  // The server's error text of a failed call.
  static std::string Failure(remote::HRESULT hr) {
    EXPECT_TRUE(remote::Failed(hr));
    const auto info = remote::TakeErrorInfo();
    return info ? info->description : remote::HResultText(hr);
  }

  Records GetRecords(const char* provider, std::int32_t count, std::int32_t options,
                     const std::string& command, remote::HRESULT* hrOut = nullptr,
                     const std::vector<engine::FieldInfo>* known = nullptr) {
    Records r;
    Variant params = Variant::Null();
    Variant owner;
    const remote::HRESULT hr =
        App().AS_GetRecords(platform::Utf8ToUtf16(provider), count, r.recsOut, options,
                            platform::Utf8ToUtf16(command), params, owner, r.packet);
    if (hrOut != nullptr) {
      *hrOut = hr;
      if (remote::Failed(hr)) return r;
    } else if (remote::Failed(hr)) {
      ADD_FAILURE() << Failure(hr);
      return r;
    }
    if (r.packet.IsArray()) {
      const auto& array = r.packet.AsArray();
      bytes_.assign(array.Data(), array.Data() + array.ByteCount());
      engine::PacketReader reader(bytes_, known);
      for (const auto& f : reader.Fields()) r.names.push_back(f.name);
      for (std::uint32_t i = 0; i < reader.RowCount(); ++i) {
        std::vector<std::string> row;
        for (std::size_t k = 0; k < reader.Fields().size(); ++k) {
          const auto type = reader.Fields()[k].type;
          row.push_back(reader.Row(i).IsNull(k) ? "<null>"
                        : type == engine::FieldType::kText16
                            ? reader.Row(i).TextUtf8(k)
                            : std::to_string(reader.Row(i).Integer(k)));
        }
        r.rows.push_back(row);
      }
    }
    return r;
  }

  std::string SongCount() {
    auto r = GetRecords("singerDataSetProvider", -1, 1, "select count(*) from vodinfo");
    return r.rows.at(0).at(0);
  }

  std::string Log() {
    std::ifstream in(logPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  NoLoop loop_;
  std::unique_ptr<testing::SqlTestCatalogue> catalogue_;
  std::string logPath_;
  std::unique_ptr<RunningServer> server_;
  std::unique_ptr<remote::SocketConnection> connection_;
  remote::Ref<remote::IAppServer> app_;
  std::vector<std::uint8_t> bytes_;
};

TEST_P(ServerLoopbackTest, SendsEveryRowForCountMinusOne) {
  const auto r = GetRecords("songDataSetProvider", -1, 1,
                            "select SINGID,SINGNAME,SINGER from vodinfo where SINGER=\"刘德华\"");
  EXPECT_EQ(r.recsOut, 12);
  ASSERT_EQ(r.rows.size(), 12u);
  EXPECT_THAT(r.names, ::testing::ElementsAre("SINGID", "SINGNAME", "SINGER"));
  EXPECT_THAT(r.rows[0], ::testing::ElementsAre("10001", "歌曲1", "刘德华"));
  EXPECT_GT(r.packet.AsArray().ByteCount(), 22u);

  const auto all = GetRecords("songDataSetProvider", -1, 1, "select * from vodinfo");
  EXPECT_EQ(all.recsOut, 25);
  EXPECT_EQ(all.rows[24][1], testing::kOutsideGbkTitle);
  EXPECT_EQ(all.rows[24][2], "<null>");

  const auto log = Log();
  EXPECT_THAT(log, HasSubstr("songDataSetProvider  \"select * from vodinfo\"  rows=25  ms="));
  EXPECT_THAT(log, HasSubstr("127.0.0.1:"));
}

TEST_P(ServerLoopbackTest, SendsOneRowAtATimeForCountOne) {
  // Several rows match: exactly one comes, the next request brings the next.
  const auto first = GetRecords("songDataSetProvider", 1, 1,
                                "select PATH1 from vodinfo where SINGER=\"王菲\" order by SINGID");
  EXPECT_EQ(first.recsOut, 1);
  ASSERT_EQ(first.rows.size(), 1u);
  EXPECT_EQ(first.rows[0][0], "V:/songs/10013.mpg");
  const std::vector<engine::FieldInfo> fields = engine::PacketReader(bytes_).Fields();
  const auto second = GetRecords("songDataSetProvider", 1, 0, "", nullptr, &fields);
  EXPECT_EQ(second.recsOut, 1);
  EXPECT_EQ(second.rows.at(0).at(0), "V:/songs/10014.mpg");

  // Exactly one row matches (the path lookup, number and a blank): the
  // further request gets none.
  const auto only =
      GetRecords("songDataSetProvider", 1, 1, "select PATH1 from vodinfo where SINGID=10020 ");
  EXPECT_EQ(only.recsOut, 1);
  EXPECT_EQ(only.rows.at(0).at(0), "V:/songs/10020.mpg");
  const auto none = GetRecords("songDataSetProvider", 1, 0, "", nullptr, &fields);
  EXPECT_EQ(none.recsOut, 0);
  EXPECT_TRUE(none.rows.empty());
}

TEST_P(ServerLoopbackTest, ResetDropsTheOpenStatement) {
  GetRecords("songDataSetProvider", 1, 1, "select SINGID from vodinfo order by SINGID");
  const std::vector<engine::FieldInfo> fields = engine::PacketReader(bytes_).Fields();
  const auto reset = GetRecords("songDataSetProvider", 0, 2, "");
  EXPECT_TRUE(reset.packet.IsNull());
  EXPECT_EQ(reset.recsOut, 0);
  EXPECT_EQ(GetRecords("songDataSetProvider", 1, 0, "", nullptr, &fields).recsOut, 0);
}

TEST_P(ServerLoopbackTest, NamesAnUnknownProvider) {
  remote::HRESULT hr = 0;
  GetRecords("nosuchDataSetProvider", -1, 1, "select 1", &hr);
  EXPECT_EQ(hr, remote::E_FAIL);
  EXPECT_EQ(Failure(hr), "Provider not found: nosuchDataSetProvider");
}

TEST_P(ServerLoopbackTest, RefusesWritingStatementsAndKeepsTheTable) {
  for (const char* bad : {"delete from vodinfo", "select 1; delete from vodinfo"}) {
    remote::HRESULT hr = 0;
    GetRecords("songDataSetProvider", -1, 1, bad, &hr);
    const std::string why = Failure(hr);
    EXPECT_THAT(why, ::testing::AnyOf(HasSubstr("Only a read-only statement may be run"),
                                      HasSubstr("Only one statement may be run at a time")))
        << bad;
  }
  EXPECT_EQ(SongCount(), "25");
  EXPECT_THAT(Log(), HasSubstr("\"delete from vodinfo\"  FAILED: "));
}

TEST_P(ServerLoopbackTest, RefusesAnUnregisteredClass) {
  for (const std::string id : {"{00000000-1111-2222-3333-444444444444}", "Other.Server"}) {
    try {
      Connect(id);
      ADD_FAILURE() << "created " << id;
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), "Object not available: " + id);
    }
  }
  // The program id of the server class works as well as its class id.
  auto byName = Connect("Lyrahub.DM");
  EXPECT_TRUE(byName->Connected());
}

TEST_P(ServerLoopbackTest, StoresARoomRequestRow) {
  GetRecords("tempDataSetProvider", -1, 1, "");  // the terminal opens the dataset first
  std::vector<engine::FieldDef> fields = {{"ClientName", engine::FieldType::kText16, 128, 0, {}},
                                          {"CalledAt", engine::FieldType::kText16, 38, 0, {}},
                                          {"Peer", engine::FieldType::kText16, 128, 0, {}}};
  engine::PacketWriter writer(engine::PacketKind::kDelta, fields);
  writer.BeginDeltaRow(1, engine::UpdateStatus::kInserted);
  writer.AddTextUtf8("Room1");
  writer.AddNull();
  writer.AddNull();
  writer.EndRow();
  const auto delta = writer.Finish();
  Variant owner;
  Variant answer;
  std::int32_t errorCount = -1;
  const auto hr = App().AS_ApplyUpdates(
      u"tempDataSetProvider",
      Variant::Array(remote::SafeArray::FromBytes(delta.data(), delta.size())), -1, errorCount,
      owner, answer);
  ASSERT_EQ(hr, remote::S_OK) << Failure(hr);
  EXPECT_TRUE(answer.IsNull());
  EXPECT_EQ(errorCount, 0);
  const auto rows =
      GetRecords("tempDataSetProvider", -1, 1, "select ClientName, Peer from roomcall");
  ASSERT_EQ(rows.rows.size(), 1u);
  EXPECT_EQ(rows.rows[0][0], "Room1");
  EXPECT_THAT(rows.rows[0][1], HasSubstr("127.0.0.1:"));
  EXPECT_THAT(Log(), HasSubstr("******** ROOM REQUEST ******** ClientName=Room1"));

  // The catalogue providers take no rows.
  const auto refused = App().AS_ApplyUpdates(
      u"songDataSetProvider",
      Variant::Array(remote::SafeArray::FromBytes(delta.data(), delta.size())), -1, errorCount,
      owner, answer);
  EXPECT_THAT(Failure(refused), HasSubstr("does not accept updates"));
}

TEST_P(ServerLoopbackTest, AnswersTheOtherOperations) {
  Variant names;
  ASSERT_EQ(App().AS_GetProviderNames(names), remote::S_OK);
  ASSERT_TRUE(names.IsArray());
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < names.AsArray().ElementCount(); ++i) {
    texts.push_back(names.AsArray().GetAt(i).ToText());
  }
  EXPECT_THAT(texts, ::testing::ElementsAre("songDataSetProvider", "singerDataSetProvider",
                                            "tempDataSetProvider"));
  Variant owner;
  Variant result;
  EXPECT_EQ(App().AS_GetParams(u"songDataSetProvider", owner, result), remote::S_OK);
  EXPECT_THAT(Failure(App().AS_RowRequest(u"songDataSetProvider", Variant(), 1, owner, result)),
              HasSubstr("does not answer row requests"));
  Variant params;
  EXPECT_THAT(
      Failure(App().AS_Execute(u"songDataSetProvider", u"delete from vodinfo", params, owner)),
      HasSubstr("read-only"));
  EXPECT_EQ(SongCount(), "25");
}

TEST_P(ServerLoopbackTest, ServesSessionsConcurrentlyAndClosesThoseBeyondTheLimit) {
  server_.reset();
  server_ = std::make_unique<RunningServer>(*catalogue_, logPath_, 2);
  auto a = Connect();
  auto b = Connect();
  EXPECT_THROW(Connect(), std::exception);  // closed at once
  EXPECT_THAT(Log(), HasSubstr("sessions are running, the most this server takes"));
  // The two admitted sessions keep their own open statements.
  auto appA = a->ServerInterface();
  auto appB = b->ServerInterface();
  std::int32_t recsA = 0;
  std::int32_t recsB = 0;
  Variant pa = Variant::Null(), pb = Variant::Null(), oa, ob, ra, rb;
  ASSERT_EQ(appA->AS_GetRecords(u"songDataSetProvider", 1, recsA, 1,
                                u"select SINGID from vodinfo order by SINGID", pa, oa, ra),
            remote::S_OK);
  ASSERT_EQ(appB->AS_GetRecords(u"songDataSetProvider", -1, recsB, 1, u"select * from vodinfo", pb,
                                ob, rb),
            remote::S_OK);
  EXPECT_EQ(recsA, 1);
  EXPECT_EQ(recsB, 25);
  ASSERT_EQ(appA->AS_GetRecords(u"songDataSetProvider", 30, recsA, 0, u"", pa, oa, ra),
            remote::S_OK);
  EXPECT_EQ(recsA, 24);
  // A session that ends makes room for a new one.
  appB.reset();
  b.reset();
  for (int i = 0; i < 100 && server_->Get().ActiveSessions() > 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_NO_THROW(Connect());
}

TEST_P(ServerLoopbackTest, AnswersATerminalThatRunsItsTransportOnAThread) {
  // The terminal's own setting: callbacks on, a transport thread of its own.
  remote::SocketConnection connection(loop_);
  connection.SetHost("127.0.0.1");
  connection.SetPort(server_->Port());
  connection.SetServerGUID(kServerGuid);
  auto app = connection.ServerInterface();
  ASSERT_TRUE(connection.HasTransportThread());
  for (int i = 0; i < 3; ++i) {
    std::int32_t recsOut = 0;
    Variant params = Variant::Null(), owner, packet;
    ASSERT_EQ(app->AS_GetRecords(u"songDataSetProvider", 1, recsOut, i == 0 ? 1 : 0,
                                 i == 0 ? u"select SINGID from vodinfo where SINGID < 10003" : u"",
                                 params, owner, packet),
              remote::S_OK);
    EXPECT_EQ(recsOut, i < 2 ? 1 : 0) << i;
  }
  app.reset();
  connection.SetConnected(false);
  EXPECT_FALSE(connection.Connected());
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerLoopbackTest,
                         ::testing::Values(Flavour::Sqlite, Flavour::MariaDb),
                         [](const auto& info) {
                           return info.param == Flavour::Sqlite ? "Sqlite" : "MariaDb";
                         });

}  // namespace
}  // namespace quor::server
