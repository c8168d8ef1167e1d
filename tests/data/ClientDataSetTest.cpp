// The client datasets of the data module against real server sessions on a
// loopback port, with the real server object over a real SQLite catalogue.
// Every request is checked as the server object received it (the recording
// peer), never through the dataset's own state alone.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

#include "DataTestSupport.h"

namespace quor::data::test {
namespace {

using ::testing::HasSubstr;

class DataSetTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UseBuiltEngine();
    folder_ = new std::string(TempFolder("dataset"));
    BuildCatalogue(*folder_ + "/catalogue.db");
    peer_ = new RecordingPeer(*folder_ + "/catalogue.db");
  }
  static void TearDownTestSuite() {
    delete peer_;
    delete folder_;
  }
  void SetUp() override {
    terminal_ = std::make_unique<TerminalFixture>(peer_->Port());
    peer_->ClearCalls();
  }
  void TearDown() override { terminal_.reset(); }

  DataModule& dm() { return *terminal_->dm; }
  ClientDataSet& song() { return *dm().songClientDataSet; }
  ClientDataSet& play() { return *dm().playClientDataSet; }
  std::vector<RecordedCall> Calls() { return peer_->Calls(); }
  static std::string Text(ClientDataSet& ds, const char* field) {
    return U(ds.FieldByName(field).AsString());
  }
  // A song page: the row under the cursor into each slot, next after each,
  // stopping as soon as the end flag is set.
  static std::vector<std::string> FillPage(ClientDataSet& ds) {
    std::vector<std::string> ids;
    for (int slot = 0; slot < 7; ++slot) {
      ids.push_back(ds.FieldByName("SINGID").AsString());
      ds.Next();
      if (ds.Eof()) break;
    }
    return ids;
  }
  static std::vector<std::string> Ids(int first, int last) {
    std::vector<std::string> ids;
    for (int i = first; i <= last; ++i) ids.push_back(std::to_string(10000 + i));
    return ids;
  }

  static std::string* folder_;
  static RecordingPeer* peer_;
  std::unique_ptr<TerminalFixture> terminal_;
};
std::string* DataSetTest::folder_ = nullptr;
RecordingPeer* DataSetTest::peer_ = nullptr;

TEST_F(DataSetTest, AQuerySendsOneRequestHoldsEveryRowAndWalksWithoutTheServer) {
  const std::string statement = SongsOfSingerSlot1Statement(G("刘德华"));
  RunCatalogueQuery(song(), statement);  // closed before: nothing is sent for the close

  auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].op, "AS_GetRecords");
  EXPECT_EQ(calls[0].provider, "songDataSetProvider");
  EXPECT_EQ(calls[0].count, -1);
  EXPECT_EQ(calls[0].options, 1);
  EXPECT_EQ(calls[0].command16, platform::GbkToUtf16(statement));
  EXPECT_EQ(calls[0].paramsType, remote::VT_NULL);
  EXPECT_EQ(calls[0].ownerDataType, remote::VT_EMPTY);
  EXPECT_EQ(calls[0].recsOut, kLiuSongs);

  EXPECT_TRUE(song().ProviderEOF());
  EXPECT_EQ(song().RecordCount(), kLiuSongs);
  EXPECT_TRUE(song().Bof());
  EXPECT_FALSE(song().Eof());
  EXPECT_EQ(Text(song(), "SINGID"), "10001");
  EXPECT_EQ(Text(song(), "SINGNAME"), "忘情水1");
  EXPECT_EQ(Text(song(), "singer"), "刘德华");  // any letter case
  EXPECT_EQ(song().FieldByName("SINGNAME").DataType(), FieldKind::WideString);

  // Walking to the end and past it never reaches the server.
  for (int i = 2; i <= kLiuSongs; ++i) {
    song().Next();
    EXPECT_FALSE(song().Eof());
    EXPECT_EQ(Text(song(), "SINGID"), std::to_string(10000 + i));
  }
  song().Next();  // on the last row: end flag, the last row stays current
  EXPECT_TRUE(song().Eof());
  EXPECT_EQ(Text(song(), "SINGID"), "10020");
  EXPECT_EQ(song().MoveBy(1), 0);
  EXPECT_EQ(Text(song(), "SINGID"), "10020");
  EXPECT_EQ(Calls().size(), 1u);

  // The previous-page move goes back from the last row, not from past it.
  EXPECT_EQ(song().MoveBy(-14), -14);
  EXPECT_FALSE(song().Eof());
  EXPECT_EQ(Text(song(), "SINGID"), "10006");

  // From the fifth row, -14 moves four rows and stops on the first.
  song().First();
  EXPECT_EQ(song().MoveBy(4), 4);
  EXPECT_EQ(song().MoveBy(-14), -4);
  EXPECT_TRUE(song().Bof());
  EXPECT_EQ(Text(song(), "SINGID"), "10001");
  EXPECT_EQ(song().MoveBy(-1), 0);

  // Closing sends the reset; a second close sends nothing.
  peer_->ClearCalls();
  song().Close();
  song().Close();
  calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].op, "AS_GetRecords");
  EXPECT_EQ(calls[0].count, 0);
  EXPECT_EQ(calls[0].options, 2);
  EXPECT_EQ(calls[0].command, "");
  EXPECT_EQ(calls[0].paramsType, remote::VT_EMPTY);
  EXPECT_EQ(calls[0].ownerDataType, remote::VT_EMPTY);
  EXPECT_THAT([&] { song().First(); },
              ::testing::ThrowsMessage<EDatabaseError>(
                  "songClientDataSet: Cannot perform this operation on a closed dataset"));
  EXPECT_THROW(song().RecordCount(), EDatabaseError);
}

TEST_F(DataSetTest, SongPagesOfTwentyAndOfSevenRows) {
  RunCatalogueQuery(song(), SongsOfSingerStatement(G("刘德华")));
  EXPECT_EQ(FillPage(song()), Ids(1, 7));
  EXPECT_EQ(FillPage(song()), Ids(8, 14));
  EXPECT_EQ(FillPage(song()), Ids(15, 20));
  EXPECT_TRUE(song().Eof());
  song().MoveBy(-14);  // previous page from the last one: rows 6 to 12
  EXPECT_EQ(FillPage(song()), Ids(6, 12));

  RunCatalogueQuery(song(), SongsOfSingerStatement(G("王菲")));
  EXPECT_EQ(FillPage(song()), Ids(21, 27));
  EXPECT_TRUE(song().Eof());  // exactly seven rows: the end flag is set after the page
  song().MoveBy(-14);         // previous page on the first page shows it again
  EXPECT_EQ(FillPage(song()), Ids(21, 27));
}

TEST_F(DataSetTest, AnEmptyResultSetsBothFlagsAndReadsEmptyText) {
  RunCatalogueQuery(song(), SongByNumberStatement("99999"));
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].recsOut, 0);
  EXPECT_EQ(song().RecordCount(), 0);
  EXPECT_TRUE(song().Eof());
  EXPECT_TRUE(song().Bof());
  EXPECT_EQ(Text(song(), "SINGNAME"), "");
  EXPECT_TRUE(song().FieldByName("SINGID").IsNull());
  song().First();
  EXPECT_TRUE(song().Eof());
  EXPECT_TRUE(song().Bof());
  EXPECT_EQ(song().MoveBy(5), 0);
  EXPECT_EQ(Calls().size(), 1u);
}

TEST_F(DataSetTest, ThePathLookupHoldsOneRowAndFetchesOnDemand) {
  // Several rows match: one is held, the provider-end flag stays clear.
  RunCatalogueQuery(play(), G("select PATH1 from vodinfo where SINGER=\"刘德华\""));
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].count, 1);
  EXPECT_EQ(calls[0].options, 1);
  EXPECT_EQ(play().RecordCount(), 1);
  EXPECT_FALSE(play().ProviderEOF());
  play().Next();  // a further packet: Count 1, Options 0, empty text
  calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].count, 1);
  EXPECT_EQ(calls[1].options, 0);
  EXPECT_EQ(calls[1].command, "");
  EXPECT_EQ(calls[1].paramsType, remote::VT_EMPTY);
  EXPECT_EQ(play().RecordCount(), 2);
  EXPECT_EQ(Text(play(), "PATH1"), "\\\\quorvod\\quorvod\\songs\\10002.mp4");

  // Exactly one row: RecsOut equals Count, so the flag stays clear; a next
  // asks once more, gets nothing, and sets both the flag and the end flag.
  const std::string statement = MediaPathStatement(G("10003 刘德华.忘情水3"));
  EXPECT_EQ(statement, "select PATH1 from vodinfo where SINGID=10003 ");
  RunCatalogueQuery(play(), statement);
  EXPECT_EQ(Text(play(), "PATH1"), "\\\\quorvod\\quorvod\\songs\\10003.mp4");
  EXPECT_FALSE(play().ProviderEOF());
  peer_->ClearCalls();
  play().Next();
  calls = Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].count, 1);
  EXPECT_EQ(calls[0].options, 0);
  EXPECT_EQ(calls[0].recsOut, 0);
  EXPECT_TRUE(play().ProviderEOF());
  EXPECT_TRUE(play().Eof());
  EXPECT_EQ(Text(play(), "PATH1"), "\\\\quorvod\\quorvod\\songs\\10003.mp4");
  play().Next();
  EXPECT_EQ(Calls().size(), 1u);
}

TEST_F(DataSetTest, TwoDatasetsOnOneProviderHoldTheirOwnRows) {
  RunCatalogueQuery(song(), SongsOfSingerStatement(G("王菲")));
  RunCatalogueQuery(play(), MediaPathStatement("10001 x"));
  play().Close();  // the reset reaches the provider both use
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].provider, "songDataSetProvider");
  EXPECT_EQ(calls[2].options, 2);
  EXPECT_EQ(FillPage(song()), Ids(21, 27));
  EXPECT_EQ(Calls().size(), 3u);
}

TEST_F(DataSetTest, OpeningBeforeAnyStatementSendsTheEmptyText) {
  play().Open();
  song().Open();
  auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].count, 1);
  EXPECT_EQ(calls[1].count, -1);
  for (const auto& c : calls) {
    EXPECT_EQ(c.options, 1);
    EXPECT_EQ(c.command16, u"");
  }
  // The providers' default commands answer the layout without rows: the
  // fields are there (by any letter case), the rows are not.
  EXPECT_EQ(play().RecordCount(), 0);
  EXPECT_EQ(song().RecordCount(), 0);
  EXPECT_TRUE(song().Eof());
  EXPECT_EQ(Text(song(), "path1"), "");

  // Setting the same text does nothing; reopening without a close sends nothing.
  song().SetCommandText("");
  song().Open();
  EXPECT_EQ(Calls().size(), 2u);
  EXPECT_TRUE(song().Params().empty());

  // A close right after an open (no row read) still sends the reset.
  peer_->ClearCalls();
  RunCatalogueQuery(song(), SongByNumberStatement("10001"));
  calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].options, 2);
  EXPECT_EQ(calls[1].options, 1);
}

TEST_F(DataSetTest, FieldsComeFromThePacketAndNamesMatchWithoutCase) {
  ClientDataSet& singer = *dm().singerClientDataSet;
  RunCatalogueQuery(singer, SingerStatement(SingerCategory::Male));
  EXPECT_EQ(singer.RecordCount(), 8);
  EXPECT_EQ(Text(singer, "PATH"), "Photo\\s1.jpg");
  EXPECT_EQ(Text(singer, "SINGNAME"), "刘德华");
  EXPECT_EQ(singer.FieldDefs().size(), 3u);

  RunCatalogueQuery(song(), SongsOfSingerStatement(G("刘德华")));
  EXPECT_THAT(
      [&] { song().FieldByName("FName"); },
      ::testing::ThrowsMessage<EDatabaseError>("songClientDataSet: Field 'FName' not found"));
  ASSERT_EQ(song().Fields().size(), 3u);
  EXPECT_EQ(song().Fields()[0]->FieldNo(), 1u);

  // A column name already taken becomes name_1, name_2.
  RunCatalogueQuery(song(),
                    "select SINGID, SINGID, singid, SINGNAME from vodinfo where SINGID=10005");
  ASSERT_EQ(song().FieldDefs().size(), 4u);
  EXPECT_EQ(song().FieldDefs()[1].name, "SINGID_1");
  EXPECT_EQ(song().FieldDefs()[2].name, "SINGID_2");
  EXPECT_EQ(Text(song(), "SINGID_2"), "10005");
}

TEST_F(DataSetTest, StatementsTravelByteForByteAndFindTheirRows) {
  struct Case {
    std::string statement;
    int rows;
  };
  const std::vector<Case> cases = {
      {SingerStatement(SingerCategory::Male), 8},
      {SingerStatement(SingerCategory::Female), 2},
      {SingerStatement(SingerCategory::Group), 1},
      {SongsOfSingerSlot1Statement(G("王菲")), kWangSongs},
      {SongsOfSingerStatement(G("刘德华")), kLiuSongs},
      {SongsOfSingerStatement(G(kGroupNameUtf8)), 2},  // a name holding double quotes
      {SongsOfTypeStatement(G("流行")), kLiuSongs},
      {SongsOfTypeStatement("Rock'n Roll"), 2},
      {SongsOfLanguageStatement(G("粤语")), kWangSongs},
      {SongByNumberStatement("10021"), 1},
      {SongsByLettersStatement("WQS1"), 11},  // WQS1 and WQS10 to WQS19
      {MediaPathStatement("10029 x"), 1},
  };
  for (const Case& c : cases) {
    ClientDataSet& ds =
        c.statement.find("singer where") != std::string::npos ? *dm().singerClientDataSet : song();
    peer_->ClearCalls();
    RunCatalogueQuery(ds, c.statement);
    const auto calls = Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().command16, platform::GbkToUtf16(c.statement)) << U(c.statement);
    EXPECT_EQ(ds.RecordCount(), c.rows) << U(c.statement);
  }
  EXPECT_EQ(song().FieldByName("PATH1").AsString(), "\\\\quorvod\\quorvod\\songs\\10029.mp4");
}

TEST_F(DataSetTest, ARejectedOpeningEndsClosedAfterTheReset) {
  try {
    RunCatalogueQuery(song(), "delete from vodinfo");
    FAIL() << "the statement was run";
  } catch (const std::exception& e) {
    EXPECT_THAT(e.what(), HasSubstr("Only a read-only statement may be run"));
  }
  EXPECT_FALSE(song().Active());
  EXPECT_FALSE(song().HoldsServerReference());
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].options, 1);
  EXPECT_LT(calls[0].hr, 0);
  EXPECT_EQ(calls[1].options, 2);
  EXPECT_EQ(calls[1].count, 0);
  // The terminal goes on: the next query works.
  RunCatalogueQuery(song(), SongByNumberStatement("10002"));
  EXPECT_EQ(Text(song(), "SINGNAME"), "忘情水2");
}

TEST_F(DataSetTest, MissingProviderOrConnectionIsRefusedByName) {
  ClientDataSet lonely("lonelyClientDataSet");
  EXPECT_THAT([&] { lonely.Open(); },
              ::testing::ThrowsMessage<EDatabaseError>(
                  "lonelyClientDataSet: Missing data provider or data packet"));
  EXPECT_FALSE(lonely.Active());
  ClientDataSet noName("noNameClientDataSet");
  noName.SetRemoteServer(dm().SocketConnection.get());
  EXPECT_THAT([&] { noName.Open(); },
              ::testing::ThrowsMessage<EDatabaseError>(
                  "noNameClientDataSet: Missing data provider or data packet"));
  EXPECT_TRUE(Calls().empty());
  noName.SetProviderName("nosuchProvider");
  EXPECT_THAT([&] { noName.Open(); }, ::testing::ThrowsMessage<std::exception>(
                                          HasSubstr("Provider not found: nosuchProvider")));
  EXPECT_FALSE(noName.Active());
}

TEST_F(DataSetTest, TheRoomRequestSendsOneDeltaAndAnEmptyLogSendsNothing) {
  ClientDataSet& temp = *dm().tempClientDataSet;
  temp.Open();
  EXPECT_EQ(temp.ApplyUpdates(-1), 0);  // empty change log
  ASSERT_EQ(Calls().size(), 1u);
  const int before = CountRoomCalls(*folder_ + "/catalogue.db");

  SendRoomRequest(temp, G("包厢8"));
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].op, "AS_ApplyUpdates");
  EXPECT_EQ(calls[1].provider, "tempDataSetProvider");
  EXPECT_EQ(calls[1].maxErrors, -1);
  EXPECT_EQ(calls[1].deltaType, remote::VT_ARRAY | remote::VT_UI1);
  EXPECT_EQ(calls[1].ownerDataType, remote::VT_EMPTY);
  EXPECT_TRUE(calls[1].answerNull);
  EXPECT_EQ(temp.ChangeCount(), 0);
  EXPECT_EQ(temp.RecordCount(), 1);  // the row stays
  EXPECT_EQ(CountRoomCalls(*folder_ + "/catalogue.db"), before + 1);
  EXPECT_EQ(temp.ApplyUpdates(-1), 0);
  EXPECT_EQ(Calls().size(), 2u);

  // Setting a field outside an insert, and a field the layout lacks.
  EXPECT_THROW(temp.FieldByName("ClientName").SetAsString("x"), EDatabaseError);
  temp.Append();
  EXPECT_THAT(
      [&] { temp.FieldByName("RoomNo"); },
      ::testing::ThrowsMessage<EDatabaseError>("tempClientDataSet: Field 'RoomNo' not found"));
  temp.Cancel();
  EXPECT_EQ(temp.ChangeCount(), 0);
}

TEST_F(DataSetTest, ADisconnectDropsTheServerReferenceButKeepsTheRows) {
  RunCatalogueQuery(song(), SongsOfSingerStatement(G("王菲")));
  EXPECT_TRUE(song().HoldsServerReference());
  dm().SocketConnection->SetConnected(false);
  EXPECT_FALSE(song().HoldsServerReference());
  EXPECT_TRUE(song().Active());
  EXPECT_EQ(FillPage(song()), Ids(21, 27));
  peer_->ClearCalls();
  song().Close();  // no reference held: no reset
  EXPECT_TRUE(Calls().empty());
  RunCatalogueQuery(song(), SongByNumberStatement("10021"));  // connects again
  EXPECT_TRUE(dm().SocketConnection->Connected());
  EXPECT_EQ(song().RecordCount(), 1);
}

TEST_F(DataSetTest, TheModuleIsWiredAsStoredAndDestroyedWithoutResets) {
  EXPECT_EQ(dm().SocketConnection->ServerGUID(), kServerGUID);
  EXPECT_EQ(dm().SocketConnection->ServerName(), "Lyrahub.DM");
  EXPECT_FALSE(dm().SocketConnection->Connected());
  struct Expect {
    ClientDataSet* ds;
    const char* name;
    const char* provider;
    int packetRecords;
    bool filtered;
    bool storeDefs;
  };
  for (const Expect& e : {Expect{dm().songClientDataSet.get(), "songClientDataSet",
                                 "songDataSetProvider", -1, true, true},
                          Expect{dm().singerClientDataSet.get(), "singerClientDataSet",
                                 "singerDataSetProvider", -1, true, false},
                          Expect{dm().playClientDataSet.get(), "playClientDataSet",
                                 "songDataSetProvider", 1, true, true},
                          Expect{dm().tempClientDataSet.get(), "tempClientDataSet",
                                 "tempDataSetProvider", -1, false, false}}) {
    EXPECT_EQ(e.ds->Name(), e.name);
    EXPECT_EQ(e.ds->ProviderName(), e.provider);
    EXPECT_EQ(e.ds->PacketRecords(), e.packetRecords);
    EXPECT_EQ(e.ds->Filtered(), e.filtered);
    EXPECT_EQ(e.ds->StoreDefs(), e.storeDefs);
    EXPECT_TRUE(e.ds->FetchOnDemand());
    EXPECT_EQ(e.ds->RemoteServer(), dm().SocketConnection.get());
    EXPECT_FALSE(e.ds->Active());
    EXPECT_EQ(e.ds->CommandText(), "");
  }
  ASSERT_EQ(dm().songClientDataSet->FieldDefs().size(), 7u);
  EXPECT_EQ(dm().songClientDataSet->FieldDefs()[1].name, "FName");
  EXPECT_EQ(dm().songClientDataSet->FieldDefs()[2].size, 15u);

  // The global instance.
  EXPECT_FALSE(HasDM());
  EXPECT_THROW(DM(), std::logic_error);
  {
    DataModuleInstance instance(terminal_->loop);
    EXPECT_EQ(&DM(), &instance.Module());
  }
  EXPECT_FALSE(HasDM());

  // All four open; destroying the module sends no reset.
  EXPECT_TRUE(ConnectAndOpen(dm(), "127.0.0.1", [](const std::string& m) { FAIL() << m; }));
  peer_->ClearCalls();
  terminal_->dm.reset();
  for (const auto& c : Calls()) EXPECT_NE(c.options, 2) << c.provider;
}

TEST_F(DataSetTest, WindowShowOpensTheFourInOrderAndTellsOnce) {
  std::vector<std::string> told;
  EXPECT_TRUE(ConnectAndOpen(dm(), "127.0.0.1", [&](const std::string& m) { told.push_back(m); }));
  EXPECT_TRUE(told.empty());
  const auto calls = Calls();
  ASSERT_EQ(calls.size(), 4u);
  const char* providers[] = {"songDataSetProvider", "singerDataSetProvider", "songDataSetProvider",
                             "tempDataSetProvider"};
  const int counts[] = {-1, -1, 1, -1};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(calls[i].provider, providers[i]);
    EXPECT_EQ(calls[i].count, counts[i]);
    EXPECT_EQ(calls[i].options, 1);
    EXPECT_EQ(calls[i].command, "");
  }

  // Connected, but an opening fails: its failure is told, once, and the
  // datasets after it are left closed.
  TerminalFixture other(peer_->Port());
  other.dm->singerClientDataSet->SetProviderName("nosuchProvider");
  other.dm->tempClientDataSet->SetProviderName("otherMissingProvider");
  told.clear();
  EXPECT_FALSE(
      ConnectAndOpen(*other.dm, "127.0.0.1", [&](const std::string& m) { told.push_back(m); }));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_THAT(told[0], HasSubstr("Provider not found: nosuchProvider"));
  EXPECT_TRUE(other.dm->songClientDataSet->Active());
  EXPECT_FALSE(other.dm->singerClientDataSet->Active());
  EXPECT_FALSE(other.dm->playClientDataSet->Active());
  EXPECT_FALSE(other.dm->tempClientDataSet->Active());
}

TEST_F(DataSetTest, WindowShowWithoutAServerTellsTheConnectFailureOnly) {
  platform::ListenSocket unused;  // a port nobody answers on
  ASSERT_EQ(unused.Listen("127.0.0.1", 0), 0);
  const std::uint16_t deadPort = unused.Port();
  unused = platform::ListenSocket();
  TerminalFixture offline(deadPort);
  std::vector<std::string> told;
  EXPECT_FALSE(
      ConnectAndOpen(*offline.dm, "127.0.0.1", [&](const std::string& m) { told.push_back(m); }));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], kConnectFailedText);
  EXPECT_FALSE(offline.dm->songClientDataSet->Active());
  EXPECT_FALSE(offline.dm->tempClientDataSet->Active());
  EXPECT_FALSE(offline.dm->SocketConnection->Connected());
  EXPECT_TRUE(Calls().empty());

  // A server that takes the connection and never answers: one reply bound,
  // the message, and no dataset is asked (each would wait a bound again).
  platform::ListenSocket silent;  // the backlog accepts; nobody ever reads
  ASSERT_EQ(silent.Listen("127.0.0.1", 0), 0);
  TerminalFixture quiet(silent.Port());
  quiet.dm->SocketConnection->SetReplyTimeout(400);
  told.clear();
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(
      ConnectAndOpen(*quiet.dm, "127.0.0.1", [&](const std::string& m) { told.push_back(m); }));
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_GE(took, std::chrono::milliseconds(400));
  EXPECT_LT(took, std::chrono::milliseconds(1200));
  EXPECT_EQ(told, std::vector<std::string>{kConnectFailedText});
  EXPECT_FALSE(quiet.dm->songClientDataSet->Active());
  EXPECT_FALSE(quiet.dm->tempClientDataSet->Active());

  // No host at all: the same single message.
  TerminalFixture noHost(deadPort);
  told.clear();
  EXPECT_FALSE(ConnectAndOpen(*noHost.dm, "", [&](const std::string& m) { told.push_back(m); }));
  EXPECT_EQ(told, std::vector<std::string>{kConnectFailedText});
}

}  // namespace
}  // namespace quor::data::test
