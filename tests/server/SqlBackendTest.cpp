// The behaviour both SQL backends share, run against a real SQLite file and a
// real mariadbd.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "server/SqlBackend.h"
#include "tests/server/SqlTestCatalogue.h"

namespace quor::server {
namespace {

using ::testing::AnyOf;
using testing::Flavour;
using ::testing::HasSubstr;
using testing::SqlTestCatalogue;

class SqlBackendTest : public ::testing::TestWithParam<Flavour> {
 protected:
  void SetUp() override {
    std::string whyNot;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    catalogue_ = SqlTestCatalogue::Create(GetParam(), info->name(), whyNot);
    if (!catalogue_) GTEST_SKIP() << "MariaDB tests skipped: " << whyNot;
    backend_ = catalogue_->Open();
    // The server does this once at start, before any session reads.
    backend_->EnsureRoomCallTable();
  }

  // Every row of a statement, each value as text ("<null>" for NULL).
  std::vector<std::vector<std::string>> All(const std::string& sql) {
    auto cursor = backend_->OpenReadOnly(sql);
    std::vector<std::vector<std::string>> rows;
    while (cursor->Step()) rows.push_back(RowText(*cursor));
    backend_->Idle();  // as a session does once its answer is out
    return rows;
  }

  static std::vector<std::string> RowText(const SqlCursor& cursor) {
    std::vector<std::string> row;
    for (std::size_t i = 0; i < cursor.Columns().size(); ++i) {
      if (cursor.IsNull(i)) {
        row.emplace_back("<null>");
        continue;
      }
      switch (cursor.Columns()[i].type) {
        case FieldType::Int32:
        case FieldType::Int64:
          row.push_back(std::to_string(cursor.Integer(i)));
          break;
        case FieldType::Real:
          row.push_back(std::to_string(cursor.Real(i)));
          break;
        default:
          row.emplace_back(cursor.Text(i));
      }
    }
    return row;
  }

  std::string SongCount() { return All("select count(*) from vodinfo")[0][0]; }

  std::string RefusalOf(const std::string& sql) {
    try {
      backend_->OpenReadOnly(sql);
    } catch (const SqlError& e) {
      return e.what();
    }
    return "(accepted)";
  }

  std::unique_ptr<SqlTestCatalogue> catalogue_;
  std::unique_ptr<SqlBackend> backend_;
};

TEST_P(SqlBackendTest, RefusesEveryStatementThatIsNotOneReadOnlyQuery) {
  EXPECT_THAT(RefusalOf("delete from vodinfo"), HasSubstr("read-only"));
  EXPECT_THAT(RefusalOf("select 1; delete from vodinfo"), HasSubstr("one statement"));
  EXPECT_THAT(RefusalOf("select 1;delete from vodinfo;"), HasSubstr("one statement"));
  EXPECT_THAT(RefusalOf("update vodinfo set SINGER='x'"), HasSubstr("read-only"));
  EXPECT_THAT(RefusalOf("insert into vodinfo (SINGID) values (1)"), HasSubstr("read-only"));
  EXPECT_NE(RefusalOf("drop table vodinfo"), "(accepted)");
  EXPECT_NE(RefusalOf("create table intruder (i integer)"), "(accepted)");
  EXPECT_NE(RefusalOf("begin"), "(accepted)");
  EXPECT_THAT(RefusalOf(""), HasSubstr("empty"));
  EXPECT_THAT(RefusalOf(" ; "), HasSubstr("empty"));
  EXPECT_THAT(RefusalOf("selec SINGID from vodinfo"), HasSubstr("SQL error"));

  EXPECT_EQ(SongCount(), "25");
  EXPECT_EQ(All("select SINGER from vodinfo where SINGID=10001")[0][0], "刘德华");
  EXPECT_THROW(All("select * from intruder"), SqlError);
}

// The server's own writes (the room request table, a room request, the
// console's tables and transactions) share the connection with the
// terminals' statements; a write that returns rows stays refused after each.
TEST_P(SqlBackendTest, AWriteThatReturnsRowsStaysRefusedAfterTheServersOwnWrites) {
  const std::string returning =
      "insert into vodinfo (SINGID, SINGNAME, SINGER) values (1, 'x', 'y') returning SINGID";
  const std::string deleting = "delete from vodinfo where SINGID=10001 returning SINGID";
  EXPECT_THAT(RefusalOf(returning), HasSubstr("read-only"));
  if (GetParam() == Flavour::MariaDb) {
    // A variable set for one statement cannot lift the transaction's rule
    // (nor is such a statement let through to the database at all).
    const auto refused = AnyOf(HasSubstr("read-only"), HasSubstr("SET STATEMENT"));
    EXPECT_THAT(RefusalOf("set statement tx_read_only=0 for " + returning), refused);
    backend_->Idle();  // as a session does once its answer is out
    EXPECT_THAT(RefusalOf("set statement tx_read_only=0 for " + deleting), refused);
    EXPECT_THAT(RefusalOf("select nosuchcolumn from vodinfo"), HasSubstr("SQL error"));
    EXPECT_THAT(RefusalOf("set statement tx_read_only=0 for " + returning), refused);
  }
  backend_->EnsureRoomCallTable();
  EXPECT_THAT(RefusalOf(deleting), HasSubstr("read-only"));
  backend_->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                      {SqlText{"Room1"}, SqlText{"2026-12-08 01:02:03"}, SqlText{"p"}});
  EXPECT_THAT(RefusalOf(returning), HasSubstr("read-only"));
  backend_->Exec("create table if not exists desk_probe (i integer)", {});
  backend_->Exec("insert into desk_probe (i) values (?)", {std::int64_t{7}});
  EXPECT_EQ(All("select SINGID from vodinfo where SINGID=10001").size(), 1u);
  backend_->Idle();
  EXPECT_THAT(RefusalOf(deleting), HasSubstr("read-only"));
  backend_->Transaction(
      [&] { backend_->Exec("insert into desk_probe (i) values (?)", {std::int64_t{8}}); });
  EXPECT_THROW(backend_->Transaction([&] {
    backend_->Exec("insert into desk_probe (i) values (?)", {std::int64_t{9}});
    throw SqlError("given up");
  }),
               SqlError);
  EXPECT_THROW(backend_->Exec("insert into nosuchtable (i) values (1)", {}), SqlError);
  EXPECT_THAT(RefusalOf(returning), HasSubstr("read-only"));
  EXPECT_EQ(SongCount(), "25");
  EXPECT_EQ(All("select SINGER from vodinfo where SINGID=10001")[0][0], "刘德华");
  EXPECT_EQ(All("select i from desk_probe order by i").size(), 2u);
  EXPECT_EQ(All("select ClientName from roomcall").size(), 1u);
}

TEST_P(SqlBackendTest, AcceptsOneQueryWithTrailingSeparators) {
  EXPECT_EQ(All("select SINGID from vodinfo where SINGID=10002;").size(), 1u);
  EXPECT_EQ(All("select SINGID from vodinfo where SINGID=10002 ;\n ; ").size(), 1u);
  // The lookup of the song path sends the number with a trailing blank.
  EXPECT_EQ(All("select PATH1 from vodinfo where SINGID=10003 ")[0][0], "V:/songs/10003.mpg");
}

TEST_P(SqlBackendTest, RunsTheTerminalsStatementsAsWritten) {
  // Double-quoted literals and column names in another letter case.
  EXPECT_EQ(All("select * from singer where SEX=\"男\"").size(), 1u);
  EXPECT_EQ(All("select * from singer where SEX=\"组合\"")[0][1], "五月天");
  EXPECT_EQ(All("select SINGID,SINGNAME,SINGER from vodinfo where SINGER=\"刘德华\"").size(), 12u);
  EXPECT_EQ(All("select SINGID,SINGNAME,SINGER from vodinfo where Singer=\"王菲\"").size(), 12u);
  EXPECT_EQ(All("select SINGID,SINGNAME,SINGER from vodinfo where TYPE='流行'").size(), 25u);
  EXPECT_EQ(All("select SINGID,SINGNAME,SINGER from vodinfo where FIRSTWORD like \"GQ2%\"").size(),
            7u);  // GQ2, GQ20 to GQ25
}

TEST_P(SqlBackendTest, ReportsColumnNamesAndTypesAsTheDatabaseDoes) {
  auto cursor = backend_->OpenReadOnly("select SINGID,SINGNAME,SINGER from vodinfo");
  const auto& columns = cursor->Columns();
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0].name, "SINGID");
  EXPECT_EQ(columns[0].type, catalogue_->IntegerType());
  EXPECT_EQ(columns[1].name, "SINGNAME");
  EXPECT_EQ(columns[1].type, FieldType::Text);
  EXPECT_EQ(columns[1].size, 50u);

  auto singer = backend_->OpenReadOnly("select * from singer");
  ASSERT_EQ(singer->Columns().size(), 3u);
  EXPECT_EQ(singer->Columns()[2].name, "Path");

  auto typed = backend_->OpenReadOnly("select small, big, r, t, b, 1 + 1 as two from typed");
  const auto& t = typed->Columns();
  EXPECT_EQ(t[0].type, catalogue_->IntegerType());
  EXPECT_EQ(t[1].type, FieldType::Int64);
  EXPECT_EQ(t[2].type, FieldType::Real);
  EXPECT_EQ(t[3].type, FieldType::Text);
  EXPECT_EQ(t[4].type, FieldType::Blob);
  EXPECT_EQ(t[5].name, "two");
  EXPECT_TRUE(t[5].type == FieldType::Int64 || t[5].type == FieldType::Int32);
}

TEST_P(SqlBackendTest, ReadsTypedValuesAndNulls) {
  auto cursor = backend_->OpenReadOnly("select small, big, r, t, b from typed");
  ASSERT_TRUE(cursor->Step());
  EXPECT_EQ(cursor->Integer(0), 7);
  EXPECT_EQ(cursor->Integer(1), 1099511627776LL);
  EXPECT_DOUBLE_EQ(cursor->Real(2), 2.5);
  EXPECT_EQ(cursor->Text(3), "中文");
  EXPECT_EQ(cursor->Text(4), std::string_view("\x00\xFF\x41", 3));
  for (std::size_t i = 0; i < 5; ++i) EXPECT_FALSE(cursor->IsNull(i));

  ASSERT_TRUE(cursor->Step());
  EXPECT_EQ(cursor->Integer(0), -3);
  EXPECT_EQ(cursor->Integer(1), -9000000000LL);
  EXPECT_DOUBLE_EQ(cursor->Real(2), -0.125);
  EXPECT_FALSE(cursor->IsNull(3));  // empty text is not NULL
  EXPECT_EQ(cursor->Text(3), "");

  ASSERT_TRUE(cursor->Step());
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_TRUE(cursor->IsNull(i)) << "column " << i;
    EXPECT_EQ(cursor->Text(i), "");
  }
  EXPECT_FALSE(cursor->Step());
  EXPECT_FALSE(cursor->Step());
}

TEST_P(SqlBackendTest, KeepsChineseTextAndTextOutsideGbkByteForByte) {
  const auto rows = All("select SINGNAME, SINGER from vodinfo order by SINGID");
  ASSERT_EQ(rows.size(), testing::kSongTitles.size());
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][0], testing::kSongTitles[i]);
  EXPECT_EQ(rows[24][0], testing::kOutsideGbkTitle);
  EXPECT_EQ(rows[24][1], "<null>");
  const auto found = All(std::string("select SINGID from vodinfo where SINGNAME=\"") +
                         testing::kOutsideGbkTitle + "\"");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0][0], "10025");
}

TEST_P(SqlBackendTest, PagesLiveCursorsBesideOtherStatementsAndInserts) {
  backend_->EnsureRoomCallTable();
  auto songs = backend_->OpenReadOnly("select SINGID from vodinfo order by SINGID");
  auto singers = backend_->OpenReadOnly("select SINGNAME from singer order by SINGNAME");
  std::vector<std::int64_t> seen;
  int page = 0;
  for (;;) {
    int n = 0;
    while (n < 7 && songs->Step()) {
      seen.push_back(songs->Integer(0));
      ++n;
    }
    if (n < 7) break;
    // Between two packets the session does other work on the same backend.
    EXPECT_EQ(All("select count(*) from singer")[0][0], "3");
    backend_->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                        {SqlText{"Room" + std::to_string(++page)}, SqlText{"2026-12-08 01:00:00"},
                         SqlText{"127.0.0.1:5000"}});
    ASSERT_TRUE(singers->Step());
  }
  ASSERT_EQ(seen.size(), 25u);
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], 10001 + std::int64_t(i));
  EXPECT_FALSE(songs->Step());
  EXPECT_EQ(All("select count(*) from roomcall")[0][0], "3");
}

TEST_P(SqlBackendTest, DroppingALiveCursorResetsTheStatement) {
  auto cursor = backend_->OpenReadOnly("select SINGID from vodinfo order by SINGID");
  ASSERT_TRUE(cursor->Step());
  cursor.reset();
  cursor = backend_->OpenReadOnly("select SINGID from vodinfo order by SINGID desc");
  ASSERT_TRUE(cursor->Step());
  EXPECT_EQ(cursor->Integer(0), 10025);
  backend_->EnsureRoomCallTable();
  cursor.reset();
  backend_->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                      {SqlText{"Room1"}, SqlText{"2026-12-08 01:00:00"}, SqlText{"peer"}});
  EXPECT_EQ(All("select ClientName from roomcall")[0][0], "Room1");
}

TEST_P(SqlBackendTest, CreatesTheRoomCallTableOnceAndInsertsBoundValues) {
  backend_->EnsureRoomCallTable();
  backend_->EnsureRoomCallTable();  // kept as it is when present
  EXPECT_EQ(backend_->TableColumns("roomcall"),
            (std::vector<std::string>{"ClientName", "CalledAt", "Peer", "PostedAt", "ChangeLog",
                                      "ChangeId"}));
  // Bound values: quotes and statement text go in as data.
  const std::string hostile = "Room'1\"; delete from vodinfo; --";
  backend_->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                      {SqlText{hostile}, SqlText{"2026-12-08 01:02:03"}, SqlText{"10.0.0.7:4000"}});
  const auto rows = All("select ClientName, CalledAt, Peer from roomcall");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], hostile);
  EXPECT_EQ(rows[0][1], "2026-12-08 01:02:03");
  EXPECT_EQ(rows[0][2], "10.0.0.7:4000");
  EXPECT_EQ(SongCount(), "25");
  // A constraint failure is an error of that row, not of the backend.
  EXPECT_THROW(
      backend_->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                          {std::monostate{}, SqlText{"2026-12-08 01:02:03"}, SqlText{"x"}}),
      SqlError);
  EXPECT_THROW(backend_->TableColumns("nosuchtable"), SqlError);
  EXPECT_THROW(backend_->InsertRow("roomcall", {"ClientName"}, {}), SqlError);
}

TEST_P(SqlBackendTest, KeepsEachChangeLogEntryOnceAndExtendsAnOlderTable) {
  const std::vector<std::string> columns = {"ClientName", "CalledAt", "Peer", "ChangeLog",
                                            "ChangeId"};
  auto insert = [&](const char* log, std::int64_t id) {
    backend_->InsertRow("roomcall", columns,
                        {SqlText{"Room1"}, SqlText{"2026-12-08 01:02:03"}, SqlText{"p"},
                         log == nullptr ? SqlValue{} : SqlValue{SqlText{log}}, SqlValue{id}});
  };
  insert("00112233445566778899aabbccddeeff", 1);
  insert("00112233445566778899aabbccddeeff", 2);
  insert("ffeeddccbbaa99887766554433221100", 1);
  try {
    insert("00112233445566778899aabbccddeeff", 1);
    FAIL() << "a second row for one change log entry went in";
  } catch (const SqlError& e) {
    EXPECT_TRUE(e.DuplicateKey()) << e.what();
  }
  // A NOT NULL failure is no duplicate.
  try {
    backend_->InsertRow("roomcall", {"ClientName", "CalledAt", "Peer"},
                        {std::monostate{}, SqlText{"2026-12-08 01:02:03"}, SqlText{"x"}});
    FAIL() << "a row without a name went in";
  } catch (const SqlError& e) {
    EXPECT_FALSE(e.DuplicateKey());
  }
  // Rows without a change log (older terminals) never collide.
  insert(nullptr, 1);
  insert(nullptr, 1);
  EXPECT_EQ(All("select count(*) from roomcall")[0][0], "5");
  EXPECT_TRUE(backend_->RowExists("roomcall", {"ChangeLog", "ChangeId"},
                                  {SqlText{"ffeeddccbbaa99887766554433221100"}, std::int64_t{1}}));
  EXPECT_FALSE(backend_->RowExists("roomcall", {"ChangeLog", "ChangeId"},
                                   {SqlText{"ffeeddccbbaa99887766554433221100"}, std::int64_t{2}}));

  // A table of an earlier release: its rows stay, the columns and the key
  // are added.
  catalogue_->Admin("drop table roomcall");
  catalogue_->Admin(
      "create table roomcall (ClientName varchar(64) not null, CalledAt varchar(19) not null, "
      "Peer varchar(64) not null)");
  catalogue_->Admin("insert into roomcall values ('Room9', '2026-01-01 00:00:00', 'old')");
  auto fresh = catalogue_->Open();
  fresh->EnsureRoomCallTable();
  EXPECT_EQ(fresh->TableColumns("roomcall"),
            (std::vector<std::string>{"ClientName", "CalledAt", "Peer", "PostedAt", "ChangeLog",
                                      "ChangeId"}));
  backend_ = std::move(fresh);
  insert("00112233445566778899aabbccddeeff", 7);
  EXPECT_THROW(insert("00112233445566778899aabbccddeeff", 7), SqlError);
  EXPECT_EQ(All("select count(*) from roomcall")[0][0], "2");
}

TEST_P(SqlBackendTest, AStatementCannotMakeAValueLongerThanTheBound) {
  backend_->SetValueLimits(64 << 10, 64 << 20);
  const bool sqlite = GetParam() == Flavour::Sqlite;
  // Each would take hundreds of megabytes of the server's memory; each fails
  // with the database's own words, or (MariaDB's repeat and group_concat)
  // gives nothing longer than the bound.
  const std::vector<std::string> costly =
      sqlite ? std::vector<std::string>{"select printf('%.*c', 5000000, 'x')",
                                        "select length(randomblob(900000000))",
                                        "select zeroblob(900000000)",
                                        "with recursive c(x) as (select 1 union all select x + 1 "
                                        "from c limit 30000) select group_concat(x) from c"}
             : std::vector<std::string>{"select repeat('x', 400000000)",
                                        "select length(repeat('x', 900000000))",
                                        "with recursive c(x) as (select 1 union all select x + 1 "
                                        "from c where x < 30000) select group_concat(x) from c"};
  for (const std::string& sql : costly) {
    try {
      auto cursor = backend_->OpenReadOnly(sql);
      while (cursor->Step()) {
        EXPECT_LE(cursor->Text(0).size(), std::size_t{64} << 10) << sql;
        if (!cursor->IsNull(0) && cursor->Columns()[0].type != FieldType::Text)
          EXPECT_LE(cursor->Integer(0), 64 << 10) << sql;
      }
    } catch (const SqlError& e) {
      EXPECT_THAT(e.what(), ::testing::AnyOf(HasSubstr("too big"), HasSubstr("max_allowed_packet"),
                                             HasSubstr("longer than")))
          << sql;
    }
  }
  EXPECT_EQ(SongCount(), "25");  // and the backend serves on
}

TEST_P(SqlBackendTest, StopsAStatementThatRunsPastTheTimeLimit) {
  backend_->SetStatementTimeLimit(300);
  const auto start = std::chrono::steady_clock::now();
  try {
    // 25^6 row combinations: minutes of work without the limit.
    auto cursor = backend_->OpenReadOnly(
        "select count(*) from vodinfo a, vodinfo b, vodinfo c, vodinfo d, vodinfo e, vodinfo f "
        "where a.SINGNAME <> f.SINGER");
    while (cursor->Step()) {
    }
    FAIL() << "the statement was not stopped";
  } catch (const SqlError& e) {
    EXPECT_THAT(e.what(), HasSubstr("longer than"));
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  backend_->SetStatementTimeLimit(kDefaultStatementTimeLimitMs);
  EXPECT_EQ(SongCount(), "25");  // the backend goes on working
}

INSTANTIATE_TEST_SUITE_P(Backends, SqlBackendTest,
                         ::testing::Values(Flavour::Sqlite, Flavour::MariaDb),
                         [](const auto& info) {
                           return info.param == Flavour::Sqlite ? "Sqlite" : "MariaDb";
                         });

}  // namespace
}  // namespace quor::server
