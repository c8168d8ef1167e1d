// The providers over both databases: what AS_GetRecords and AS_ApplyUpdates
// answer, read back with the engine's packet reader.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "engine/Packet.h"
#include "server/Provider.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

using engine::PacketKind;
using engine::PacketReader;
using ::testing::ElementsAre;
using testing::Flavour;
using ::testing::HasSubstr;

struct Decoded {
  std::vector<std::string> names;
  std::vector<engine::FieldType> types;
  std::vector<std::vector<std::string>> rows;  // texts; "<null>" for blank
  bool described = false;
  bool readOnly = false;
};

Decoded Decode(const std::vector<std::uint8_t>& packet,
               const std::vector<engine::FieldInfo>* known = nullptr) {
  PacketReader reader(packet, known);
  Decoded d;
  d.described = reader.HasDescriptions();
  d.readOnly = reader.ReadOnly();
  for (const auto& f : reader.Fields()) {
    d.names.push_back(f.name);
    d.types.push_back(f.type);
  }
  for (std::uint32_t r = 0; r < reader.RowCount(); ++r) {
    const auto row = reader.Row(r);
    std::vector<std::string> values;
    for (std::size_t i = 0; i < reader.Fields().size(); ++i) {
      if (row.IsNull(i)) {
        values.emplace_back("<null>");
      } else if (reader.Fields()[i].type == engine::FieldType::kText16) {
        values.push_back(row.TextUtf8(i));
      } else if (reader.Fields()[i].type == engine::FieldType::kDouble) {
        values.push_back(std::to_string(row.Double(i)));
      } else if (reader.Fields()[i].type == engine::FieldType::kBytes) {
        const auto raw = row.Raw(i);
        values.emplace_back(reinterpret_cast<const char*>(raw.data()), raw.size());
      } else {
        values.push_back(std::to_string(row.Integer(i)));
      }
    }
    d.rows.push_back(values);
  }
  return d;
}

std::vector<engine::FieldInfo> FieldsOf(const std::vector<std::uint8_t>& packet) {
  return PacketReader(packet).Fields();
}

// Where a test delta comes from: `log` (16 bytes) names the change log,
// `firstChange` its first entry; each row was posted `agoMs` before the delta
// was taken at `takenAt`. No log: a delta of an older terminal.
struct Origin {
  std::string log;
  std::uint32_t firstChange = 1;
  std::int64_t takenAt = 0;
  std::int64_t agoMs = 0;
};

class ProviderTest : public ::testing::TestWithParam<Flavour> {
 protected:
  void SetUp() override {
    std::string whyNot;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    catalogue_ =
        testing::SqlTestCatalogue::Create(GetParam(), std::string("P") + info->name(), whyNot);
    if (!catalogue_) GTEST_SKIP() << "MariaDB tests skipped: " << whyNot;
    backend_ = catalogue_->Open();
    backend_->EnsureRoomCallTable();
    for (auto& definition : StandardProviders()) {
      providers_.push_back(
          std::make_unique<Provider>(definition, [this]() -> SqlBackend& { return *backend_; }));
    }
  }
  Provider& Songs() { return *providers_[0]; }
  Provider& Singers() { return *providers_[1]; }
  Provider& Temp() { return *providers_[2]; }

  // A delta of inserted rows with the given ClientName values, as the
  // terminal's engine sends it for the temp dataset.
  static std::vector<std::uint8_t> Delta(const std::vector<const char*>& names,
                                         const char* extraField = nullptr,
                                         const Origin& origin = {}) {
    std::vector<engine::FieldDef> fields = {{"ClientName", engine::FieldType::kText16, 128, 0, {}},
                                            {"CalledAt", engine::FieldType::kText16, 38, 0, {}},
                                            {"Peer", engine::FieldType::kText16, 128, 0, {}}};
    if (extraField != nullptr) fields.push_back({extraField, engine::FieldType::kInt32, 4, 0, {}});
    engine::PacketWriter writer(PacketKind::kDelta, fields);
    if (!origin.log.empty()) {
      writer.AddParam(engine::Param::Bytes(engine::kChangeLogParam, origin.log));
      std::string taken(8, '\0');
      for (std::size_t b = 0; b < 8; ++b)
        taken[b] = static_cast<char>(static_cast<std::uint64_t>(origin.takenAt) >> (8 * b));
      writer.AddParam(engine::Param::Bytes(engine::kDeltaTimeParam, taken));
    }
    std::uint32_t change = origin.firstChange;
    for (const char* name : names) {
      writer.BeginDeltaRow(change++, engine::UpdateStatus::kInserted,
                           origin.log.empty() ? 0 : origin.takenAt - origin.agoMs);
      if (name == nullptr) {
        writer.AddNull();
      } else {
        writer.AddTextUtf8(name);
      }
      writer.AddTextUtf8("1999-01-01 00:00:00");  // the terminal cannot set these
      writer.AddNull();
      if (extraField != nullptr) writer.AddInt64(5);
      writer.EndRow();
    }
    return writer.Finish();
  }

  std::vector<std::vector<std::string>> RoomCalls() {
    auto answer = Singers().GetRecords(-1, 1, "select ClientName, CalledAt, Peer from roomcall");
    return Decode(*answer.packet).rows;
  }

  std::unique_ptr<testing::SqlTestCatalogue> catalogue_;
  std::unique_ptr<SqlBackend> backend_;
  std::vector<std::unique_ptr<Provider>> providers_;
};

TEST_P(ProviderTest, DefaultStatementsAnswerTheOpeningsOfTheFourDatasetsWithoutRows) {
  // A terminal's start: the layouts, a few hundred bytes, however many songs.
  const auto songs = Songs().GetRecords(-1, 1, "");
  EXPECT_EQ(songs.recsOut, 0);
  EXPECT_EQ(songs.statement, "select * from vodinfo where 1 = 0");
  EXPECT_LT(songs.packet->size(), 400u);
  EXPECT_THAT(Decode(*songs.packet).names, ElementsAre("SINGID", "SINGNAME", "SINGER", "TYPE",
                                                       "SONGLANGUAGE", "FIRSTWORD", "PATH1"));

  const auto all = Songs().GetRecords(-1, 1, "select * from vodinfo");
  EXPECT_EQ(all.recsOut, 25);
  const auto s = Decode(*all.packet);
  EXPECT_TRUE(s.described);
  EXPECT_TRUE(s.readOnly);
  EXPECT_THAT(s.names, ElementsAre("SINGID", "SINGNAME", "SINGER", "TYPE", "SONGLANGUAGE",
                                   "FIRSTWORD", "PATH1"));
  EXPECT_EQ(s.types[0], catalogue_->IntegerType() == FieldType::Int64 ? engine::FieldType::kInt64
                                                                      : engine::FieldType::kInt32);
  EXPECT_EQ(s.types[1], engine::FieldType::kText16);
  EXPECT_EQ(s.rows[0][0], "10001");
  EXPECT_EQ(s.rows[24][1], testing::kOutsideGbkTitle);
  EXPECT_EQ(s.rows[24][2], "<null>");

  const auto singers = Decode(*Singers().GetRecords(-1, 1, "").packet);
  EXPECT_THAT(singers.names, ElementsAre("SEX", "SINGNAME", "Path"));
  EXPECT_TRUE(singers.rows.empty());

  // The room request layout, no rows, and text sizes that a room name fits.
  const auto temp = Temp().GetRecords(-1, 1, "");
  EXPECT_EQ(temp.recsOut, 0);
  const auto t = Decode(*temp.packet);
  EXPECT_THAT(t.names, ElementsAre("ClientName", "CalledAt", "Peer"));
  EXPECT_FALSE(t.readOnly);
  EXPECT_GE(FieldsOf(*temp.packet)[0].size, 2u * 20);

  const auto play = Songs().GetRecords(1, 1, "");
  EXPECT_EQ(play.recsOut, 0);
  EXPECT_TRUE(Decode(*play.packet).rows.empty());
}

TEST_P(ProviderTest, PagesAResultOneRowAtATimeUntilAPacketComesShort) {
  const auto first = Songs().GetRecords(1, 1, "select PATH1 from vodinfo where SINGID>10022");
  EXPECT_EQ(first.recsOut, 1);
  const auto fields = FieldsOf(*first.packet);
  EXPECT_THAT(Decode(*first.packet).rows, ElementsAre(ElementsAre("V:/songs/10023.mpg")));
  for (const char* expected : {"V:/songs/10024.mpg", "V:/songs/10025.mpg"}) {
    const auto next = Songs().GetRecords(1, 0, "");
    EXPECT_EQ(next.recsOut, 1);
    const auto d = Decode(*next.packet, &fields);
    EXPECT_FALSE(d.described);
    EXPECT_THAT(d.rows, ElementsAre(ElementsAre(expected)));
  }
  const auto end = Songs().GetRecords(1, 0, "");
  EXPECT_EQ(end.recsOut, 0);
  EXPECT_TRUE(Decode(*end.packet, &fields).rows.empty());
  EXPECT_EQ(Songs().GetRecords(1, 0, "").recsOut, 0);  // and stays ended
}

TEST_P(ProviderTest, KeepsOnePacketSizeForEveryPacketOfAPagedResult) {
  // The first packet's row is short, a later one long: the sizes the first
  // packet declared must hold it.
  std::string longTitle;
  for (int i = 0; i < 50; ++i) longTitle += "歌";  // as long as the column allows
  catalogue_->Admin("insert into vodinfo (SINGID, SINGNAME) values (20001, 'a'), (20002, '" +
                    longTitle + "')");
  const auto first = Songs().GetRecords(1, 1,
                                        "select SINGNAME from vodinfo where SINGID>20000 "
                                        "order by SINGID");
  const auto fields = FieldsOf(*first.packet);
  const auto next = Songs().GetRecords(5, 0, "");
  EXPECT_EQ(next.recsOut, 1);
  EXPECT_EQ(Decode(*next.packet, &fields).rows[0][0], longTitle);
}

TEST_P(ProviderTest, CountZeroDescribesAndKeepsTheStatementOpen) {
  const auto none = Songs().GetRecords(0, 1, "select SINGID from vodinfo order by SINGID");
  EXPECT_EQ(none.recsOut, 0);
  const auto fields = FieldsOf(*none.packet);
  ASSERT_EQ(fields.size(), 1u);
  const auto rest = Songs().GetRecords(-1, 0, "");
  EXPECT_EQ(rest.recsOut, 25);
  EXPECT_EQ(Decode(*rest.packet, &fields).rows[0][0], "10001");
}

TEST_P(ProviderTest, ResetDropsTheOpenStatementAndAnswersNull) {
  Songs().GetRecords(1, 1, "select SINGID from vodinfo order by SINGID");
  const auto reset = Songs().GetRecords(0, 2, "");
  EXPECT_FALSE(reset.packet.has_value());
  EXPECT_EQ(reset.recsOut, 0);
  const auto after = Songs().GetRecords(1, 0, "");
  EXPECT_EQ(after.recsOut, 0);  // nothing left to go on with
  // A new opening starts over.
  EXPECT_EQ(Decode(*Songs().GetRecords(1, 1, "select SINGID from vodinfo order by SINGID").packet)
                .rows[0][0],
            "10001");
}

TEST_P(ProviderTest, ANewStatementReplacesTheOpenOne) {
  Songs().GetRecords(1, 1, "select SINGID from vodinfo order by SINGID");
  const auto other = Songs().GetRecords(-1, 1, "select SINGID from vodinfo where SINGID=10009");
  EXPECT_EQ(other.recsOut, 1);
  EXPECT_EQ(Songs().GetRecords(1, 0, "").recsOut, 0);
}

TEST_P(ProviderTest, AnAnswerIsBoundedInSizeAndInTime) {
  Provider small(
      StandardProviders()[0], [this]() -> SqlBackend& { return *backend_; },
      ProviderLimits{64 << 10, 0});
  try {
    small.GetRecords(-1, 1, "select a.SINGNAME, b.SINGNAME from vodinfo a, vodinfo b, vodinfo c");
    FAIL() << "a cross join was answered whole";
  } catch (const SqlError& e) {
    EXPECT_THAT(e.what(), HasSubstr("The result is larger than 64 KB; narrow the statement"));
  }
  // Every step quick, the rows without end: the answer's own bound stops it.
  if (GetParam() != Flavour::Sqlite) return;  // MariaDB would make the rows before the first
  Provider slow(
      StandardProviders()[0], [this]() -> SqlBackend& { return *backend_; },
      ProviderLimits{200 << 20, 300});
  const auto start = std::chrono::steady_clock::now();
  try {
    slow.GetRecords(-1, 1,
                    "with recursive c(x) as (select 1 union all select x + 1 from c) select x "
                    "from c");
    FAIL() << "rows without end were answered";
  } catch (const SqlError& e) {
    EXPECT_THAT(e.what(), HasSubstr("The statement ran longer than 0 s and was stopped"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(slow.GetRecords(-1, 1, "select count(*) from vodinfo").recsOut, 1);
}

TEST_P(ProviderTest, RefusesWritesAndLeavesTheCatalogueAsItWas) {
  for (const char* bad : {"delete from vodinfo", "select 1; delete from vodinfo"}) {
    try {
      Songs().GetRecords(-1, 1, bad);
      ADD_FAILURE() << "ran: " << bad;
    } catch (const SqlError& e) {
      EXPECT_THAT(e.what(), ::testing::AnyOf(HasSubstr("read-only"), HasSubstr("one statement")));
    }
  }
  EXPECT_EQ(Songs().GetRecords(-1, 1, "select * from vodinfo").recsOut, 25);
}

TEST_P(ProviderTest, AFurtherRequestBeforeAnyStatementIsAClearError) {
  try {
    Songs().GetRecords(1, 0, "");
    FAIL() << "answered";
  } catch (const SqlError& e) {
    EXPECT_THAT(e.what(), HasSubstr("No statement has been run on provider songDataSetProvider"));
  }
}

// Milliseconds since 1970 of a local time.
std::int64_t LocalMs(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return static_cast<std::int64_t>(std::mktime(&t)) * 1000;
}

std::vector<std::string> Described(const std::vector<PostedRow>& rows) {
  std::vector<std::string> out;
  for (const PostedRow& r : rows) out.push_back(r.described);
  return out;
}

TEST_P(ProviderTest, StoresRoomRequestsWithTheServersTimeAndPeer) {
  const auto answer = Temp().ApplyUpdates(Delta({"Room1", "包厢二"}), -1, "10.0.0.7:4100",
                                          LocalMs(2026, 12, 8, 2, 3, 4) + 250);
  EXPECT_FALSE(answer.errors.has_value());
  EXPECT_EQ(answer.errorCount, 0);
  EXPECT_THAT(Described(answer.stored), ElementsAre("ClientName=Room1", "ClientName=包厢二"));
  const auto rows = RoomCalls();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_THAT(rows[0], ElementsAre("Room1", "2026-12-08 02:03:04", "10.0.0.7:4100"));
  EXPECT_EQ(rows[1][0], "包厢二");
}

TEST_P(ProviderTest, StoresEachPostedRowOnceHoweverOftenItComes) {
  const std::string log(16, '\x5A');
  const std::int64_t arrival = LocalMs(2026, 12, 8, 21, 30, 0);
  // The first delta goes in, but its answer never reaches the terminal.
  auto first =
      Temp().ApplyUpdates(Delta({"Room1", "Room1"}, nullptr, {log, 1, 0, 0}), -1, "p", arrival);
  ASSERT_EQ(first.stored.size(), 2u);
  EXPECT_EQ(first.stored[1].clientName, "Room1");  // what the front desk is told of
  // So the next press sends both again with the new one: only the new one is
  // stored, the others are acknowledged, and nothing comes back rejected.
  auto again = Temp().ApplyUpdates(Delta({"Room1", "Room1", "Room1"}, nullptr, {log, 1, 0, 0}), -1,
                                   "p", arrival + 60000);
  EXPECT_FALSE(again.errors.has_value());
  EXPECT_EQ(again.errorCount, 0);
  ASSERT_EQ(again.stored.size(), 1u);
  EXPECT_EQ(again.stored[0].changeId, 3u);
  EXPECT_EQ(again.repeated.size(), 2u);  // acknowledged, and never told to the front desk again
  EXPECT_EQ(RoomCalls().size(), 3u);
  // The same entry of another terminal's log is another press; a delta that
  // names no log (an older terminal) is stored every time it comes.
  EXPECT_EQ(Temp()
                .ApplyUpdates(Delta({"Room2"}, nullptr, {std::string(16, 'x'), 1, 0, 0}), -1, "p",
                              arrival)
                .stored.size(),
            1u);
  EXPECT_EQ(Temp().ApplyUpdates(Delta({"Room3"}), -1, "p", arrival).stored.size(), 1u);
  EXPECT_EQ(Temp().ApplyUpdates(Delta({"Room3"}), -1, "p", arrival).stored.size(), 1u);
  EXPECT_EQ(RoomCalls().size(), 6u);

  const auto keys = Decode(*Singers()
                                .GetRecords(-1, 1,
                                            "select ChangeLog, ChangeId from roomcall where "
                                            "ClientName = 'Room1' order by ChangeId")
                                .packet)
                        .rows;
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0][0], "5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a");
  EXPECT_EQ(keys[2][1], "3");
}

TEST_P(ProviderTest, KeepsWhenTheGuestPressedBesideWhenTheRequestCame) {
  // Pressed 95 s before the delta was taken (an outage), by a terminal whose
  // clock runs an hour late: what counts is the 95 s, on the server's clock.
  const std::int64_t arrival = LocalMs(2026, 12, 8, 21, 30, 0);
  const std::int64_t terminalClock = arrival - 3600 * 1000;
  Temp().ApplyUpdates(Delta({"Room1"}, nullptr, {std::string(16, '\x01'), 1, terminalClock, 95000}),
                      -1, "p", arrival);
  const auto rows =
      Decode(*Singers().GetRecords(-1, 1, "select CalledAt, PostedAt from roomcall").packet).rows;
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "2026-12-08 21:30:00");
  EXPECT_EQ(rows[0][1], "2026-12-08 21:28:25");
}

TEST_P(ProviderTest, AnswersTheRejectedRowsAndStoresTheOthers) {
  // ClientName is required: the second row is refused by the database.
  const auto answer =
      Temp().ApplyUpdates(Delta({"Room1", nullptr, "Room3"}), -1, "peer", UnixNowMs());
  ASSERT_TRUE(answer.errors.has_value());
  EXPECT_EQ(answer.errorCount, 1);
  PacketReader errors(*answer.errors);
  EXPECT_EQ(errors.Kind(), PacketKind::kErrors);
  ASSERT_EQ(errors.RowCount(), 1u);
  EXPECT_EQ(errors.Row(0).Integer(0), 2);  // the delta's second row
  EXPECT_FALSE(errors.Row(0).TextUtf8(1).empty());
  // The database's code: SQLite's NOT NULL constraint, MariaDB's "cannot be null".
  EXPECT_EQ(errors.Row(0).Integer(2), GetParam() == Flavour::Sqlite ? 1299 : 1048);
  EXPECT_EQ(errors.Row(0).TextUtf8(3), "insert into roomcall");
  EXPECT_EQ(RoomCalls().size(), 2u);
}

TEST_P(ProviderTest, StopsAtTheErrorLimitAndReturnsTheRowsNotTried) {
  const auto answer =
      Temp().ApplyUpdates(Delta({nullptr, "Room2", "Room3"}), 0, "peer", UnixNowMs());
  EXPECT_EQ(answer.errorCount, 3);
  PacketReader errors(*answer.errors);
  ASSERT_EQ(errors.RowCount(), 3u);
  EXPECT_EQ(errors.Row(1).Integer(2), kRowNotAttempted);
  EXPECT_TRUE(RoomCalls().empty());
}

TEST_P(ProviderTest, RefusesDeltasThatDoNotFitTheTable) {
  const auto answer = Temp().ApplyUpdates(Delta({"Room1"}, "Intruder"), -1, "peer", UnixNowMs());
  EXPECT_EQ(answer.errorCount, 1);
  EXPECT_THAT(PacketReader(*answer.errors).Row(0).TextUtf8(1),
              HasSubstr("Field 'Intruder' is not a column of roomcall"));
  EXPECT_THROW(Songs().ApplyUpdates(Delta({"Room1"}), -1, "peer", UnixNowMs()), SqlError);
  const auto data = Songs().GetRecords(-1, 1, "select 1");
  EXPECT_THROW(Temp().ApplyUpdates(*data.packet, -1, "peer", UnixNowMs()), std::exception);
  const std::vector<std::uint8_t> garbage(40, 0x5A);
  EXPECT_THROW(Temp().ApplyUpdates(garbage, -1, "peer", UnixNowMs()), std::exception);
  EXPECT_TRUE(RoomCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, ProviderTest,
                         ::testing::Values(Flavour::Sqlite, Flavour::MariaDb),
                         [](const auto& info) {
                           return info.param == Flavour::Sqlite ? "Sqlite" : "MariaDb";
                         });

}  // namespace
}  // namespace quor::server
